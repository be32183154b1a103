#include "repaint_tally.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>

#include "own_cpu_times.h"

namespace {

// From the process's creation, so the stage times include the updater's own start-up.
double MsSinceProcessStart() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}

std::string StageMark(const wchar_t* status, double ms) {
    std::string key;
    for (const wchar_t* c = status; *c != 0 && *c != L' '; ++c) {
        key += static_cast<char>(std::towlower(*c));
    }
    char text[64];
    std::snprintf(text, sizeof(text), " at_%s=%.0f", key.c_str(), ms);
    return text;
}

}  // namespace

void TallyRepaintPost(const ProgressState& state, void* context) {
    auto& tally = *static_cast<RepaintTally*>(context);
    tally.posts.fetch_add(1, std::memory_order_relaxed);
    // The worker is the text's only writer and this runs on its thread, so no lock is needed.
    if (tally.lastStatus != state.statusText) {
        tally.lastStatus = state.statusText;
        tally.stageTimes += StageMark(state.statusText, MsSinceProcessStart());
    }
}

void WriteRepaintTally(const RepaintTally& tally) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"MOSSHARBOR_BENCH_COUNTS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    const std::string exit = StageMark(L"exit", MsSinceProcessStart());
    FILE* file = _wfopen(path, L"w");
    if (file == nullptr) {
        return;
    }
    std::fprintf(file, "posts=%ld paints=%ld %s%s%s\n", tally.posts.load(), tally.paints,
                 OwnCpuTimes().c_str(), tally.stageTimes.c_str(), exit.c_str());
    std::fclose(file);
}
