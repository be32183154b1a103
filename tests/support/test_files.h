#pragma once

#include <string>
#include <vector>

#include "utf8_text.h"

// A fresh, empty folder below the system's temporary folder, removed again at destruction.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // Path of a name below the folder, joined with one backslash.
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

  private:
    std::wstring path_;
};

// Creates the file and every missing folder above it.
void WriteTextFile(const std::wstring& path, const std::string& content);
std::string ReadTextFile(const std::wstring& path);
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
void MakeDirectories(const std::wstring& path);
// Removes a tree with everything below it, read-only files included.
void RemoveTreeForTests(const std::wstring& path);

// Folder of the running test program; test programs and the updater are found from here.
std::wstring TestProgramFolder();
std::wstring TestProgramPath(const std::wstring& exeName);
// The updater as the launcher starts it, and the test build that differs only in its
// per-user folder.
std::wstring UpdaterExePath();
std::wstring UpdaterUnderTestExePath();
