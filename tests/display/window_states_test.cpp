// The real progress window, painted through its own window procedure and read back whole: per
// state the player sees, every pixel that is not part of a glyph is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

#include "display/progress_colors.h"
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
    // Literal geometry, so that a wrong layout cannot carry the expected frame along with it.
    constexpr LONG kWidth = 480, kHeight = 215;
    constexpr RECT kBar{40, 110, 400, 134};
    // Waiting for the client, half way, done, failed: the percentage, whether it failed, the length
    // of the bar's fill and the colours its gradient runs from and to.
    const std::tuple<int, bool, int, COLORREF, COLORREF> states[] = {
        {2, false, 7, kStart, RGB(107, 187, 69)},
        {50, false, 180, kStart, RGB(167, 135, 57)},
        {100, false, 360, kStart, RGB(230, 80, 45)},
        {30, true, 108, kRed, kRed}};
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    const HWND window = progress.window = CreateProgressWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    const HDC dc = GetDC(window), copy = CreateCompatibleDC(dc);
    // One blit per state into a top-down 32-bit DIB, whose pixels are 0xXXRRGGBB (a COLORREF is
    // 0x00BBGGRR): a GetPixel per pixel is slow under Wine. Both live as long as the process.
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    DWORD* pixels = nullptr;
    SelectObject(copy, CreateDIBSection(dc, &info, 0, reinterpret_cast<void**>(&pixels), 0, 0));
    // Glyph edges are blended with the background (22) channel by channel, their cores are not: a
    // label's pixel has no channel above the text's level nor below the background's, whose
    // unsigned level wraps around to a huge one.
    const auto level = [](COLORREF color, int shift) { return (color >> shift & 0xFF) - 22u; };
    int lastInkEnd = 0;
    for (const auto& [percent, failed, fill, from, to] : states) {
        SCOPED_TRACE(testing::Message() << percent << "% failed " << failed);
        // The percentage last: its change alone must bring the repaint.
        progress.failed = failed;
        SetStatus(progress, L"Waiting for client to close...");
        DispatchPending();
        SetProgress(progress, percent);
        DispatchPending();
        BitBlt(copy, 0, 0, kWidth, kHeight, dc, 0, 0, SRCCOPY);
        // Title, percentage, status and Esc hint with their text colours. No hint before a
        // failure: its place is plain background.
        const std::pair<RECT, COLORREF> labels[] = {
            {{0, 10, 480, 86}, kTitle},
            {{406, 110, 476, 134}, failed ? kRed : kTitle},
            {{40, 144, 440, 170}, failed ? kRed : kGrey},
            {failed ? RECT{40, 193, 440, 211} : RECT{}, kGrey}};
        // One bit per label whose text colour was seen.
        // inkEnd: the percentage's last column that is not background.
        int seen = failed ? 0 : 8, firstWrong = -1, inkEnd = 0;
        for (LONG i = 0; i < kWidth * kHeight; ++i) {
            const LONG x = i % kWidth, y = i / kWidth, column = x - kBar.left;
            const COLORREF shown = _byteswap_ulong(pixels[i]) >> 8;
            const COLORREF inBar =
                column < fill ? GradientColumnColor(from, to, column, fill) : RGB(40, 40, 40);
            const COLORREF elsewhere =
                y < 4 ? GradientColumnColor(kStart, RGB(230, 80, 45), x, kWidth) : RGB(22, 22, 22);
            bool ok = shown == (PtInRect(&kBar, {x, y}) ? inBar : elsewhere);
            for (int l = 0; l < 4; ++l) {
                if (PtInRect(&labels[l].first, {x, y})) {
                    const COLORREF text = labels[l].second;
                    seen |= (shown == text) << l;
                    inkEnd = l == 1 && shown != RGB(22, 22, 22) ? std::max<int>(inkEnd, x) : inkEnd;
                    ok = level(shown, 0) <= level(text, 0) && level(shown, 8) <= level(text, 8) &&
                         level(shown, 16) <= level(text, 16);
                }
            }
            firstWrong = firstWrong < 0 && !ok ? i : firstWrong;
        }
        EXPECT_EQ(firstWrong, -1) << "x " << firstWrong % kWidth << ", y " << firstWrong / kWidth;
        // The expected columns come from the painter's own gradient function: the bar's last column
        // against a literal is what catches a fault in it.
        EXPECT_EQ(_byteswap_ulong(pixels[110 * kWidth + 39 + fill]) >> 8, to);
        EXPECT_EQ(seen, 15) << "labels with text";
        // Each percentage is a character longer than the one before: a cut "%" would show.
        EXPECT_TRUE(failed || inkEnd > std::exchange(lastInkEnd, inkEnd)) << "ends at x " << inkEnd;
    }
    ReleaseDC(window, dc);
    DestroyWindow(window);
}

}  // namespace
