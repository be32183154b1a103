#include "display/progress_window.h"

#include <optional>

#include "display/progress_painting.h"
#include "display/progress_state.h"
#include "display/taskbar_progress.h"

POINT CenteredWindowOrigin(int screenWidth, int screenHeight) {
    return POINT{(screenWidth - kWindowWidth) / 2, (screenHeight - kWindowHeight) / 2};
}

HWND CreateProgressWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = UpdaterWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassExW(&windowClass);

    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const POINT origin = CenteredWindowOrigin(screenWidth, screenHeight);
    return CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWindowTitle, WS_POPUP | WS_VISIBLE,
                           origin.x, origin.y, kWindowWidth, kWindowHeight, nullptr, nullptr,
                           instance, nullptr);
}

namespace {

// What the last paint drew. Most repaint requests (one per archive line or copied file) leave
// the bar and the text as they were; repainting those identical frames took several times the
// CPU of the update's own work.
std::optional<ProgressSnapshot> shown;

bool ShowsCurrentState() {
    return shown && SameFrame(*shown, TakeSnapshot(Progress()));
}

// A close while the worker changes the installation would leave a half-updated game with the
// player's data only in the backup, so it is refused until the worker has ended.
void CloseIfAllowed(HWND window) {
    if (TryBeginClose(Progress())) {
        DestroyWindow(window);
    }
}

}  // namespace

LRESULT CALLBACK UpdaterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsTaskbarButtonCreatedMessage(message)) {
        AttachTaskbarProgress(window, Progress());
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            DetachTaskbarProgress();
            shown.reset();
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            shown = PaintProgressWindow(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_NCHITTEST: {
            const LRESULT hit = DefWindowProcW(window, message, wParam, lParam);
            return hit == HTCLIENT ? HTCAPTION : hit;
        }
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                CloseIfAllowed(window);
            }
            return 0;
        case WM_CLOSE:
            CloseIfAllowed(window);
            return 0;
        case kRepaintRequest:
            if (!ShowsCurrentState()) {
                InvalidateRect(window, nullptr, FALSE);
            }
            UpdateTaskbarProgress(window, Progress());
            return 0;
        case kCloseRequest:
            DestroyWindow(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
