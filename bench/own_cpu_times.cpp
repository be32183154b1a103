#include "own_cpu_times.h"

#include <windows.h>

#include <cstdio>

namespace {

double Milliseconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}

}  // namespace

std::string OwnCpuTimes() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel = {};
    FILETIME user = {};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char text[64];
    std::snprintf(text, sizeof(text), "user_ms=%.0f kernel_ms=%.0f", Milliseconds(user),
                  Milliseconds(kernel));
    return text;
}
