#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Called once for every file CopyTree tries to copy, whether the copy succeeded or not.
using FileCallback = std::function<void()>;

// Copies every file below `source` to the same relative path below `destination`, overwriting,
// depth first in listing order. Creates `destination` (one level) first, even when `source`
// is missing. Directory links are skipped. A file held by another process is retried for a
// short while. Returns how many files could not be copied.
int CopyTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile);

// The same walk as CopyTree, but each file is moved over its place, a rename where both trees
// share a volume, a copy and delete where they do not. A file in the way that a running program
// keeps is renamed into `asideFolder` (same volume; empty: never). A file that cannot be moved
// stays in `source`. Returns how many files could not be moved.
int MoveTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile,
             const std::wstring& asideFolder);

// Files below `directory`, an empty directory counting 1; 0 when it cannot be listed.
// Directory links are not counted.
int CountFiles(const std::wstring& directory);

// Removes `path`, a file or a folder with everything below it; a directory link is removed, not
// entered, and a read-only file is deleted all the same. True when nothing of it is left.
bool DeleteTree(const std::wstring& path);

// What a file of `bytes` takes on a disk: whole clusters of NTFS's usual 4 KiB, so that a folder
// of many small files is not taken for nearly nothing.
ULONGLONG SpaceTaken(ULONGLONG bytes);

// The space the files below `directory` take, as SpaceTaken counts it; 0 when it cannot be listed.
// Directory links are not followed.
ULONGLONG TreeSpace(const std::wstring& directory);
