#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/unique_handle.h"

struct StartedProcess {
    UniqueHandle process;
    DWORD pid = 0;
};

// Starts a program as its own process, the way the launcher would, each argument quoted so that
// CommandLineToArgvW gives it back unchanged. No process handle on failure.
StartedProcess StartProgram(const std::wstring& exePath, const std::vector<std::wstring>& arguments,
                            const std::wstring& workingDirectory = {});

// The first visible top-level window of that process with that class, or null after the timeout.
HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);
// Text of a window, or of a message box's label (id 0xFFFF).
std::wstring WindowText(HWND window);

// Posts a key press to a window, as the keyboard would deliver it.
void PressKey(HWND window, WPARAM virtualKey);

// The exit code, or nothing when the process is still running after the timeout.
std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs);
void KillProgram(const UniqueHandle& process);
