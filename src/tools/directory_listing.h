#pragma once

#include <windows.h>

#include <string>

#include "tools/tree_entry.h"
#include "tools/unique_handle.h"

// One entry as the listing reported it.
struct ListedEntry {
    std::wstring name;
    DWORD attributes = 0;
    EntryKind kind = EntryKind::kFile;
    ULONGLONG bytes = 0;
};

inline ListedEntry ToListedEntry(const WIN32_FIND_DATAW& found) {
    // The listing gives the reparse tag only for a reparse point; the field means nothing else.
    const DWORD tag =
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
    return {found.cFileName, found.dwFileAttributes, ClassifyEntry(found.dwFileAttributes, tag),
            (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow};
}

// Calls `visit(entry)` for every entry of `directory` in listing order, "." and ".." left out.
// False when the directory cannot be listed, or only in part: the platform's error tells why.
template <typename Visit>
bool ForEachEntry(const std::wstring& directory, Visit visit) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!listing) {
        return false;
    }
    do {
        if (!IsDotOrDotDot(entry.cFileName)) {
            visit(ToListedEntry(entry));
        }
    } while (FindNextFileW(listing.Get(), &entry));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// The errors that mean nothing is there, as opposed to something that could not be read.
inline bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What `path` itself is, as its parent's listing would say; kind and attributes alone.
// INVALID_FILE_ATTRIBUTES when it cannot be found, with the platform's error.
inline ListedEntry ExaminePath(const std::wstring& path) {
    ListedEntry examined{path, GetFileAttributesW(path.c_str())};
    if (examined.attributes == INVALID_FILE_ATTRIBUTES ||
        !(examined.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        examined.kind = ClassifyEntry(examined.attributes, 0);
        return examined;
    }
    // Only a listing tells a reparse point's tag.
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW(path.c_str(), &found));
    examined.kind = search ? ToListedEntry(found).kind : ClassifyEntry(examined.attributes, 0);
    return examined;
}
