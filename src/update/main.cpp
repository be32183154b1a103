#include <windows.h>

#include "display/progress_window.h"
#include "update/run_updater.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunUpdater(instance, [](HWND) { RunMessageLoop(); });
}
