#pragma once

#include <windows.h>

#include <string>

#include "tools/held_file_retry.h"

// Windows refuses to overwrite a file with any of these: players mark settings read-only so a
// game cannot reset them, and Explorer writes a hidden, system desktop.ini into folders they
// customise.
inline constexpr DWORD kProtectingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The attributes to give a file so that it can be overwritten; never 0, which means "unchanged".
DWORD WithoutProtection(DWORD attributes);

// Where the `attempt`-th try puts a file aside: names that a file an earlier run put aside still
// holds are skipped by trying the next.
std::wstring AsideName(const std::wstring& asideFolder, unsigned attempt);

// CopyFileW over `destination`, retried while either file is held. A protected destination is
// replaced too, and the copy ends with `sourceAttributes` (as the source's listing gave them).
bool ReplaceByCopy(const std::wstring& source, DWORD sourceAttributes,
                   const std::wstring& destination, RetryBudget& budget);

// Renames `path`, a file or a folder, into `asideFolder` under the first free name; empty when it
// cannot be moved.
std::wstring PutAside(const std::wstring& path, const std::wstring& asideFolder);
// MoveFileExW with MOVEFILE_REPLACE_EXISTING and `extraFlags`, retried while either file is held.
// A protected destination is replaced too. Given an `asideFolder` on the same volume, a
// destination that still cannot be replaced, such as the file of a running program or a folder
// (never one of the player's: the caller's to make sure), is renamed into it first and put back if
// the move fails all the same. ERROR_SUCCESS, or the error that made it fail.
DWORD ReplaceByMove(const std::wstring& source, const std::wstring& destination, DWORD extraFlags,
                    const std::wstring& asideFolder, RetryBudget& budget);

// Writes what the cache holds of the file at `path` (of `attributes`) to the disk, a read-only
// one too, retried while it is held. ERROR_SUCCESS, or the error that made it fail.
DWORD FlushToDisk(const std::wstring& path, DWORD attributes, RetryBudget& budget);
// Copies `source` to `destination`, where nothing is yet, so that no one ever finds it there
// half-written: copied under a temporary name, flushed to disk, then renamed, so that a power cut
// leaves either no `destination` or a whole one, never one that reads as zeros.
bool CopyIntoPlace(const std::wstring& source, const std::wstring& destination);
