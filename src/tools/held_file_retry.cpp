#include "tools/held_file_retry.h"

#include <algorithm>

#include "tools/unique_handle.h"

namespace {

constexpr DWORD kFirstPauseMs = 50;
constexpr int kLongestDoubling = 5;  // 50 ms doubled up to 1.6 s

}  // namespace

bool IsHeldByAnotherProcess(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

DWORD NextRetryPause(int failedAttempts, DWORD filePausedMs, DWORD treePausedMs) {
    if (failedAttempts < 1 || filePausedMs >= kFileRetryLimitMs ||
        treePausedMs >= kTreeRetryLimitMs) {
        return 0;
    }
    const DWORD grown = kFirstPauseMs << std::min(failedAttempts - 1, kLongestDoubling);
    return std::min({grown, kFileRetryLimitMs - filePausedMs, kTreeRetryLimitMs - treePausedMs});
}

bool RetryWhileHeld(const std::function<DWORD()>& attempt, const std::function<void(DWORD)>& pause,
                    RetryBudget& budget) {
    DWORD filePausedMs = 0;
    for (int failedAttempts = 1;; ++failedAttempts) {
        const DWORD error = attempt();
        if (error == ERROR_SUCCESS) {
            return true;
        }
        if (!IsHeldByAnotherProcess(error)) {
            return false;
        }
        const DWORD pauseMs = NextRetryPause(failedAttempts, filePausedMs, budget.pausedMs);
        if (pauseMs == 0) {
            return false;
        }
        pause(pauseMs);
        filePausedMs += pauseMs;
        budget.pausedMs += pauseMs;
    }
}

namespace {

// The platform call's result as RetryWhileHeld wants it: 0, or the error that made it fail.
DWORD Outcome(BOOL succeeded) {
    if (succeeded) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? static_cast<DWORD>(ERROR_GEN_FAILURE) : error;
}

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

void SleepFor(DWORD ms) {
    Sleep(ms);
}

// Windows refuses to replace a read-only file, which players make of settings a game must not
// reset. Only the file being replaced loses the attribute, and only if it really is replaced.
bool ReplacingReadOnly(const std::wstring& destination, const std::function<bool()>& replace) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(destination.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    const bool replaced = replace();
    if (readOnly && !replaced) {
        SetFileAttributesW(destination.c_str(), attributes);
    }
    return replaced;
}

}  // namespace

bool CopyFileRetryingWhileHeld(const std::wstring& source, const std::wstring& destination,
                               RetryBudget& budget) {
    const bool copied = ReplacingReadOnly(destination, [&] {
        return RetryWhileHeld(
            [&] { return Outcome(CopyFileW(source.c_str(), destination.c_str(), FALSE)); },
            SleepFor, budget);
    });
    // Windows gives a copy its original's attributes, over an existing file too; Wine does not,
    // and a player's read-only file would come back writable.
    if (copied) {
        const DWORD attributes = GetFileAttributesW(source.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributesW(destination.c_str(), attributes);
        }
    }
    return copied;
}

bool MoveFileRetryingWhileHeld(const std::wstring& source, const std::wstring& destination,
                               DWORD flags, RetryBudget& budget) {
    return ReplacingReadOnly(destination, [&] {
        return RetryWhileHeld(
            [&] {
                return MoveOutcome(MoveFileExW(source.c_str(), destination.c_str(), flags),
                                   destination);
            },
            SleepFor, budget);
    });
}
