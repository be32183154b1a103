// The real progress window, painted through its own window procedure and read back: one check
// per state the player sees.
#include <gtest/gtest.h>

#include <tuple>

#include "display/progress_state.h"
#include "display/progress_window.h"

namespace {

void DispatchPending() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
        DispatchMessageW(&message);
    }
}

TEST(ProgressWindow, EachStateIsDrawnInItsColours) {
    constexpr COLORREF kStart = RGB(105, 190, 70), kTitle = RGB(235, 245, 232);
    constexpr COLORREF kGrey = RGB(140, 155, 135), kRed = RGB(230, 75, 45);
    constexpr RECT kPercent{406, 110, 476, 134}, kStatus{40, 144, 440, 170},
        kHint{40, 193, 440, 211};
    // Percentage, failed, the length of the bar's fill and its last column's colour.
    const std::tuple<int, bool, int, COLORREF> states[] = {
        {2, false, 7, RGB(107, 187, 69)},     // waiting for the client
        {50, false, 180, RGB(167, 135, 57)},  // half way
        {30, true, 108, kRed},                // failed
    };
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    const HWND window = progress.window = CreateProgressWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    const HDC dc = GetDC(window);
    // Glyph edges are blended with the background, their cores are not.
    const auto has = [&](RECT r, COLORREF color) {
        bool found = false;
        for (int i = 0; i < (r.right - r.left) * (r.bottom - r.top); ++i) {
            found = found || GetPixel(dc, r.left + i % (r.right - r.left),
                                      r.top + i / (r.right - r.left)) == color;
        }
        return found;
    };
    for (const auto& [percent, failed, fillLength, fillEnd] : states) {
        SCOPED_TRACE(testing::Message() << percent << "% failed " << failed);
        // The percentage last: its change alone must bring the repaint.
        progress.failed = failed;
        SetStatus(progress, L"Waiting for client to close...");
        DispatchPending();
        SetProgress(progress, percent);
        DispatchPending();
        EXPECT_EQ(GetPixel(dc, 0, 0), kStart) << "colour strip";
        EXPECT_EQ(GetPixel(dc, 40, 120), failed ? kRed : kStart) << "bar start";
        EXPECT_EQ(GetPixel(dc, 39 + fillLength, 120), fillEnd) << "bar end";
        EXPECT_EQ(GetPixel(dc, 40 + fillLength, 120), RGB(40, 40, 40)) << "track after";
        EXPECT_TRUE(has(kPercent, failed ? kRed : kTitle)) << "percentage";
        EXPECT_TRUE(has(kStatus, failed ? kRed : kGrey) && !has(kStatus, failed ? kGrey : kRed))
            << "status line";
        EXPECT_EQ(has(kHint, kGrey), failed) << "Esc hint";
        EXPECT_TRUE(has({0, 10, 480, 86}, kTitle)) << "title";
    }
    ReleaseDC(window, dc);
    DestroyWindow(window);
}

}  // namespace
