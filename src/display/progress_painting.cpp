#include "display/progress_painting.h"

#include <stdio.h>

#include "display/gdi_objects.h"
#include "display/progress_colors.h"
#include "display/progress_layout.h"

namespace {

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
    UniqueBrush brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.Get());
}

UniqueFont MakeFont(int height, int weight) {
    return UniqueFont(CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
}

// One text in its own font, made and deleted around this single draw.
void DrawLabel(HDC dc, const wchar_t* text, RECT rect, int height, int weight, COLORREF color,
               UINT format) {
    const UniqueFont font = MakeFont(height, weight);
    const ScopedSelection selection(dc, font.Get());
    SetTextColor(dc, color);
    DrawTextW(dc, text, -1, &rect, format);
}

}  // namespace

ProgressSnapshot PaintProgressWindow(HWND window) {
    const ScopedPaint paint(window);
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;

    const UniqueMemoryDc memoryDc(CreateCompatibleDC(paint.Dc()));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(paint.Dc(), width, height));
    const ScopedSelection selection(memoryDc.Get(), bitmap.Get());

    ProgressSnapshot snapshot = TakeSnapshot(Progress());
    ComposeProgressFrame(memoryDc.Get(), width, height, snapshot);
    BitBlt(paint.Dc(), 0, 0, width, height, memoryDc.Get(), 0, 0, SRCCOPY);
    return snapshot;
}

bool SameFrame(const ProgressSnapshot& a, const ProgressSnapshot& b) {
    return a.percent == b.percent && a.failed == b.failed && a.statusText == b.statusText;
}

void ComposeProgressFrame(HDC dc, int width, int height, const ProgressSnapshot& snapshot) {
    const ProgressLayout layout = ComputeProgressLayout(width, height);
    const int percent = snapshot.percent;
    const bool failed = snapshot.failed;

    FillSolid(dc, layout.background, kBackgroundColor);
    FillHorizontalGradient(dc, layout.strip, kStripStartColor, kStripEndColor);
    SetBkMode(dc, TRANSPARENT);

    constexpr UINT kCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    DrawLabel(dc, L"MossHarbor", layout.titleLine1, 32, FW_BOLD, kTitleColor, kCentred);
    DrawLabel(dc, L"Updater", layout.titleLine2, 32, FW_BOLD, kTitleColor, kCentred);

    FillSolid(dc, layout.track, kTrackColor);
    const RECT fill = BarFillRect(width, percent);
    if (fill.right > fill.left) {
        if (failed) {
            FillSolid(dc, fill, kFailureColor);
        } else {
            FillHorizontalGradient(dc, fill, kStripStartColor, BarFillEndColor(percent));
        }
    }

    wchar_t percentText[8];
    _snwprintf_s(percentText, 8, _TRUNCATE, L"%d%%", percent);
    DrawLabel(dc, percentText, layout.percentage, 13, FW_BOLD, failed ? kFailureColor : kTitleColor,
              DT_SINGLELINE | DT_VCENTER);
    DrawLabel(dc, snapshot.statusText.c_str(), layout.status, 13, FW_NORMAL,
              failed ? kFailureColor : kStatusColor, DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
    if (failed) {
        DrawLabel(dc, L"Press Esc to close.", layout.hint, 11, FW_NORMAL, kStatusColor,
                  DT_SINGLELINE | DT_VCENTER);
    }
}

void FillHorizontalGradient(HDC dc, const RECT& rect, COLORREF from, COLORREF to) {
    const int count = rect.right - rect.left;
    for (int i = 0; i < count; ++i) {
        const RECT column{rect.left + i, rect.top, rect.left + i + 1, rect.bottom};
        FillSolid(dc, column, GradientColumnColor(from, to, i, count));
    }
}
