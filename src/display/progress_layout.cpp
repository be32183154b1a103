#include "display/progress_layout.h"

namespace {

constexpr int kTrackLeft = 40;
constexpr int kTrackTop = 110;
constexpr int kTrackBottom = 134;

}  // namespace

ProgressLayout ComputeProgressLayout(int width, int height) {
    ProgressLayout layout;
    layout.background = {0, 0, width, height};
    layout.strip = {0, 0, width, 4};
    // The title rectangles overlap on purpose: each line is centred in its own.
    layout.titleLine1 = {0, 10, width, 52};
    layout.titleLine2 = {0, 44, width, 86};
    layout.track = {kTrackLeft, kTrackTop, width - 80, kTrackBottom};
    layout.percentage = {width - 74, kTrackTop, width - 4, kTrackBottom};
    layout.status = {40, 144, width - 40, 170};
    layout.hint = {40, height - 22, width - 40, height - 4};
    return layout;
}

int BarFillWidth(int width, int percent) {
    return (width - 120) * percent / 100;
}

RECT BarFillRect(int width, int percent) {
    return {kTrackLeft, kTrackTop, kTrackLeft + BarFillWidth(width, percent), kTrackBottom};
}
