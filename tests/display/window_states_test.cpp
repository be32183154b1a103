// The real progress window, painted through its own window procedure, read back pixel by pixel:
// one check per state the player sees.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "display/gdi_objects.h"
#include "display/progress_state.h"
#include "display/progress_window.h"

namespace {

struct Frame {
    std::vector<COLORREF> pixels = std::vector<COLORREF>(480 * 215);
    COLORREF At(int x, int y) const { return pixels[y * 480 + x]; }

    // Glyph edges are anti-aliased, so a text's colour is the one most of its inked pixels share;
    // CLR_INVALID when nothing but background is there.
    COLORREF InkIn(int left, int top, int right, int bottom) const {
        std::map<COLORREF, int> counts;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                counts[At(x, y)] += At(x, y) != RGB(22, 22, 22);
            }
        }
        COLORREF ink = CLR_INVALID;
        for (int best = 0; const auto& [color, count] : counts) {
            if (count > best) {
                best = count;
                ink = color;
            }
        }
        return ink;
    }
};

Frame Capture(HWND window) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    UpdateWindow(window);
    Frame frame;
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
    GetDIBits(dc.Get(), bitmap.Get(), 0, 215, frame.pixels.data(), &info, DIB_RGB_COLORS);
    for (COLORREF& pixel : frame.pixels) {  // DIB order is blue, green, red
        pixel = RGB(GetBValue(pixel), GetGValue(pixel), GetRValue(pixel));
    }
    return frame;
}

struct WindowState {
    const char* name;
    int percent;
    bool failed;
    int fillLength;
    COLORREF fillEnd;
    COLORREF percentInk;
    COLORREF statusInk;
    COLORREF hintInk;
};

TEST(ProgressWindow, EachStateIsDrawnInItsColours) {
    constexpr COLORREF kStart = RGB(105, 190, 70), kTitle = RGB(235, 245, 232);
    constexpr COLORREF kGrey = RGB(140, 155, 135), kRed = RGB(230, 75, 45);
    const WindowState states[] = {
        {"waiting", 2, false, 7, RGB(107, 187, 69), kTitle, kGrey, CLR_INVALID},
        {"installing", 50, false, 180, RGB(167, 135, 57), kTitle, kGrey, CLR_INVALID},
        {"failed", 30, true, 108, kRed, kRed, kRed, kGrey},
    };
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    const HWND window = CreateProgressWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    progress.window = window;
    for (const WindowState& state : states) {
        SCOPED_TRACE(state.name);
        SetProgress(progress, state.percent);
        progress.failed = state.failed;
        SetStatus(progress, L"Waiting for client to close...");
        const Frame frame = Capture(window);
        EXPECT_EQ(frame.At(0, 0), kStart) << "colour strip";
        EXPECT_EQ(frame.At(40, 120), state.failed ? kRed : kStart) << "bar start";
        EXPECT_EQ(frame.At(40 + state.fillLength - 1, 120), state.fillEnd) << "bar end";
        EXPECT_EQ(frame.At(40 + state.fillLength, 120), RGB(40, 40, 40)) << "track after the bar";
        EXPECT_EQ(frame.InkIn(406, 110, 476, 134), state.percentInk) << "percentage";
        EXPECT_EQ(frame.InkIn(40, 144, 440, 170), state.statusInk) << "status line";
        EXPECT_EQ(frame.InkIn(40, 193, 440, 211), state.hintInk) << "Esc hint";
        EXPECT_EQ(frame.InkIn(0, 10, 480, 86), kTitle) << "title";
    }
    DestroyWindow(window);
}

}  // namespace
