#include "support/process_harness.h"

namespace {

struct WindowSearch {
    DWORD pid;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[256] = {};
    GetClassNameW(window, className, 256);
    if (owner == search->pid && wcscmp(className, search->className) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

StartedProcess StartProgram(const std::wstring& exePath, const std::vector<std::wstring>& arguments,
                            const std::wstring& workingDirectory) {
    std::wstring commandLine = QuoteArgument(exePath);
    for (const std::wstring& argument : arguments) {
        commandLine += L" " + QuoteArgument(argument);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    StartedProcess started;
    if (CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                       &info)) {
        const UniqueHandle thread(info.hThread);
        started.process.Reset(info.hProcess);
        started.pid = info.dwProcessId;
    }
    return started;
}

HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        WindowSearch search{pid, className, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    const HWND label = GetDlgItem(window, 0xFFFF);
    GetWindowTextW(label != nullptr ? label : window, text, 1024);
    return text;
}

void PressKey(HWND window, WPARAM virtualKey) {
    PostMessageW(window, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(window, WM_KEYUP, virtualKey, 0xC0000001);
}

std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs) {
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.Get(), &code)) {
        return std::nullopt;
    }
    return code;
}

void KillProgram(const UniqueHandle& process) {
    if (process) {
        TerminateProcess(process.Get(), 99);
        WaitForSingleObject(process.Get(), 5000);
    }
}
