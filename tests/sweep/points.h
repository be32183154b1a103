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

#include "support/promises.h"
#include "update/extraction_stage.h"

struct Layout {
    Tree install, update;                    // the update's files, below its top folder
    std::string perUser = kMissing.content;  // the launcher settings in the per-user folder
    Tree outside;  // a folder of the player's beside the installation, linked from data\audio\sub
};

struct Point {
    std::vector<std::wstring> faults{};  // each faulted run's variable, "NAME=value"
    std::string row{};                   // of the table
    DWORD error = 0;                     // injected in the first run
    std::string ended{}, broken{};  // how the last faulted run ended; the promises any run broke
    std::wstring lastStatus{};      // of the last faulted run
    std::map<std::string, int> calls{};  // of each wrapped function, by the last run
    Tree start{};  // what the first run starts from, when not the layout: another point's `left`
    Tree left{};   // what the last faulted run left below the point's folder, folders too
    bool lost = false;  // the last faulted run was a power cut that lost data
};

// A next run from what an earlier point of the same layout left ends as that one's did: by those
// files, the calls of each that broke no promise.
struct NextRuns {
    std::mutex lock;
    std::map<std::string, std::map<std::string, int>> calls;
};
constexpr size_t npos = std::string::npos;

inline int Total(const Point& point) {
    return std::accumulate(point.calls.begin(), point.calls.end(), 0,
                           [](int sum, const auto& function) { return sum + function.second; });
}

// Makes a link to a folder as a player's tool does, or removes it: under Wine a Linux symbolic
// link, which only a Linux program makes and removes; on Windows a junction.
inline void Link(const std::wstring& link, const std::wstring& target, bool make = true) {
    const auto unixName = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    const auto quoted = [&](const std::wstring& path) {
        return L" \"" + (unixName ? fs::path(unixName(path.c_str())).wstring() : path) + L"\"";
    };
    if (unixName || make) {
        StartProgram(
            unixName ? (make ? L"Z:\\bin\\ln" : L"Z:\\bin\\rm") : L"C:\\Windows\\System32\\cmd.exe",
            unixName ? (make ? L"-s" + quoted(target) : L"") + quoted(link)
                     : L"/c mklink /J" + quoted(link) + quoted(target));
    }
    WaitUntil([&] { return PathExists(link) == make; }, 10000);
}

// The runner's environment without its own test variables, and these.
inline std::wstring Environment(const std::vector<std::wstring>& variables) {
    std::wstring block;
    const wchar_t* inherited = GetEnvironmentStringsW();
    for (const wchar_t* variable = inherited; *variable; variable += wcslen(variable) + 1) {
        block += wcsncmp(variable, L"MOSSHARBOR_TEST_", 16) ? variable + std::wstring(1, 0) : L"";
    }
    FreeEnvironmentStringsW(const_cast<wchar_t*>(inherited));
    for (const std::wstring& variable : variables) {
        block += variable.empty() ? L"" : variable + L'\0';
    }
    return block;
}

