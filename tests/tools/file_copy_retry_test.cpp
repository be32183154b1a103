#include "tools/file_copy_retry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Pauses of one file that stays held, until the schedule gives up.
std::vector<DWORD> PausesUntilGivingUp(DWORD treePausedMs) {
    std::vector<DWORD> pauses;
    DWORD filePausedMs = 0;
    for (int failed = 1;; ++failed) {
        const DWORD pause = NextRetryPause(failed, filePausedMs, treePausedMs + filePausedMs);
        if (pause == 0) {
            return pauses;
        }
        pauses.push_back(pause);
        filePausedMs += pause;
    }
}

DWORD Sum(const std::vector<DWORD>& pauses) {
    DWORD sum = 0;
    for (DWORD pause : pauses) {
        sum += pause;
    }
    return sum;
}

TEST(CopyRetrySchedule, PausesGrowAndStopAtTheFileLimit) {
    const auto pauses = PausesUntilGivingUp(0);
    ASSERT_GE(pauses.size(), 3u);
    EXPECT_LT(pauses[0], pauses[1]);
    EXPECT_LT(pauses[1], pauses[2]);
    EXPECT_EQ(Sum(pauses), kFileRetryLimitMs);
}

TEST(CopyRetrySchedule, TreeLimitCutsTheLastFileShort) {
    EXPECT_EQ(Sum(PausesUntilGivingUp(kTreeRetryLimitMs - 120)), 120u);
    EXPECT_TRUE(PausesUntilGivingUp(kTreeRetryLimitMs).empty());
}

struct FakeCopy {
    std::vector<DWORD> results;  // one per attempt; the last one repeats
    size_t attempts = 0;
    DWORD paused = 0;

    bool Run(RetryBudget& budget) {
        return RetryWhileHeld([&] { return results[std::min(attempts++, results.size() - 1)]; },
                              [&](DWORD ms) { paused += ms; }, budget);
    }
};

TEST(RetryWhileHeld, RetriesOnlySharingAndLockViolations) {
    RetryBudget budget;
    FakeCopy denied{{ERROR_ACCESS_DENIED}};
    EXPECT_FALSE(denied.Run(budget));
    EXPECT_EQ(denied.attempts, 1u);

    FakeCopy released{{ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_SUCCESS}};
    EXPECT_TRUE(released.Run(budget));
    EXPECT_EQ(released.attempts, 3u);
    EXPECT_EQ(budget.pausedMs, released.paused);

    FakeCopy heldThenDenied{{ERROR_SHARING_VIOLATION, ERROR_PATH_NOT_FOUND, ERROR_SUCCESS}};
    EXPECT_FALSE(heldThenDenied.Run(budget));
    EXPECT_EQ(heldThenDenied.attempts, 2u);
}

TEST(RetryWhileHeld, HeldFilesShareOneBudgetPerTree) {
    RetryBudget budget;
    for (int file = 0; file < 10; ++file) {
        FakeCopy held{{ERROR_SHARING_VIOLATION}};
        EXPECT_FALSE(held.Run(budget));
        EXPECT_EQ(held.paused, kFileRetryLimitMs);
    }
    FakeCopy afterBudget{{ERROR_SHARING_VIOLATION, ERROR_SUCCESS}};
    EXPECT_FALSE(afterBudget.Run(budget));
    EXPECT_EQ(afterBudget.attempts, 1u);
    EXPECT_EQ(budget.pausedMs, kTreeRetryLimitMs);
}

}  // namespace
