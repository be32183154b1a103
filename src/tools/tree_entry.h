#pragma once

#include <windows.h>

// What a listing entry is to the tree walks. A link is never entered: the tree it points to
// may lie outside the one being copied, counted or deleted.
enum class EntryKind { kFile, kDirectory, kDirectoryLink };

// Exactly "." and ".."; ".config" or "..x" are ordinary names.
bool IsDotOrDotDot(const wchar_t* name);

// From the attributes and the reparse tag the listing reported for the entry. Only a name
// surrogate (a junction or a symbolic link) is a link: every folder of a cloud-synced tree
// (OneDrive's Files On-Demand) is a reparse point too, and holds the player's files like any
// other. A tag of 0, which Windows never reports but Wine does for its links, counts as a link.
EntryKind ClassifyEntry(DWORD attributes, DWORD reparseTag);

// A directory that can be listed counts at least 1, so the callers can divide by it.
int CountOfListedDirectory(int entriesBelow);