// The failure the run showed, and the status it showed last.
inline std::pair<std::wstring, std::wstring> Shown(const std::wstring& log) {
    const std::string bytes = ReadTextFile(log);
    std::wistringstream lines(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    std::wstring failure, status;
    for (int percent = 0, failed = 0;
         lines >> percent >> failed && std::getline(lines >> std::ws, status);) {
        failure = failed ? status : failure;
    }
    return {failure, status};
}

// Invariants 3, 5 and 6 of one run that made a call fail with `error`: it ended in time as it
// may, a full disk or a refusal is told as what it is, and a hold of a moment is waited for.
inline std::string Behaved(std::optional<DWORD> code, DWORD error, const std::wstring& failure) {
    const bool disk = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    if (!code || (*code != 0 && *code != 3 && *code != 9 && *code != 10)) {
        return "3 exit " + (code ? std::to_string(*code) : "none") + "; ";
    }
    if (disk ? failure == kExtractionFailure || failure.starts_with(L"Windows refused") ||
                   failure.ends_with(L"Close the game and try again.")
             : error == ERROR_ACCESS_DENIED && failure.starts_with(L"Not enough disk space")) {
        return "5 told as " + Utf8(failure) + "; ";
    }
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    return held && *code == 3 ? "6 failed: " + Utf8(failure) + "; " : "";
}

// Runs the point's faulted runs, then a clean one, as long as the update is not complete, over a
// fresh copy of `layout` with `archive` downloaded, for a client `pid` that has exited.
inline void RunPoint(const Layout& layout, const std::wstring& archive, DWORD pid, Point& point,
                     NextRuns* nextRuns = nullptr) {
    ScratchFolder folder;
    Promises promises{.install = folder / L"Norvane Game",
                      .archive = folder / L"update 1.2.tar",
                      .roaming = folder / L"Roaming"};
    Plant(promises.install, layout.install);
    if (!layout.outside.empty()) {
        Plant(promises.outside = folder / L"Library", layout.outside);
        fs::create_directories(promises.install + L"\\data\\audio");
        Link(promises.install + L"\\data\\audio\\sub", promises.outside);
    }
    fs::create_directories(promises.roaming);
    if (layout.perUser != kMissing.content) {
        WriteTextFile(promises.roaming + L"\\Norvane\\norvane_launcher.cfg", layout.perUser);
    }
    CopyFileW(archive.c_str(), promises.archive.c_str(), FALSE);
    promises.Take(promises.install, layout.update);
    if (!point.start.empty()) {
        folder.Remove();
        Plant(folder.path, point.start);
    }
    const std::wstring log = folder / L"progress.log";
    std::string key;
    for (size_t run = 0; run <= point.faults.size(); ++run) {
        const bool next = run == point.faults.size();
        if (next && run && nextRuns) {
            point.left = Take(folder.path, {}, {}, true);
            std::erase_if(point.left, [](const auto& entry) {
                return entry.first.starts_with(L"progress.log");
            });
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
        fs::remove(log);
        fs::remove(log + L".lost");
        const UniqueHandle updater = StartProgram(
            TestProgramPath(L"mossharbor-updater-under-test.exe"),
            std::to_wstring(pid) + L" \"" + promises.archive + L"\" \"" + promises.install +
                L"\" none.exe",
            {},
            Environment({L"MOSSHARBOR_TEST_PROGRESS_LOG=" + log,
                         L"MOSSHARBOR_TEST_ROAMING_FOLDER=" + promises.roaming,
                         L"MOSSHARBOR_TEST_EXIT_ON_FAILURE=1", next ? L"" : point.faults[run]})
                .c_str());
        const std::optional<DWORD> code = WaitForExitCode(updater, 60000);
        KillProgram(updater);
        const auto [failure, status] = Shown(log);
        const Ended ended = code == 0u   ? Ended::kSuccess
                            : code == 3u ? Ended::kFailure
                                         : Ended::kCut;
        const std::string broken =
            Behaved(code, run ? 0 : point.error, failure) +
            (next && run && code != 0u ? "4 next run failed: " + Utf8(failure) + "; " : "") +
            promises.Broken(ended, !next);
        point.broken += broken;
        if (run + 1 == point.faults.size() || point.faults.empty()) {
            point.ended = ended == Ended::kSuccess   ? "success"
                          : ended == Ended::kFailure ? Utf8(failure)
                          : code == 9u               ? "killed"
                          : code == 10u              ? "power cut"
                                                     : "exit " + std::to_string(code.value_or(0));
            point.lastStatus = status;
            point.lost = PathExists(log + L".lost");
        }
        std::istringstream calls(ReadTextFile(log + L".calls"));
        point.calls.clear();
        for (std::string function; calls >> function >> point.calls[function];) {
        }
        if (!key.empty() && broken.empty()) {
            const std::lock_guard lock(nextRuns->lock);
            nextRuns->calls[key] = point.calls;
        }
        if (ended == Ended::kSuccess || promises.Recorded()) {
            break;  // nothing left to complete, or no update left for the launcher to offer
        }
    }
    if (!layout.outside.empty()) {  // which the tree walks do not remove under Wine
        Link(promises.install + L"\\data\\audio\\sub", {}, false);
    }
}

// The id of a client that has exited, whose process the updater can still open: it then waits for
// nothing.
inline DWORD ExitedClient() {
    static const UniqueHandle exited =
        StartProgram(TestProgramPath(L"fake-client.exe"),
                     L"--until-file \"" + TestProgramPath(L"fake-client.exe") + L"\"");
    WaitForExitCode(exited, 10000);
    return GetProcessId(exited.Get());
}

// run(i) for every i below `count`, `together` at a time.
inline void RunSideBySide(size_t count, const std::function<void(size_t)>& run, int together = 4) {
    std::atomic<size_t> next = 0;
    std::vector<std::thread> runners;
    for (int i = 0; i < together; ++i) {
        runners.emplace_back([&] {
            for (size_t mine; (mine = next++) < count;) {
                run(mine);
            }
        });
    }
    for (std::thread& runner : runners) {
        runner.join();
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
