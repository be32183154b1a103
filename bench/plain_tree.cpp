#include "plain_tree.h"

#include <windows.h>

#include "tools/unique_handle.h"

namespace {

bool IsDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

template <typename Visit>
void ForEach(const std::wstring& directory, Visit visit) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!listing) {
        return;
    }
    do {
        if (!IsDots(entry.cFileName)) {
            visit(directory + L"\\" + entry.cFileName,
                  (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        }
    } while (FindNextFileW(listing.Get(), &entry));
}

}  // namespace

void PlainCopyTree(const std::wstring& source, const std::wstring& destination) {
    CreateDirectoryW(destination.c_str(), nullptr);
    ForEach(source, [&](const std::wstring& path, bool isDirectory) {
        const std::wstring target = destination + path.substr(source.size());
        if (isDirectory) {
            PlainCopyTree(path, target);
        } else {
            CopyFileW(path.c_str(), target.c_str(), FALSE);
        }
    });
}

void PlainMoveTree(const std::wstring& source, const std::wstring& destination) {
    CreateDirectoryW(destination.c_str(), nullptr);
    ForEach(source, [&](const std::wstring& path, bool isDirectory) {
        const std::wstring target = destination + path.substr(source.size());
        if (isDirectory) {
            PlainMoveTree(path, target);
        } else {
            MoveFileExW(path.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        }
    });
}

int PlainCountFiles(const std::wstring& directory) {
    int count = 0;
    ForEach(directory, [&](const std::wstring& path, bool isDirectory) {
        count += isDirectory ? PlainCountFiles(path) : 1;
    });
    return count;
}

void PlainDeleteTree(const std::wstring& directory) {
    ForEach(directory, [](const std::wstring& path, bool isDirectory) {
        if (isDirectory) {
            PlainDeleteTree(path);
        } else {
            DeleteFileW(path.c_str());
        }
    });
    RemoveDirectoryW(directory.c_str());
}
