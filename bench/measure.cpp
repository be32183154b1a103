// Starts one program, waits for it and prints its wall time and peak working set:
//   measure.exe [--client CLIENT_EXE] PROGRAM [ARGUMENTS...]
// With --client, CLIENT_EXE is started and waited for first, and every argument "{pid}" becomes
// its process id. Its handle stays open meanwhile, so the id stays valid and names a process
// that has already exited. Wine's process ids are not Linux ones, which is why this is a
// Windows program. CPU times are not asked for here: Wine answers GetProcessTimes with the
// caller's own, so the measured programs report theirs themselves.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tools/unique_handle.h"

namespace {

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD id = 0;
};

bool Start(std::wstring commandLine, Started& started) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    started.process.Reset(info.hProcess);
    started.thread.Reset(info.hThread);
    started.id = info.dwProcessId;
    return true;
}

// Every argument in double quotes: the bench's paths hold no quotes of their own.
std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

constexpr DWORD kSampleMs = 10;

// Wine reads the peak from the live process only, so it is sampled while the process runs; the
// peak never falls, and the last sample misses at most one interval.
SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    return GetProcessMemoryInfo(process, &memory, sizeof(memory)) ? memory.PeakWorkingSetSize : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    Started client;
    if (argc > 2 && std::wstring(argv[1]) == L"--client") {
        if (!Start(Quoted(argv[2]), client)) {
            std::fprintf(stderr, "measure: cannot start the client\n");
            return 2;
        }
        WaitForSingleObject(client.process.Get(), INFINITE);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: measure.exe [--client CLIENT_EXE] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring commandLine;
    for (int i = first; i < argc; ++i) {
        const std::wstring argument = argv[i];
        commandLine += (i > first ? L" " : L"");
        commandLine += argument == L"{pid}" ? std::to_wstring(client.id) : Quoted(argument);
    }

    LARGE_INTEGER frequency;
    LARGE_INTEGER begin;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    Started measured;
    if (!Start(commandLine, measured)) {
        std::fprintf(stderr, "measure: cannot start %ls\n", argv[first]);
        return 2;
    }
    SIZE_T peak = 0;
    while (WaitForSingleObject(measured.process.Get(), kSampleMs) == WAIT_TIMEOUT) {
        peak = std::max(peak, PeakWorkingSet(measured.process.Get()));
    }
    QueryPerformanceCounter(&end);
    peak = std::max(peak, PeakWorkingSet(measured.process.Get()));  // complete on Windows

    DWORD exitCode = 0;
    GetExitCodeProcess(measured.process.Get(), &exitCode);

    const double wallMs =
        static_cast<double>(end.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
    std::printf("wall_ms=%.1f peak_ws_kb=%llu exit=%lu\n", wallMs,
                static_cast<unsigned long long>(peak / 1024), static_cast<unsigned long>(exitCode));
    return 0;
}
