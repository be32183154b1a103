#include "display/progress_painting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "rendered_frame.h"

namespace {

constexpr COLORREF kBackground = RGB(22, 22, 22);
constexpr COLORREF kTrack = RGB(40, 40, 40);
constexpr COLORREF kRed = RGB(230, 75, 45);
constexpr COLORREF kTitle = RGB(235, 245, 232);
constexpr COLORREF kGrey = RGB(140, 155, 135);
constexpr COLORREF kStripStart = RGB(105, 190, 70);

constexpr RECT kTitleRect{0, 10, 480, 86};  // both lines
constexpr RECT kPercentRect{406, 110, 476, 134};
constexpr RECT kStatusRect{40, 144, 440, 170};
constexpr RECT kHintRect{40, 193, 440, 211};

std::string Describe(COLORREF color) {
    return std::to_string(GetRValue(color)) + ", " + std::to_string(GetGValue(color)) + ", " +
           std::to_string(GetBValue(color));
}

#define EXPECT_COLOR(actual, expected) EXPECT_EQ(Describe(actual), Describe(expected))

bool Contains(const RECT& rect, int x, int y) {
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

// Length of the fill, read along a row of the track.
int FillLength(const RenderedFrame& frame) {
    int x = 40;
    while (x < 400 && frame.At(x, 120) != kTrack) {
        ++x;
    }
    return x - 40;
}

// Pixels that text has touched. Glyph edges are anti-aliased (grey levels under Wine,
// ClearType fringes on Windows), so text is "anything but the background" and its colour is
// the one its fully covered pixels share: the most frequent one.
struct Ink {
    int count = 0;
    RECT bounds{10000, 10000, -1, -1};
    COLORREF mainColor = CLR_INVALID;
};

Ink InkIn(const RenderedFrame& frame, const RECT& rect) {
    Ink ink;
    std::map<COLORREF, int> colors;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            const COLORREF color = frame.At(x, y);
            if (color == kBackground) {
                continue;
            }
            ++ink.count;
            ++colors[color];
            ink.bounds.left = std::min<LONG>(ink.bounds.left, x);
            ink.bounds.top = std::min<LONG>(ink.bounds.top, y);
            ink.bounds.right = std::max<LONG>(ink.bounds.right, x + 1);
            ink.bounds.bottom = std::max<LONG>(ink.bounds.bottom, y + 1);
        }
    }
    int best = 0;
    for (const auto& [color, count] : colors) {
        if (count > best) {
            best = count;
            ink.mainColor = color;
        }
    }
    return ink;
}

TEST(ProgressPaintingTest, StripRunsFromGreenToRed) {
    const RenderedFrame frame = RenderFrame(0, false, L"");
    for (int y = 0; y < 4; ++y) {
        EXPECT_COLOR(frame.At(0, y), RGB(105, 190, 70));
        EXPECT_COLOR(frame.At(1, y), RGB(105, 189, 69));
        EXPECT_COLOR(frame.At(240, y), RGB(167, 134, 57));
        EXPECT_COLOR(frame.At(478, y), RGB(229, 80, 45));
        EXPECT_COLOR(frame.At(479, y), RGB(230, 80, 45));
    }
    EXPECT_COLOR(frame.At(0, 4), kBackground);
    EXPECT_COLOR(frame.At(479, 4), kBackground);
}

TEST(ProgressPaintingTest, BarLengthFollowsThePercentage) {
    const std::pair<int, int> cases[] = {{0, 0},    {1, 3},    {2, 7},    {8, 28},
                                         {50, 180}, {99, 356}, {100, 360}};
    for (const auto& [percent, length] : cases) {
        SCOPED_TRACE("P = " + std::to_string(percent));
        const RenderedFrame frame = RenderFrame(percent, false, L"");
        EXPECT_EQ(FillLength(frame), length);
        if (length > 0) {
            // The fill covers the track's full height and nothing around it.
            EXPECT_COLOR(frame.At(40, 110), kStripStart);
            EXPECT_COLOR(frame.At(40, 133), kStripStart);
            EXPECT_COLOR(frame.At(40, 109), kBackground);
            EXPECT_COLOR(frame.At(40, 134), kBackground);
            EXPECT_COLOR(frame.At(39, 120), kBackground);
        }
        if (length < 360) {
            EXPECT_COLOR(frame.At(399, 110), kTrack);
            EXPECT_COLOR(frame.At(399, 133), kTrack);
        }
        EXPECT_COLOR(frame.At(400, 120), kBackground);
    }
}

TEST(ProgressPaintingTest, FillEndsInTheStripColourOfItsFraction) {
    const std::pair<int, COLORREF> cases[] = {{1, RGB(106, 188, 69)},
                                              {25, RGB(136, 162, 63)},
                                              {50, RGB(167, 135, 57)},
                                              {99, RGB(228, 81, 45)},
                                              {100, RGB(230, 80, 45)}};
    for (const auto& [percent, endColor] : cases) {
        SCOPED_TRACE("P = " + std::to_string(percent));
        const RenderedFrame frame = RenderFrame(percent, false, L"");
        const int last = 40 + FillLength(frame) - 1;
        EXPECT_COLOR(frame.At(40, 120), kStripStart);
        EXPECT_COLOR(frame.At(last, 110), endColor);
        EXPECT_COLOR(frame.At(last, 133), endColor);
    }
}

