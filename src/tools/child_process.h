#pragma once

#include <functional>

// One line of a child's output, without its terminator; valid only during the call.
using LineCallback = std::function<void(const wchar_t* line)>;

// Runs a command line as a hidden child and waits for it. With a non-empty callback the
// child's stdout and stderr arrive line by line through one pipe, read to their end before the
// wait. Returns the exit code read as signed, or -1 when the child cannot be started.
int RunProcess(const wchar_t* commandLine, LineCallback onLine);
