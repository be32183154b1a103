// Points: one installation and its update each, in a folder of its own, run through the test
// build of the updater with faults of its own, then again without them, and held to the promises
// after every run; several run side by side.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "support/runner.h"

struct Point {
    std::vector<std::wstring> faults{};  // each faulted run's variable, "NAME=value"
    std::string row{};                   // of the table
    DWORD error = 0;                     // injected in the first run
    std::string ended{}, broken{};  // how the last faulted run ended; the promises any run broke
    std::wstring lastStatus{};      // of the last faulted run
    std::map<std::string, int> calls{};  // of each wrapped function, by the last run
    Tree start{};  // what the first run starts from, when not the layout: another point's `left`
    Tree left{};   // what the last faulted run left below the point's folder, folders too
};

// A next run from what an earlier point of the same layout left ends as that one's did: by those
// files, the calls of each that broke no promise.
struct NextRuns {
    std::mutex lock;
    std::map<std::string, std::map<std::string, int>> calls;
};

inline int Total(const Point& point) {
    return std::accumulate(point.calls.begin(), point.calls.end(), 0,
                           [](int sum, const auto& function) { return sum + function.second; });
}

// Runs the point's faulted runs, then a clean one, as long as the update is not complete, over a
// fresh scene of `layout` with `archive` downloaded.
inline void RunPoint(const Layout& layout, const std::wstring& archive, Point& point,
                     NextRuns* nextRuns = nullptr) {
    Scene scene(layout, archive);
    scene.Begin();
    if (!point.start.empty()) {
        scene.Restart(point.start);
    }
    std::string key;
    for (size_t run = 0; run <= point.faults.size(); ++run) {
        const bool next = run == point.faults.size();
        if (next && run && nextRuns) {
            point.left = scene.Left();
            for (const auto& [path, file] : point.left) {
                key += Utf8(path) + '\0' + std::to_string(file.attributes) + '\0' + file.content +
                       '\0';
            }
            const std::lock_guard lock(nextRuns->lock);
            if (nextRuns->calls.contains(key)) {
                point.calls = nextRuns->calls[key];
                break;
            }
        }
        const std::wstring fault = next ? L"" : point.faults[run];
        const Outcome outcome = RunUpdater(scene, {.env = {fault}}, run ? 0 : point.error, !next,
                                           fault.ends_with(L"+") || fault.find(L"+ ") != npos);
        point.calls = outcome.calls;
        point.broken +=
            outcome.broken + (next && run && outcome.code != 0u
                                  ? "4 next run failed: " + Utf8(outcome.shown.failure) +
                                        " (the archive tool: " + outcome.tool + "); "
                                  : "");
        if (run + 1 == point.faults.size() || point.faults.empty()) {
            point.ended = outcome.code == 0u   ? "success"
                          : outcome.code == 3u ? Utf8(outcome.shown.failure)
                          : outcome.code == 9u ? "killed"
                          : outcome.code == 10u
                              ? "power cut"
                              : "exit " + std::to_string(outcome.code.value_or(0));
            point.lastStatus = outcome.shown.status;
        }
        if (!key.empty() && outcome.broken.empty()) {
            const std::lock_guard lock(nextRuns->lock);
            nextRuns->calls[key] = point.calls;
        }
        if (outcome.code == 0u || scene.promises.Recorded()) {
            break;  // nothing left to complete, or no update left for the launcher to offer
        }
    }
}

// The table: for each row the points and how they ended, then each point that broke a promise
// with the variables of its runs.
inline std::string Table(const std::vector<Point>& points) {
    std::map<std::string, std::map<std::string, int>> rows;
    std::ostringstream table, broken;
    for (const Point& point : points) {
        std::string promises;  // the numbers of those broken
        for (size_t at = 0; at < point.broken.size(); at = point.broken.find("; ", at) + 2) {
            promises +=
                promises.find(point.broken[at]) == npos ? std::string(1, point.broken[at]) : "";
        }
        ++rows[point.row][point.ended + (promises.empty() ? "" : " BROKE " + promises)];
        if (!promises.empty()) {
            broken << point.row << ": " << point.ended << ":";
            for (const std::wstring& fault : point.faults) {
                broken << " " << Utf8(fault.empty() ? L"no fault" : fault) << ", then";
            }
            broken << " none: " << point.broken.substr(0, 400) << "\n";
        }
    }
    for (const auto& [row, endings] : rows) {
        table << row << ", "
              << std::accumulate(endings.begin(), endings.end(), 0,
                                 [](int sum, const auto& ending) { return sum + ending.second; })
              << " points:";
        for (const auto& [ended, count] : endings) {
            table << " " << count << " " << ended << ";";
        }
        table << "\n";
    }
    return table.str() + broken.str();
}
