#pragma once

#include <windows.h>

#include <string>

#include "tools/tree_entry.h"
#include "tools/unique_handle.h"

// Calls `visit(name, attributes)` for every entry of `directory` in listing order, "." and ".."
// left out. False when the directory cannot be listed.
template <typename Visit>
bool ForEachEntry(const std::wstring& directory, Visit visit) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!listing) {
        return false;
    }
    do {
        if (!IsDotOrDotDot(entry.cFileName)) {
            visit(std::wstring(entry.cFileName), entry.dwFileAttributes);
        }
    } while (FindNextFileW(listing.Get(), &entry));
    return true;
}
