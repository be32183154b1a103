#pragma once

#include <windows.h>

#include <optional>
#include <string>

// What the volume holding `path` (an existing folder, in its ordinary form) can store. Game drives
// are not all NTFS: exFAT is the default for large external drives, and FAT32 for USB sticks.
// Where the platform cannot tell, NTFS's answers.

// No hard links on exFAT or FAT32: the archive tool cannot unpack a hard-linked member there.
bool VolumeHoldsHardLinks(const std::wstring& path);

// Every file takes whole clusters: NTFS's usual 4 KiB, 128 KiB on an exFAT drive above 32 GB.
ULONGLONG VolumeClusterBytes(const std::wstring& path);
// The serial number of the volume that holds `path`, a file or a folder, its links followed: a
// move between two paths of one volume is a rename, which takes no space. Nothing when it cannot
// be told.
std::optional<DWORD> VolumeSerial(const std::wstring& path);
