// Times ComposeProgressFrame into a window-sized 32-bit DIB, the way a paint composes its
// off-screen frame, in the three states a player sees most. Prints one line per state:
//   <state> median_ms=<m> min_ms=<m> frames=<n>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "display/gdi_objects.h"
#include "display/progress_painting.h"
#include "display/progress_window.h"

namespace {

struct NamedState {
    const char* name;
    ProgressSnapshot snapshot;
};

double NowMs() {
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 500;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kWindowWidth;
    info.bmiHeader.biHeight = -kWindowHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    const UniqueBitmap bitmap(
        CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!dc || !bitmap) {
        std::fprintf(stderr, "compose-frame: no drawing surface\n");
        return 1;
    }
    const ScopedSelection selection(dc.Get(), bitmap.Get());

    const NamedState states[] = {
        {"waiting", {2, false, L"Waiting for client to close..."}},
        {"mid-install", {72, false, L"Installing files..."}},
        {"failed", {30, true, L"Extraction failed. The archive may be corrupted."}},
    };
    for (const NamedState& state : states) {
        for (int i = 0; i < 20; ++i) {  // font caches and first-use costs stay out of the median
            ComposeProgressFrame(dc.Get(), kWindowWidth, kWindowHeight, state.snapshot);
        }
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            const double begin = NowMs();
            ComposeProgressFrame(dc.Get(), kWindowWidth, kWindowHeight, state.snapshot);
            GdiFlush();
            times.push_back(NowMs() - begin);
        }
        std::sort(times.begin(), times.end());
        std::printf("%s median_ms=%.3f min_ms=%.3f frames=%d\n", state.name,
                    times[times.size() / 2], times.front(), frames);
    }
    return 0;
}
