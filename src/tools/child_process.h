#pragma once

#include <windows.h>

#include <functional>

// One line of a child's output, without its terminator; valid only during the call.
using LineCallback = std::function<void(const wchar_t* line)>;

// What to start. The program is named by its full path so no search can pick up a planted copy.
struct ChildLaunch {
    const wchar_t* programPath = nullptr;
    const wchar_t* commandLine = nullptr;
    // An inheritable handle the child reads as its standard input, or null for none.
    HANDLE standardInput = nullptr;
    // Null: the child starts in the updater's own current directory.
    const wchar_t* workingDirectory = nullptr;
};

// What RunProcess returns instead of an exit code: the child could not be started (no such
// program, or Windows refused to run it), or it ran but its exit code is not known.
inline constexpr int kChildNotStarted = -1;
inline constexpr int kChildExitUnknown = -2;

// Runs a hidden child and waits for it. With a non-empty callback the child's stdout and stderr
// arrive line by line through one pipe, read to their end before the wait. Returns the exit code
// read as signed, or one of the two codes above.
int RunProcess(const ChildLaunch& launch, LineCallback onLine);
