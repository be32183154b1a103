#pragma once

#include <windows.h>

// The whole life of the process after its entry point: the command line, the window, the worker
// and `runMessageLoop`, which returns once the window is gone. Returns the exit code: 1 for a
// refused command line or no window, else 0.
int RunUpdater(HINSTANCE instance, void (*runMessageLoop)(HWND window));
