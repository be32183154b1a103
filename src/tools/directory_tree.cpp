#include "tools/directory_tree.h"

#include <windows.h>

#include <utility>

#include "tools/directory_listing.h"
#include "tools/held_file_retry.h"

namespace {

enum class Transfer { kCopy, kMove };

bool TransferFile(Transfer transfer, const std::wstring& from, const std::wstring& to,
                  RetryBudget& budget) {
    if (transfer == Transfer::kCopy) {
        return CopyFileRetryingWhileHeld(from, to, budget);
    }
    return MoveFileRetryingWhileHeld(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED,
                                     budget);
}

// Each sub-tree gets its own copy of the callback; the retry budget is shared by the whole walk.
int TransferTree(Transfer transfer, const std::wstring& source, const std::wstring& destination,
                 FileCallback onFile, RetryBudget& budget) {
    CreateDirectoryW(destination.c_str(), nullptr);
    int failed = 0;
    ForEachEntry(source, [&](const std::wstring& name, DWORD attributes) {
        const EntryKind kind = ClassifyEntry(attributes);
        const std::wstring from = source + L"\\" + name;
        const std::wstring to = destination + L"\\" + name;
        if (kind == EntryKind::kDirectory) {
            failed += TransferTree(transfer, from, to, onFile, budget);
        } else if (kind == EntryKind::kFile) {
            if (!TransferFile(transfer, from, to, budget)) {
                ++failed;
            }
            if (onFile) {
                onFile();
            }
        }
    });
    return failed;
}

void DeleteEntries(const std::wstring& directory) {
    ForEachEntry(directory, [&](const std::wstring& name, DWORD attributes) {
        const EntryKind kind = ClassifyEntry(attributes);
        const std::wstring path = directory + L"\\" + name;
        if (kind == EntryKind::kDirectory) {
            DeleteEntries(path);
        } else if (kind == EntryKind::kDirectoryLink) {
            RemoveDirectoryW(path.c_str());  // the link itself, not what it points to
        } else {
            DeleteFileW(path.c_str());
        }
    });
    RemoveDirectoryW(directory.c_str());
}

}  // namespace

int CopyTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile) {
    RetryBudget budget;
    return TransferTree(Transfer::kCopy, source, destination, std::move(onFile), budget);
}

int MoveTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile) {
    RetryBudget budget;
    return TransferTree(Transfer::kMove, source, destination, std::move(onFile), budget);
}

int CountFiles(const std::wstring& directory) {
    int sum = 0;
    const bool listed = ForEachEntry(directory, [&](const std::wstring& name, DWORD attributes) {
        const EntryKind kind = ClassifyEntry(attributes);
        if (kind == EntryKind::kDirectory) {
            sum += CountFiles(directory + L"\\" + name);
        } else if (kind == EntryKind::kFile) {
            ++sum;
        }
    });
    return listed ? CountOfListedDirectory(sum) : 0;
}

void DeleteTree(const std::wstring& directory) {
    // The caller may name a link itself; listing it would reach into the tree it points to.
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        ClassifyEntry(attributes) == EntryKind::kDirectoryLink) {
        RemoveDirectoryW(directory.c_str());
        return;
    }
    DeleteEntries(directory);
}
