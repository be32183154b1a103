// Shows the real progress window frozen in one state, for screenshots:
//   progress-preview.exe PERCENT failed|running STATUS
// Esc closes it, as in the updater.
#include <windows.h>

#include <string>

#include "display/progress_state.h"
#include "display/progress_window.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        return 2;
    }
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    SetProgress(progress, _wtoi(argv[1]));
    if (std::wstring(argv[2]) == L"failed") {
        ReportFailure(progress, argv[3]);
        MarkWorkerEnded(progress);
    } else {
        SetStatus(progress, argv[3]);
    }

    const HWND window = CreateProgressWindow(GetModuleHandleW(nullptr));
    if (window == nullptr) {
        return 1;
    }
    progress.window = window;
    RunMessageLoop();
    DeleteCriticalSection(&progress.lock);
    return 0;
}
