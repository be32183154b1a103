#pragma once

#include <windows.h>

// COLORREF values, 0x00BBGGRR.
inline constexpr COLORREF kBackgroundColor = RGB(22, 22, 22);
inline constexpr COLORREF kStripStartColor = RGB(105, 190, 70);
inline constexpr COLORREF kStripEndColor = RGB(230, 80, 45);
inline constexpr COLORREF kTitleColor = RGB(235, 245, 232);
inline constexpr COLORREF kTrackColor = RGB(40, 40, 40);
inline constexpr COLORREF kFailureColor = RGB(230, 75, 45);
inline constexpr COLORREF kStatusColor = RGB(140, 155, 135);

// Colour of column `column` of a left-to-right gradient `columns` wide. Single-precision math
// and truncation, so the bar's colours match the strip's column for column.
COLORREF GradientColumnColor(COLORREF from, COLORREF to, int column, int columns);

// The strip's colour at `percent` of its width, where the bar's fill ends.
COLORREF BarFillEndColor(int percent);
