#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "display/progress_state.h"

// One frame composed into a 32-bit top-down DIB section, read back pixel by pixel.
struct RenderedFrame {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, row after row

    COLORREF At(int x, int y) const;
};

RenderedFrame RenderFrame(const ProgressSnapshot& snapshot, int width = 480, int height = 215);
RenderedFrame RenderFrame(int percent, bool failed, const wchar_t* status);

// What the window shows now, read back from its device context.
RenderedFrame CaptureWindow(HWND window);

// Draws only the gradient into a background-coloured DIB of the same kind.
RenderedFrame RenderGradient(int width, int height, const RECT& rect, COLORREF from, COLORREF to);
