#include "tools/directory_tree.h"

#include <windows.h>

#include <utility>

#include "tools/directory_listing.h"
#include "tools/file_replacement.h"

namespace {

// How each file reaches its place. A file it cannot replace may be renamed into `asideFolder`.
struct Transfer {
    std::wstring asideFolder;
    DWORD flags = 0;
};

// Each sub-tree gets its own copy of the callback; the retry budget is shared by the whole walk.
void TransferTree(const Transfer& transfer, const std::wstring& source,
                  const std::wstring& destination, FileCallback onFile, RetryBudget& budget,
                  TreeMove& outcome) {
    // A file where the update brings a folder is the game's old shape, set aside like a held file.
    if (!CreateDirectoryW(destination.c_str(), nullptr) && !transfer.asideFolder.empty() &&
        GetLastError() == ERROR_ALREADY_EXISTS &&
        !(GetFileAttributesW(destination.c_str()) & FILE_ATTRIBUTE_DIRECTORY) &&
        !PutAside(destination, transfer.asideFolder).empty()) {
        CreateDirectoryW(destination.c_str(), nullptr);
    }
    const bool listed = ForEachEntry(source, [&](const ListedEntry& entry) {
        const std::wstring from = source + L"\\" + entry.name;
        const std::wstring to = destination + L"\\" + entry.name;
        if (entry.kind == EntryKind::kDirectory) {
            TransferTree(transfer, from, to, onFile, budget, outcome);
        } else if (entry.kind == EntryKind::kFile) {
            const DWORD error =
                ReplaceByMove(from, to, transfer.flags, transfer.asideFolder, budget);
            if (error != ERROR_SUCCESS && outcome.failed++ == 0) {
                outcome.firstError = error;
            }
            if (onFile) {
                onFile();
            }
        }
    });
    // Files a listing could not tell are files not moved: what holds them must not be deleted.
    if (!listed && outcome.failed++ == 0) {
        outcome.firstError = Outcome(FALSE);
    }
}

// Entries deleted a moment ago stay pending deletion until every holder lets go: under Wine the
// tool that wrote them, on Windows a scanner. Their folder cannot be removed until then.
constexpr DWORD kPendingDeletionLimitMs = 1000;
constexpr DWORD kPendingDeletionPauseMs = 50;

bool RemoveDirectoryOncePendingEntriesGo(const std::wstring& directory, DWORD& waitedMs) {
    while (!RemoveDirectoryW(directory.c_str())) {
        if (GetLastError() != ERROR_DIR_NOT_EMPTY || waitedMs >= kPendingDeletionLimitMs) {
            return false;
        }
        Sleep(kPendingDeletionPauseMs);
        waitedMs += kPendingDeletionPauseMs;
    }
    return true;
}

// What one deletion may wait: pending entries' time, and pauses for held files.
struct DeletionWaits {
    DWORD pendingMs = 0;
    RetryBudget held;
};

bool DeleteEntry(const std::wstring& path, EntryKind kind, DWORD attributes, DeletionWaits& waits) {
    switch (kind) {
        case EntryKind::kDirectoryLink:
            return RemoveDirectoryW(path.c_str()) != FALSE;  // the link, not what it points to
        case EntryKind::kFile:
            // Windows refuses to delete a read-only file; the updater's own copies may be one.
            if (attributes & FILE_ATTRIBUTE_READONLY) {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            }
            // A scanner reading a fresh file lets go in a moment.
            return RetryWhileHeld([&] { return Outcome(DeleteFileW(path.c_str())); },
                                  PauseWhileHeld, waits.held) == ERROR_SUCCESS;
        case EntryKind::kDirectory:
            break;
    }
    bool emptied = true;
    ForEachEntry(path, [&](const ListedEntry& entry) {
        emptied =
            DeleteEntry(path + L"\\" + entry.name, entry.kind, entry.attributes, waits) && emptied;
    });
    // An entry that could not be deleted will not go by waiting for it.
    return emptied && RemoveDirectoryOncePendingEntriesGo(path, waits.pendingMs);
}

}  // namespace

TreeMove MoveTree(const std::wstring& source, const std::wstring& destination, FileCallback onFile,
                  const std::wstring& asideFolder, DWORD extraFlags) {
    RetryBudget budget;
    TreeMove outcome;
    TransferTree(Transfer{asideFolder, MOVEFILE_COPY_ALLOWED | extraFlags}, source, destination,
                 std::move(onFile), budget, outcome);
    return outcome;
}

DWORD FlushTree(const std::wstring& directory) {
    RetryBudget budget;
    DWORD firstError = ERROR_SUCCESS;
    const std::function<void(const std::wstring&)> flushBelow = [&](const std::wstring& folder) {
        const bool listed = ForEachEntry(folder, [&](const ListedEntry& entry) {
            const std::wstring path = folder + L"\\" + entry.name;
            const DWORD error = entry.kind == EntryKind::kDirectory ? (flushBelow(path), 0)
                                : entry.kind == EntryKind::kFile
                                    ? FlushToDisk(path, entry.attributes, budget)
                                    : ERROR_SUCCESS;
            firstError = firstError == ERROR_SUCCESS ? error : firstError;
        });
        firstError = firstError == ERROR_SUCCESS && !listed ? Outcome(FALSE) : firstError;
    };
    flushBelow(directory);
    return firstError;
}

int CountFiles(const std::wstring& directory) {
    int sum = 0;
    const bool listed = ForEachEntry(directory, [&](const ListedEntry& entry) {
        if (entry.kind == EntryKind::kDirectory) {
            sum += CountFiles(directory + L"\\" + entry.name);
        } else if (entry.kind == EntryKind::kFile) {
            ++sum;
        }
    });
    return listed ? CountOfListedDirectory(sum) : 0;
}

bool DeleteTree(const std::wstring& path) {
    // The attributes of the path itself: a link named by the caller is removed, not entered.
    const ListedEntry examined = ExaminePath(path);
    if (examined.attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    DeletionWaits waits;
    return DeleteEntry(path, examined.kind, examined.attributes, waits);
}

ULONGLONG SpaceTaken(ULONGLONG bytes, ULONGLONG clusterBytes) {
    return (bytes + clusterBytes - 1) / clusterBytes * clusterBytes;
}
