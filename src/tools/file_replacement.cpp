#include "tools/file_replacement.h"

#include "tools/unique_handle.h"

namespace {

constexpr unsigned kAsideAttempts = 1000;

// Renaming over a file that another process holds open fails as access denied, not as a sharing
// violation; asking to open the destination for deletion tells a hold from a real denial.
DWORD MoveOutcome(BOOL moved, const std::wstring& destination) {
    const DWORD error = Outcome(moved);
    if (error != ERROR_ACCESS_DENIED) {
        return error;
    }
    const UniqueFileHandle probe(CreateFileW(
        destination.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION
               ? static_cast<DWORD>(ERROR_SHARING_VIOLATION)
               : error;
}

// Tries `replace` as it is first: nearly every file is unprotected, and asking each one for its
// attributes first would cost a call per file. Only a refused one loses its protection, and gets
// it back if it still is not replaced.
DWORD ReplacingProtected(const std::wstring& destination, const std::function<DWORD()>& replace) {
    const DWORD error = replace();
    if (error != ERROR_ACCESS_DENIED) {
        return error;
    }
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & kProtectingAttributes) ||
        !SetFileAttributesW(destination.c_str(), WithoutProtection(attributes))) {
        return error;
    }
    const DWORD retried = replace();
    if (retried != ERROR_SUCCESS) {
        SetFileAttributesW(destination.c_str(), attributes);
    }
    return retried;
}

}  // namespace

std::wstring PutAside(const std::wstring& path, const std::wstring& asideFolder) {
    CreateDirectoryW(asideFolder.c_str(), nullptr);
    for (unsigned attempt = 0; attempt < kAsideAttempts; ++attempt) {
        std::wstring aside = AsideName(asideFolder, attempt);
        if (MoveFileExW(path.c_str(), aside.c_str(), 0)) {
            return aside;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return {};
        }
    }
    return {};
}

DWORD WithoutProtection(DWORD attributes) {
    const DWORD unprotected = attributes & ~kProtectingAttributes;
    return unprotected != 0 ? unprotected : FILE_ATTRIBUTE_NORMAL;
}

std::wstring AsideName(const std::wstring& asideFolder, unsigned attempt) {
    return asideFolder + L"\\" + std::to_wstring(attempt) + L".old";
}

bool ReplaceByCopy(const std::wstring& source, DWORD sourceAttributes,
                   const std::wstring& destination, RetryBudget& budget) {
    const DWORD error = ReplacingProtected(destination, [&] {
        return RetryWhileHeld(
            [&] { return Outcome(CopyFileW(source.c_str(), destination.c_str(), FALSE)); },
            PauseWhileHeld, budget);
    });
    // Windows gives a copy its original's attributes, over an existing file too; Wine does not,
    // and a player's read-only or hidden file would come back without them.
    if (error == ERROR_SUCCESS && (sourceAttributes & kProtectingAttributes)) {
        SetFileAttributesW(destination.c_str(), sourceAttributes);
    }
    return error == ERROR_SUCCESS;
}

DWORD ReplaceByMove(const std::wstring& source, const std::wstring& destination, DWORD extraFlags,
                    const std::wstring& asideFolder, RetryBudget& budget) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | extraFlags;
    const auto move = [&] {
        return MoveOutcome(MoveFileExW(source.c_str(), destination.c_str(), flags), destination);
    };
    DWORD error = ReplacingProtected(destination,
                                     [&] { return RetryWhileHeld(move, PauseWhileHeld, budget); });
    // A running program's file cannot be replaced or deleted, but it can be renamed, and then a
    // new file can take its name. A hold that forbids deleting forbids renaming too, so a file
    // held open is never pushed aside.
    if (error == ERROR_SUCCESS || asideFolder.empty()) {
        return error;
    }
    // A folder where the update brings a file is the game's old shape: the caller has made sure
    // that no folder of the player's is in the way.
    if (GetFileAttributesW(destination.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return error;
    }
    const std::wstring aside = PutAside(destination, asideFolder);
    if (aside.empty()) {
        return error;
    }
    error = Outcome(MoveFileExW(source.c_str(), destination.c_str(), flags));
    if (error != ERROR_SUCCESS) {
        MoveFileExW(aside.c_str(), destination.c_str(), 0);
    }
    return error;
}

DWORD FlushToDisk(const std::wstring& path, DWORD attributes, RetryBudget& budget) {
    // Only a handle with write access flushes, and a read-only file gives none.
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly && !SetFileAttributesW(path.c_str(), WithoutProtection(attributes))) {
        return Outcome(FALSE);
    }
    // A scanner opens a fresh file at once; its hold passes.
    const DWORD flushed = RetryWhileHeld(
        [&] {
            const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            return file && FlushFileBuffers(file.Get()) ? ERROR_SUCCESS : Outcome(FALSE);
        },
        PauseWhileHeld, budget);
    if (readOnly) {
        SetFileAttributesW(path.c_str(), attributes);
    }
    return flushed;
}

bool CopyIntoPlace(const std::wstring& source, const std::wstring& destination) {
    const std::wstring partial = destination + L".partial";
    RetryBudget budget;
    const DWORD attributes = GetFileAttributesW(source.c_str());
    bool placed = ReplaceByCopy(source, attributes, partial, budget);
    placed = placed && FlushToDisk(partial, attributes, budget) == ERROR_SUCCESS;
    // Never over a per-user copy that appeared meanwhile: that one is the player's.
    const auto rename = [&] {
        return Outcome(MoveFileExW(partial.c_str(), destination.c_str(), MOVEFILE_WRITE_THROUGH));
    };
    placed = placed && RetryWhileHeld(rename, PauseWhileHeld, budget) == ERROR_SUCCESS;
    if (!placed) {
        SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(partial.c_str());
    }
    return placed;
}
