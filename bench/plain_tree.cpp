#include "plain_tree.h"

#include <windows.h>

#include "tools/directory_listing.h"
#include "tools/unique_handle.h"

namespace {

bool IsDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The floor's walk: no retries, no link handling, no progress; `placeFile` copies or moves one
// file to its place.
template <typename PlaceFile>
void PlaceTree(const std::wstring& source, const std::wstring& destination, PlaceFile placeFile) {
    CreateDirectoryW(destination.c_str(), nullptr);
    ForEachEntry(source, [&](const ListedEntry& entry) {
        const std::wstring from = source + L"\\" + entry.name;
        const std::wstring to = destination + L"\\" + entry.name;
        if (IsDirectory(entry.attributes)) {
            PlaceTree(from, to, placeFile);
        } else {
            placeFile(from, to);
        }
    });
}

}  // namespace

void PlainCopyTree(const std::wstring& source, const std::wstring& destination) {
    PlaceTree(source, destination, [](const std::wstring& from, const std::wstring& to) {
        CopyFileW(from.c_str(), to.c_str(), FALSE);
    });
}

void PlainMoveTree(const std::wstring& source, const std::wstring& destination) {
    PlaceTree(source, destination, [](const std::wstring& from, const std::wstring& to) {
        MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    });
}

void PlainSetAsideShipped(const std::wstring& shipped, const std::wstring& installed,
                          const std::wstring& aside) {
    // A folder the installation lacks has nothing to set aside, and no folder is made for it.
    if (GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    CreateDirectoryW(aside.c_str(), nullptr);
    ForEachEntry(shipped, [&](const ListedEntry& entry) {
        const std::wstring from = installed + L"\\" + entry.name;
        const std::wstring to = aside + L"\\" + entry.name;
        if (IsDirectory(entry.attributes)) {
            PlainSetAsideShipped(shipped + L"\\" + entry.name, from, to);
        } else {
            // The rename itself tells whether the player has the file: one call per shipped file.
            MoveFileExW(from.c_str(), to.c_str(), 0);
        }
    });
}

int PlainCountFiles(const std::wstring& directory) {
    int count = 0;
    ForEachEntry(directory, [&](const ListedEntry& entry) {
        count +=
            IsDirectory(entry.attributes) ? PlainCountFiles(directory + L"\\" + entry.name) : 1;
    });
    return count;
}

void PlainDeleteTree(const std::wstring& directory) {
    ForEachEntry(directory, [&](const ListedEntry& entry) {
        const std::wstring path = directory + L"\\" + entry.name;
        if (IsDirectory(entry.attributes)) {
            PlainDeleteTree(path);
        } else {
            DeleteFileW(path.c_str());
        }
    });
    RemoveDirectoryW(directory.c_str());
}

void PlainFlushTree(const std::wstring& directory) {
    ForEachEntry(directory, [&](const ListedEntry& entry) {
        const std::wstring path = directory + L"\\" + entry.name;
        if (IsDirectory(entry.attributes)) {
            PlainFlushTree(path);
            return;
        }
        const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        FlushFileBuffers(file.Get());
    });
}
