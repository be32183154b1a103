#include "tools/held_file_retry.h"

#include <algorithm>

namespace {

constexpr DWORD kFirstPauseMs = 50;
constexpr int kLongestDoubling = 5;  // 50 ms doubled up to 1.6 s

}  // namespace

bool IsHeldByAnotherProcess(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

DWORD NextRetryPause(int failedAttempts, DWORD filePausedMs, DWORD treePausedMs) {
    if (failedAttempts < 1 || filePausedMs >= kFileRetryLimitMs ||
        treePausedMs >= kTreeRetryLimitMs) {
        return 0;
    }
    const DWORD grown = kFirstPauseMs << std::min(failedAttempts - 1, kLongestDoubling);
    return std::min({grown, kFileRetryLimitMs - filePausedMs, kTreeRetryLimitMs - treePausedMs});
}

DWORD RetryWhileHeld(const std::function<DWORD()>& attempt, const std::function<void(DWORD)>& pause,
                     RetryBudget& budget) {
    DWORD filePausedMs = 0;
    for (int failedAttempts = 1;; ++failedAttempts) {
        const DWORD error = attempt();
        if (error == ERROR_SUCCESS || !IsHeldByAnotherProcess(error)) {
            return error;
        }
        const DWORD pauseMs = NextRetryPause(failedAttempts, filePausedMs, budget.pausedMs);
        if (pauseMs == 0) {
            return error;
        }
        pause(pauseMs);
        filePausedMs += pauseMs;
        budget.pausedMs += pauseMs;
    }
}

DWORD RetryFileWhileHeld(const std::function<DWORD()>& attempt) {
    RetryBudget budget;
    return RetryWhileHeld(attempt, PauseWhileHeld, budget);
}

void PauseWhileHeld(DWORD ms) {
    SleepEx(ms, FALSE);
}

DWORD Outcome(BOOL succeeded) {
    if (succeeded) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? static_cast<DWORD>(ERROR_GEN_FAILURE) : error;
}
