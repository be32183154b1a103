#include "display/progress_painting.h"

void PaintProgressWindow(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

void ComposeProgressFrame(HDC, int, int, const ProgressSnapshot&) {}

void FillHorizontalGradient(HDC, const RECT&, COLORREF, COLORREF) {}
