#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "tools/unique_handle.h"

// A fresh, empty folder below the system's temporary folder, removed again at destruction.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

  private:
    std::wstring path_;
};

// Creates the file and every missing folder above it.
void WriteTextFile(const std::wstring& path, const std::string& content);
// The content, or "<missing>".
std::string ReadTextFile(const std::wstring& path);
bool PathExists(const std::wstring& path);
size_t EntryCount(const std::wstring& directory);
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Test programs sit beside the test executable; the shipping updater one folder up.
std::wstring TestProgramPath(const std::wstring& exeName);
std::wstring UpdaterExePath();

// Writes an archive of `members` of `tree` with the system's own archive tool. "." lets the tool
// read the names itself, so none passes through its ANSI command line. `options` picks the format.
bool MakeArchive(const std::wstring& tree, const std::wstring& archive, const std::wstring& options,
                 const std::wstring& members = L".");

struct StartedProcess {
    UniqueHandle process;
    DWORD pid = 0;
};
// Starts a program as its own process, the way the launcher would, with `output` (inheritable)
// as its standard output if given; no handle on failure.
StartedProcess StartProgram(const std::wstring& exePath, const std::wstring& arguments,
                            const std::wstring& workingDirectory = {}, HANDLE output = nullptr);
// The exit code, or nothing when the process is still running after the timeout.
std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs);
void KillProgram(const UniqueHandle& process);

// The first visible top-level window of that process with that class, or null after the timeout.
HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);
// Text of a window, or of a message box's label.
std::wstring WindowText(HWND window);
