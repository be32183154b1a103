#pragma once

#include <windows.h>

#include <string>

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
void MakeDirectories(const std::wstring& path);
size_t EntryCount(const std::wstring& directory);

// Test programs sit beside the test executable; the shipping updater one folder up.
std::wstring TestProgramPath(const std::wstring& exeName);
std::wstring UpdaterExePath();

// Writes an archive of everything in `tree` with the system's own archive tool, which reads the
// tree itself, so no name passes through its ANSI command line. `options` picks the format.
bool MakeArchive(const std::wstring& tree, const std::wstring& archive,
                 const std::wstring& options);
