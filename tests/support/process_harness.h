#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/unique_handle.h"

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

struct StartedProcess {
    UniqueHandle process;
    DWORD pid = 0;
};

// Starts a program as its own process, the way the launcher would, with its arguments quoted.
// The child inherits this process's environment. No process handle on failure.
StartedProcess StartProgram(const std::wstring& exePath, const std::vector<std::wstring>& arguments,
                            const std::wstring& workingDirectory = {});

// The first visible top-level window of that process with that class, or null after the timeout.
HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);

struct MessageBoxText {
    std::wstring caption;
    std::wstring text;
    HWND box = nullptr;
};
// Waits for a message box of the process and reads its caption and text.
std::optional<MessageBoxText> WaitForMessageBox(DWORD pid, DWORD timeoutMs);
// Presses the box's OK button.
void DismissMessageBox(HWND box);

// Posts a key press to a window, as the keyboard would deliver it.
void PressKey(HWND window, WPARAM virtualKey);

// The exit code, or nothing when the process is still running after the timeout.
std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs);
// Ends a process that a failed test left running.
void KillProgram(const UniqueHandle& process);
