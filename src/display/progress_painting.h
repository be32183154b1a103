#pragma once

#include <windows.h>

#include "display/progress_state.h"

// The WM_PAINT handler: composes a frame from a snapshot of the shared state off-screen and
// copies it to the window in one blit. Returns that snapshot: what the window now shows.
ProgressSnapshot PaintProgressWindow(HWND window);

// Whether two snapshots give the same frame: the frame depends on these three values only.
bool SameFrame(const ProgressSnapshot& a, const ProgressSnapshot& b);

// Draws one whole frame for `snapshot` into any device context of width x height.
void ComposeProgressFrame(HDC dc, int width, int height, const ProgressSnapshot& snapshot);

// Left-to-right linear gradient, one solid column at a time.
void FillHorizontalGradient(HDC dc, const RECT& rect, COLORREF from, COLORREF to);
