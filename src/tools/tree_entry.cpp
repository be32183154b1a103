#include "tools/tree_entry.h"

#include <cwchar>

bool IsDotOrDotDot(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

EntryKind ClassifyEntry(DWORD attributes, DWORD reparseTag) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return EntryKind::kFile;
    }
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
    return link ? EntryKind::kDirectoryLink : EntryKind::kDirectory;
}

int CountOfListedDirectory(int entriesBelow) {
    return entriesBelow > 0 ? entriesBelow : 1;
}
