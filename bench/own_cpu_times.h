#pragma once

#include <string>

// "user_ms=N kernel_ms=N" for the calling process. Wine answers GetProcessTimes with the
// caller's own times whatever process is asked about, so the bench has each measured program
// report its own at exit.
std::string OwnCpuTimes();
