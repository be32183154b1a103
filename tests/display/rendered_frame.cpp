#include "rendered_frame.h"

#include <cstring>
#include <functional>

#include "display/gdi_objects.h"
#include "display/progress_painting.h"

namespace {

RenderedFrame Render(int width, int height, const std::function<void(HDC)>& draw) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    const UniqueBitmap bitmap(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    RenderedFrame frame;
    frame.width = width;
    frame.height = height;
    if (!dc || !bitmap || bits == nullptr) {
        return frame;
    }
    {
        const ScopedSelection selection(dc.Get(), bitmap.Get());
        draw(dc.Get());
        GdiFlush();
    }
    frame.pixels.resize(static_cast<size_t>(width) * height);
    std::memcpy(frame.pixels.data(), bits, frame.pixels.size() * sizeof(uint32_t));
    return frame;
}

struct WindowDc {
    explicit WindowDc(HWND target) : window(target), dc(GetDC(target)) {}
    ~WindowDc() { ReleaseDC(window, dc); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HWND window;
    HDC dc;
};

}  // namespace

COLORREF RenderedFrame::At(int x, int y) const {
    const uint32_t pixel = pixels[static_cast<size_t>(y) * width + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

RenderedFrame RenderFrame(const ProgressSnapshot& snapshot, int width, int height) {
    return Render(width, height,
                  [&](HDC dc) { ComposeProgressFrame(dc, width, height, snapshot); });
}

RenderedFrame RenderFrame(int percent, bool failed, const wchar_t* status) {
    ProgressSnapshot snapshot;
    snapshot.percent = percent;
    snapshot.failed = failed;
    snapshot.statusText = status;
    return RenderFrame(snapshot);
}

RenderedFrame RenderGradient(int width, int height, const RECT& rect, COLORREF from, COLORREF to) {
    return Render(width, height, [&](HDC dc) {
        const RECT all{0, 0, width, height};
        const UniqueBrush black(CreateSolidBrush(RGB(0, 0, 0)));
        FillRect(dc, &all, black.Get());
        FillHorizontalGradient(dc, rect, from, to);
    });
}

RenderedFrame CaptureWindow(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const WindowDc source(window);
    return Render(client.right, client.bottom, [&](HDC dc) {
        BitBlt(dc, 0, 0, client.right, client.bottom, source.dc, 0, 0, SRCCOPY);
    });
}
