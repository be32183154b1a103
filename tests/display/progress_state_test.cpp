#include "display/progress_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ProgressStateTest : public ::testing::Test {
  protected:
    void SetUp() override { InitializeCriticalSection(&state.lock); }
    void TearDown() override {
        if (window != nullptr) {
            DestroyWindow(window);
        }
        DeleteCriticalSection(&state.lock);
    }

    // A real window on this thread, so posts land in this thread's queue.
    HWND MakeWindow() {
        window = CreateWindowExW(0, L"STATIC", L"progress-state-test", 0, 0, 0, 10, 10,
                                 HWND_MESSAGE, nullptr, nullptr, nullptr);
        return window;
    }

    int CountPosted(UINT message) {
        int count = 0;
        MSG msg;
        while (PeekMessageW(&msg, window, message, message, PM_REMOVE)) {
            ++count;
        }
        return count;
    }

    ProgressState state;
    HWND window = nullptr;
};

TEST_F(ProgressStateTest, StartsWithStartingAtZero) {
    const ProgressSnapshot snapshot = TakeSnapshot(state);
    EXPECT_EQ(snapshot.statusText, L"Starting...");
    EXPECT_EQ(snapshot.percent, 0);
    EXPECT_FALSE(snapshot.failed);
}

TEST_F(ProgressStateTest, PercentIsClamped) {
    SetProgress(state, -5);
    EXPECT_EQ(state.percent.load(), 0);
    SetProgress(state, 150);
    EXPECT_EQ(state.percent.load(), 100);
    SetProgress(state, 42);
    EXPECT_EQ(state.percent.load(), 42);
}

TEST_F(ProgressStateTest, StatusIsCutAt255Characters) {
    const std::wstring longText(300, L'x');
    SetStatus(state, longText.c_str());
    EXPECT_EQ(TakeSnapshot(state).statusText, std::wstring(255, L'x'));
    EXPECT_EQ(state.statusText[255], L'\0');
}

TEST_F(ProgressStateTest, FailureKeepsThePercentAndStays) {
    SetProgress(state, 30);
    ReportFailure(state, L"Extraction failed. The archive may be corrupted.");
    SetProgress(state, 31);
    const ProgressSnapshot snapshot = TakeSnapshot(state);
    EXPECT_TRUE(snapshot.failed);
    EXPECT_EQ(snapshot.statusText, L"Extraction failed. The archive may be corrupted.");
}

TEST_F(ProgressStateTest, EveryChangePostsOneRepaintRequestOnceTheWindowIsSet) {
    ASSERT_NE(MakeWindow(), nullptr);
    SetProgress(state, 10);  // no window published yet: state changes, nothing is posted
    SetStatus(state, L"before");
    EXPECT_EQ(CountPosted(kRepaintRequest), 0);
    EXPECT_EQ(state.percent.load(), 10);

    state.window = window;
    SetProgress(state, 20);
    SetProgress(state, 200);
    SetStatus(state, L"after");
    ReportFailure(state, L"failed");
    EXPECT_EQ(CountPosted(kRepaintRequest), 4);
    EXPECT_EQ(CountPosted(kCloseRequest), 0);
}

TEST_F(ProgressStateTest, CloseIsRefusedOnlyWhileTheInstallationIsBeingChanged) {
    // Waiting or extracting: the player may close, and then the worker must not go on.
    EXPECT_TRUE(TryBeginClose(state));
    EXPECT_FALSE(TryEnterProtectedPhase(state));
    EXPECT_FALSE(MayDeleteLock(state, true));
    EXPECT_TRUE(MayDeleteLock(state, false));

    ProgressState installing;
    EXPECT_TRUE(TryEnterProtectedPhase(installing));
    EXPECT_FALSE(TryBeginClose(installing));
    EXPECT_FALSE(TryBeginClose(installing));
    MarkWorkerEnded(installing);
    EXPECT_TRUE(TryBeginClose(installing));
    EXPECT_TRUE(MayDeleteLock(installing, true));
}

}  // namespace
