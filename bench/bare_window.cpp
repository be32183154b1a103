// Wine's own floor for a program with a window: one popup window the updater's size and a
// message loop, nothing else, closed after the given time so that it lives as long as an update:
//   bare-window.exe MILLISECONDS
// Its peak working set is what any windowed program pays under Wine; the updater's above it is
// the updater's own.
#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace {

constexpr wchar_t kClassName[] = L"MHBareWindow";
constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK BareWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// CommandLineToArgvW would load shell32, which is part of what the updater is measured for.
UINT FirstNumber(const wchar_t* text) {
    while (*text != 0 && !std::iswdigit(*text)) {
        ++text;
    }
    return static_cast<UINT>(std::wcstoul(text, nullptr, 10));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = BareWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    const HWND window =
        CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"Bare window", WS_POPUP | WS_VISIBLE, 0, 0,
                        480, 215, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    SetTimer(window, kCloseTimer, FirstNumber(commandLine), nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
