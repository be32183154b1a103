#pragma once

#include <windows.h>

#include <cstdint>

inline constexpr size_t kPathCapacity = MAX_PATH;

// The job the entry point hands to the worker; the worker owns and frees it.
struct UpdateJob {
    int32_t clientPid = 0;
    wchar_t archivePath[kPathCapacity] = {};
    wchar_t installDir[kPathCapacity] = {};
    wchar_t exeName[kPathCapacity] = {};
};
