// Starts the command line it was given as a grandchild that inherits this program's standard
// handles, then exits at once with code 7 while the grandchild keeps running.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// The command line without this program's own name.
std::wstring RestOfCommandLine() {
    const wchar_t* rest = GetCommandLineW();
    if (*rest == L'"') {
        rest = std::wcschr(rest + 1, L'"');
        rest = rest ? rest + 1 : L"";
    } else {
        while (*rest && *rest != L' ' && *rest != L'\t') {
            ++rest;
        }
    }
    while (*rest == L' ' || *rest == L'\t') {
        ++rest;
    }
    return rest;
}

}  // namespace

int wmain() {
    std::wstring grandchild = RestOfCommandLine();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, grandchild.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &started)) {
        return 1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "parent\n", 7, &written, nullptr);
    return 7;
}