TEST(ProgressPaintingTest, GradientOfOneColumnIsTheStartColour) {
    const RenderedFrame one =
        RenderGradient(480, 215, RECT{40, 110, 41, 134}, kStripStart, RGB(230, 80, 45));
    EXPECT_COLOR(one.At(40, 110), kStripStart);
    EXPECT_COLOR(one.At(40, 133), kStripStart);
    EXPECT_COLOR(one.At(41, 120), RGB(0, 0, 0));
    EXPECT_COLOR(one.At(40, 134), RGB(0, 0, 0));

    // A 220-wide client has a 100-pixel track, so 1 % fills exactly one column.
    const RenderedFrame narrow = RenderFrame({1, false, L""}, 220, 215);
    EXPECT_COLOR(narrow.At(40, 120), kStripStart);
    EXPECT_COLOR(narrow.At(41, 120), kTrack);

    for (const RECT& empty : {RECT{50, 0, 50, 10}, RECT{60, 0, 50, 10}}) {
        const RenderedFrame none = RenderGradient(100, 10, empty, kStripStart, kRed);
        EXPECT_TRUE(std::all_of(none.pixels.begin(), none.pixels.end(),
                                [](uint32_t pixel) { return pixel == 0; }));
    }
}

TEST(ProgressPaintingTest, FailureTurnsBarPercentageAndStatusRedAndAddsTheHint) {
    const RenderedFrame frame = RenderFrame(30, true, L"Failed to create extraction directory.");
    EXPECT_EQ(FillLength(frame), 108);
    for (int x = 40; x < 148; ++x) {
        EXPECT_COLOR(frame.At(x, 110), kRed);
        EXPECT_COLOR(frame.At(x, 133), kRed);
    }
    EXPECT_COLOR(frame.At(148, 120), kTrack);
    EXPECT_COLOR(InkIn(frame, kPercentRect).mainColor, kRed);
    EXPECT_COLOR(InkIn(frame, kStatusRect).mainColor, kRed);
    EXPECT_COLOR(InkIn(frame, kTitleRect).mainColor, kTitle);

    const Ink hint = InkIn(frame, RECT{0, 171, 480, 215});
    ASSERT_GT(hint.count, 0);
    EXPECT_COLOR(hint.mainColor, kGrey);
    EXPECT_GE(hint.bounds.top, 193);
    EXPECT_LE(hint.bounds.bottom, 211);
    EXPECT_GE(hint.bounds.left, 40);
    EXPECT_LT(hint.bounds.right, 240);  // left-aligned

    const RenderedFrame running = RenderFrame(30, false, L"Extracting files...");
    EXPECT_EQ(InkIn(running, RECT{0, 171, 480, 215}).count, 0);
    EXPECT_COLOR(InkIn(running, kPercentRect).mainColor, kTitle);
    EXPECT_COLOR(InkIn(running, kStatusRect).mainColor, kGrey);
}

// Everything outside the text rectangles is exactly background, strip, track or fill.
TEST(ProgressPaintingTest, TextStaysInsideItsRectangles) {
    for (const bool failed : {false, true}) {
        SCOPED_TRACE(failed ? "failed" : "running");
        const RenderedFrame frame = RenderFrame(
            64, failed, L"A status line much too long for its rectangle: WWWWWWWWWWWWWWWWWWWWWWWW");
        const RenderedFrame bare = RenderFrame(64, false, L"");
        int mismatches = 0;
        for (int y = 0; y < 215; ++y) {
            for (int x = 0; x < 480; ++x) {
                const bool text = Contains(kTitleRect, x, y) || Contains(kPercentRect, x, y) ||
                                  Contains(kStatusRect, x, y) || Contains(kHintRect, x, y);
                const bool bar = x >= 40 && x < 40 + 230 && y >= 110 && y < 134;
                if (!text && !(failed && bar) && frame.At(x, y) != bare.At(x, y)) {
                    ++mismatches;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        // Each text appears in its own rectangle.
        EXPECT_GT(InkIn(frame, RECT{0, 10, 480, 44}).count, 0);
        EXPECT_GT(InkIn(frame, RECT{0, 52, 480, 86}).count, 0);
        EXPECT_GT(InkIn(frame, kPercentRect).count, 0);
        EXPECT_GT(InkIn(frame, kStatusRect).count, 0);
    }
    // Each title line is centred in its own rectangle: around x 240, rows 31 and 65.
    const RenderedFrame frame = RenderFrame(0, false, L"");
    for (const auto& [rect, middle] :
         {std::pair{RECT{0, 10, 480, 44}, 31.0}, std::pair{RECT{0, 52, 480, 86}, 65.0}}) {
        const Ink line = InkIn(frame, rect);
        EXPECT_COLOR(line.mainColor, kTitle);
        EXPECT_NEAR((line.bounds.left + line.bounds.right) / 2.0, 240.0, 3.0);
        EXPECT_NEAR((line.bounds.top + line.bounds.bottom) / 2.0, middle, 6.0);
    }
}

TEST(ProgressPaintingTest, LongStatusStaysOnOneLineAndEndsInAnEllipsis) {
    const std::wstring status(200, L'W');
    const RenderedFrame frame = RenderFrame(40, false, status.c_str());
    const Ink ink = InkIn(frame, kStatusRect);
    ASSERT_GT(ink.count, 0);
    EXPECT_LE(ink.bounds.bottom - ink.bounds.top, 16);  // one line of a 13-pixel font
    EXPECT_NEAR((ink.bounds.top + ink.bounds.bottom) / 2.0, 157.0, 4.0);
    EXPECT_LE(ink.bounds.right, 440);
    // A clipped W would reach up to the cap height at the end; the dots sit on the baseline.
    const Ink end = InkIn(frame, RECT{ink.bounds.right - 3, 144, ink.bounds.right, 170});
    EXPECT_LE(end.bounds.bottom - end.bounds.top, 3);
}

}  // namespace
