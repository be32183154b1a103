#pragma once

#include <windows.h>

// What a listing entry is to the tree walks. A link is never entered: the tree it points to
// may lie outside the one being copied, counted or deleted.
enum class EntryKind { kFile, kDirectory, kDirectoryLink };

// Exactly "." and ".."; ".config" or "..x" are ordinary names.
bool IsDotOrDotDot(const wchar_t* name);

// From the attributes the listing reported for the entry.
EntryKind ClassifyEntry(DWORD attributes);

// A directory that can be listed counts at least 1, so the callers can divide by it.
int CountOfListedDirectory(int entriesBelow);
