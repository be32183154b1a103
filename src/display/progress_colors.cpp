#include "display/progress_colors.h"

namespace {

int Channel(COLORREF color, int shift) {
    return static_cast<int>((color >> shift) & 0xFF);
}

// base + delta * t in single precision, truncated toward zero, low 8 bits kept.
COLORREF Interpolate(COLORREF from, COLORREF to, float t) {
    COLORREF result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const float base = static_cast<float>(Channel(from, shift));
        const float delta = static_cast<float>(Channel(to, shift) - Channel(from, shift));
        const float value = delta * t + base;
        result |= (static_cast<COLORREF>(static_cast<int>(value)) & 0xFF) << shift;
    }
    return result;
}

}  // namespace

COLORREF GradientColumnColor(COLORREF from, COLORREF to, int column, int columns) {
    const float t =
        columns > 1 ? static_cast<float>(column) / static_cast<float>(columns - 1) : 0.0f;
    return Interpolate(from, to, t);
}

COLORREF BarFillEndColor(int percent) {
    return Interpolate(kStripStartColor, kStripEndColor, static_cast<float>(percent) / 100.0f);
}
