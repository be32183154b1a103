// The real progress window, painted through its own window procedure and read back: one check
// per state the player sees.
#include <gtest/gtest.h>

#include <vector>

#include "display/gdi_objects.h"
#include "display/progress_state.h"
#include "display/progress_window.h"

namespace {

// The window's pixels as 0x00RRGGBB, row after row.
std::vector<COLORREF> Capture(HWND window) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    const HDC screen = GetDC(window);
    const UniqueMemoryDc dc(CreateCompatibleDC(screen));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(screen, 480, 215));
    {
        const ScopedSelection selection(dc.Get(), bitmap.Get());
        BitBlt(dc.Get(), 0, 0, 480, 215, screen, 0, 0, SRCCOPY);
    }
    ReleaseDC(window, screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 480, -215, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<COLORREF> pixels(480 * 215);
    GetDIBits(dc.Get(), bitmap.Get(), 0, 215, pixels.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

TEST(ProgressWindow, EachStateIsDrawnInItsColours) {
    constexpr COLORREF kStart = RGB(105, 190, 70), kTitle = RGB(235, 245, 232);
    constexpr COLORREF kGrey = RGB(140, 155, 135), kRed = RGB(230, 75, 45);
    constexpr RECT kPercent{406, 110, 476, 134}, kStatus{40, 144, 440, 170},
        kHint{40, 193, 440, 211};
    const struct {
        int percent;
        bool failed;
        int fillLength;
        COLORREF fillEnd, textInk;
    } states[] = {
        {2, false, 7, RGB(107, 187, 69), kGrey},     // waiting for the client
        {50, false, 180, RGB(167, 135, 57), kGrey},  // half way
        {30, true, 108, kRed, kRed},                 // failed
    };
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    const HWND window = CreateProgressWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    progress.window = window;
    for (const auto& state : states) {
        SCOPED_TRACE(testing::Message() << state.percent << "% failed " << state.failed);
        // The percentage last: its change alone must bring the repaint.
        progress.failed = state.failed;
        SetStatus(progress, L"Waiting for client to close...");
        Capture(window);
        SetProgress(progress, state.percent);
        const std::vector<COLORREF> pixels = Capture(window);
        const auto at = [&](int x, int y) {
            return RGB(pixels[y * 480 + x] >> 16, pixels[y * 480 + x] >> 8, pixels[y * 480 + x]);
        };
        // Glyph edges are blended with the background, their cores are not.
        const auto has = [&](RECT r, COLORREF color) {
            bool found = false;
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x) {
                    found = found || at(x, y) == color;
                }
            }
            return found;
        };
        EXPECT_EQ(at(0, 0), kStart) << "colour strip";
        EXPECT_EQ(at(40, 120), state.failed ? kRed : kStart) << "bar start";
        EXPECT_EQ(at(39 + state.fillLength, 120), state.fillEnd) << "bar end";
        EXPECT_EQ(at(40 + state.fillLength, 120), RGB(40, 40, 40)) << "track after the bar";
        EXPECT_TRUE(has(kPercent, state.failed ? kRed : kTitle)) << "percentage";
        EXPECT_TRUE(has(kStatus, state.textInk)) << "status line";
        EXPECT_EQ(has(kStatus, state.failed ? kGrey : kRed), false) << "status line";
        EXPECT_EQ(has(kHint, kGrey), state.failed) << "Esc hint";
        EXPECT_TRUE(has({0, 10, 480, 86}, kTitle)) << "title";
    }
    DestroyWindow(window);
}

}  // namespace
