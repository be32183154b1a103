#include "bench_counters.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwctype>
#include <string>

#include "own_cpu_times.h"

namespace {

std::atomic<long> posts{0};
std::atomic<long> paints{0};

// Worker thread only, like the status text it follows.
std::wstring lastStatus;
std::string stageTimes;

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

void NoteStage(const wchar_t* status, double ms) {
    std::string key;
    for (const wchar_t* c = status; *c != 0 && *c != L' '; ++c) {
        key += static_cast<char>(std::towlower(*c));
    }
    char text[64];
    std::snprintf(text, sizeof(text), " at_%s=%.0f", key.c_str(), ms);
    stageTimes += text;
}

// Written from a static destructor: the entry point returns normally once the window closes.
struct CountsAtExit {
    ~CountsAtExit() {
        wchar_t path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"MOSSHARBOR_BENCH_COUNTS", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        NoteStage(L"exit", MsSinceProcessStart());
        FILE* file = _wfopen(path, L"w");
        if (file != nullptr) {
            std::fprintf(file, "posts=%ld paints=%ld %s%s\n", posts.load(), paints.load(),
                         OwnCpuTimes().c_str(), stageTimes.c_str());
            std::fclose(file);
        }
    }
} countsAtExit;

}  // namespace

void CountRepaintPost(const ProgressState& state) {
    posts.fetch_add(1, std::memory_order_relaxed);
    // The worker is the text's only writer, and this runs on its thread: no lock needed.
    if (lastStatus != state.statusText) {
        lastStatus = state.statusText;
        NoteStage(state.statusText, MsSinceProcessStart());
    }
}

void CountPaint() {
    paints.fetch_add(1, std::memory_order_relaxed);
}
