#include "display/progress_colors.h"
#include "display/progress_layout.h"
#include "display/progress_window.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const RECT& actual, LONG left, LONG top, LONG right, LONG bottom) {
    EXPECT_EQ(actual.left, left);
    EXPECT_EQ(actual.top, top);
    EXPECT_EQ(actual.right, right);
    EXPECT_EQ(actual.bottom, bottom);
}

void ExpectColor(COLORREF actual, int red, int green, int blue) {
    EXPECT_EQ(actual, RGB(red, green, blue))
        << "got " << int{GetRValue(actual)} << ", " << int{GetGValue(actual)} << ", "
        << int{GetBValue(actual)};
}

TEST(ProgressLayoutTest, RectanglesFollowTheClientSize) {
    const ProgressLayout layout = ComputeProgressLayout(480, 215);
    ExpectRect(layout.background, 0, 0, 480, 215);
    ExpectRect(layout.strip, 0, 0, 480, 4);
    ExpectRect(layout.titleLine1, 0, 10, 480, 52);
    ExpectRect(layout.titleLine2, 0, 44, 480, 86);
    ExpectRect(layout.track, 40, 110, 400, 134);
    ExpectRect(layout.percentage, 406, 110, 476, 134);
    ExpectRect(layout.status, 40, 144, 440, 170);
    ExpectRect(layout.hint, 40, 193, 440, 211);
    // Product first, then truncation: 360 * 1 / 100 is 3, not 0.
    EXPECT_EQ(BarFillWidth(480, 1), 3);
    EXPECT_EQ(BarFillWidth(220, 1), 1);
    ExpectRect(BarFillRect(480, 0), 40, 110, 40, 134);
}

TEST(ProgressColorsTest, GradientColumnsTruncateInSinglePrecision) {
    // Falling channels drop below their start from the second column on.
    ExpectColor(GradientColumnColor(kStripStartColor, kStripEndColor, 1, 480), 105, 189, 69);
    ExpectColor(GradientColumnColor(kStripStartColor, kStripEndColor, 479, 480), 230, 80, 45);
    // A single column has t = 0, not a division by zero.
    ExpectColor(GradientColumnColor(kStripStartColor, kStripEndColor, 0, 1), 105, 190, 70);
    // Channels move independently, rising and falling across the full range.
    ExpectColor(GradientColumnColor(RGB(0, 255, 10), RGB(255, 0, 10), 1, 3), 127, 127, 10);
}

TEST(ProgressColorsTest, FillEndsInTheStripColourAtTheSameFraction) {
    ExpectColor(BarFillEndColor(1), 106, 188, 69);
    ExpectColor(BarFillEndColor(25), 136, 162, 63);
    ExpectColor(BarFillEndColor(50), 167, 135, 57);
    ExpectColor(BarFillEndColor(99), 228, 81, 45);
    ExpectColor(BarFillEndColor(100), 230, 80, 45);
}

TEST(ProgressWindowPlacementTest, CentresWithTruncatingDivision) {
    POINT origin = CenteredWindowOrigin(1920, 1080);
    EXPECT_EQ(origin.x, 720);
    EXPECT_EQ(origin.y, 432);  // 432.5
    origin = CenteredWindowOrigin(400, 300);
    EXPECT_EQ(origin.x, -40);
    origin = CenteredWindowOrigin(399, 215);
    EXPECT_EQ(origin.x, -40);  // toward zero, not -41
    EXPECT_EQ(origin.y, 0);
}

}  // namespace
