#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Called once for every file MoveTree tries to move, whether the move succeeded or not.
using FileCallback = std::function<void()>;

// Moves every file below `source` over the same relative path below `destination`, depth first
// in listing order: a rename where both trees share a volume, a copy and delete where they do not
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | `extraFlags`). Creates
// `destination` (one level) first, even when `source` is missing. Directory links below `source`
// are skipped. A file held by another process is retried for a short while. A file in the way
// that a running program keeps is renamed into `asideFolder` (same volume; empty: never). A file
// that cannot be moved stays in `source`.
struct TreeMove {
    int failed = 0;                    // files that could not be moved
    DWORD firstError = ERROR_SUCCESS;  // why the first of them could not
};
TreeMove MoveTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile,
                  const std::wstring& asideFolder, DWORD extraFlags);

// Writes every file below `directory` from the cache to the disk. ERROR_SUCCESS, or why the first
// that could not be, or the first folder that could not be listed.
DWORD FlushTree(const std::wstring& directory);
// Files below `directory`, an empty directory counting 1; 0 when it cannot be listed.
// Directory links are not counted.
int CountFiles(const std::wstring& directory);

// Removes `path`, a file or a folder with everything below it; a directory link is removed, not
// entered, and a read-only file is deleted all the same. True when nothing of it is left.
bool DeleteTree(const std::wstring& path);

// What a file of `bytes` takes on a disk of `clusterBytes` clusters: whole clusters, so that a
// folder of many small files is not taken for nearly nothing.
ULONGLONG SpaceTaken(ULONGLONG bytes, ULONGLONG clusterBytes);
