#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "tools/directory_tree.h"
#include "tools/unique_handle.h"

namespace fs = std::filesystem;
constexpr size_t npos = std::string::npos;

// A fresh, empty folder below the system's temporary folder, removed again at destruction with
// the updater's own tree walk: the runtime's stops at 260 characters, and the tests make read-only
// files as players do.
struct ScratchFolder {
    ScratchFolder() {
        Remove();  // left by an earlier run killed under the same process id
        fs::create_directories(path);
    }
    ~ScratchFolder() { Remove(); }
    void Remove() const { DeleteTree(L"\\\\?\\" + path); }
    std::wstring operator/(const std::wstring& relative) const { return path + L"\\" + relative; }

    inline static std::atomic<int> created{0};
    std::wstring path =
        (fs::temp_directory_path() /
         (L"mh-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(created++)))
            .wstring();
};

// Creates the file and every missing folder above it.
inline void WriteTextFile(const std::wstring& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(fs::path(path), std::ios::binary) << content;
}

// The content, or "<missing>".
inline std::string ReadTextFile(const std::wstring& path) {
    std::ifstream file(fs::path(path), std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

inline bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !condition(); Sleep(20)) {
        if (GetTickCount64() > deadline) {
            return false;
        }
    }
    return true;
}

// Test programs sit beside the test executable, the shipping updater one folder up.
inline std::wstring TestProgramPath(const std::wstring& exeName) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (fs::path(self).parent_path() / exeName).wstring();
}

// Starts a program as its own process, the way the launcher would; no handle on failure.
inline UniqueHandle StartProgram(const std::wstring& exePath, const std::wstring& arguments,
                                 const std::wstring& folder = {}, const wchar_t* environment = {}) {
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // Under load Wine's new process now and then ends before it has run a line of the program,
    // and CreateProcessW says ERROR_INTERNAL_ERROR (the new process "did not succeed" with exit
    // code 0, in ntdll's NtCreateUserProcess): nothing of the program ran, so it is started anew.
    for (int attempt = 0;
         !CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                         CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, (void*)environment,
                         folder.empty() ? nullptr : folder.c_str(), &startup, &info);
         ++attempt) {
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 5) {
            return {};
        }
    }
    const UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

// The exit code, or nothing when the process is still running after the timeout.
inline std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs) {
    DWORD code = 0;
    return WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0 &&
                   GetExitCodeProcess(process.Get(), &code)
               ? std::optional(code)
               : std::nullopt;
}

inline void KillProgram(const UniqueHandle& process) {
    TerminateProcess(process.Get(), 99);
    WaitForSingleObject(process.Get(), 5000);
}

// Writes an archive of `members` of `tree` with the system's own archive tool. No name passes
// through its ANSI command line: "." lets it read them itself, and it writes beside `tree` under
// a plain name that is then moved to `archive`. `options` picks the format.
inline bool MakeArchive(const std::wstring& tree, const std::wstring& archive,
                        const std::wstring& options, const std::wstring& members = L".") {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const UniqueHandle tool = StartProgram(std::wstring(system) + L"\\tar.exe",
                                           options + L" -f ..\\made.tar " + members, tree);
    fs::create_directories(fs::path(archive).parent_path());
    return WaitForExitCode(tool, 60000) == 0u &&
           MoveFileExW((tree + L"\\..\\made.tar").c_str(), archive.c_str(),
                       MOVEFILE_REPLACE_EXISTING);
}

// The first visible top-level window of that process with that class, or null after the timeout.
inline HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window = nullptr;
                 !found && (window = FindWindowExW(nullptr, window, className, nullptr));) {
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                found = owner == pid && IsWindowVisible(window) ? window : nullptr;
            }
            return found != nullptr;
        },
        timeoutMs);
    return found;
}
