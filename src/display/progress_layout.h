#pragma once

#include <windows.h>

// Where each element of the progress window goes for a client area of width x height.
struct ProgressLayout {
    RECT background;
    RECT strip;
    RECT titleLine1;
    RECT titleLine2;
    RECT track;
    RECT percentage;
    RECT status;
    RECT hint;
};

ProgressLayout ComputeProgressLayout(int width, int height);

// Pixels of the bar that `percent` fills: (width - 120) * percent / 100, truncated.
int BarFillWidth(int width, int percent);

// The filled part of the track; empty (right == left) at 0 %.
RECT BarFillRect(int width, int percent);
