#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Shipped in the update; renamed to the current version file once the update is complete.
inline constexpr wchar_t kPendingVersionFileName[] = L"norvane_client_pending_version.txt";

// The paths the worker forms below the installation, every one in the `\\?\` form so that a file
// deep in the game's tree is reached at any length. Growable: none is ever cut.
struct WorkingPaths {
    std::wstring installDir;
    // Where the extraction and every run's backup live.
    std::wstring updateDir;
    std::wstring extractionDir;
    std::wstring backupDir;
    // Where files that running programs keep are renamed to make way for the update's.
    std::wstring replacedDir;
    std::wstring pendingVersionFile;
    std::wstring currentVersionFile;
    // The extraction folder in its ordinary form: a process's current folder takes no `\\?\`.
    std::wstring toolDirectory;
};

// `fullInstallDir` is a full path, as GetFullPathNameW gives it.
WorkingPaths FormWorkingPaths(std::wstring_view fullInstallDir, int32_t clientPid);

// The `\\?\` form of a full path: `\\?\C:\...`, or `\\?\UNC\server\share\...` for a share. Such a
// path is taken literally, so runs of backslashes become one and a trailing one is dropped.
std::wstring ExtendedLengthPath(std::wstring_view fullPath);

// The full, normalised form of `path`, relative to the current folder; empty on failure.
std::wstring FullPath(const wchar_t* path);
