#include "update/run_updater.h"

#include "display/com_apartment.h"
#include "display/progress_state.h"
#include "display/progress_window.h"
#include "update/command_line.h"
#include "update/worker.h"

int RunUpdater(HINSTANCE instance, void (*runMessageLoop)(HWND window)) {
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);

    std::unique_ptr<UpdateJob> job = ParseCommandLine(ProcessArguments());
    if (!job) {
        MessageBoxW(nullptr, kUsageText, kUsageCaption, MB_ICONERROR);
        return 1;
    }

    const ComApartment com;
    const HWND window = CreateProgressWindow(instance);
    progress.window = window;
    if (window == nullptr) {
        return 1;
    }

    const bool workerStarted = StartWorker(std::move(job));
    // Nothing would ever move in the window: the player learns that nothing was changed, and
    // may close it.
    if (!workerStarted) {
        ReportFailure(progress, L"The update could not be started. Nothing was changed.");
    }
    runMessageLoop(window);

    // A worker still waiting or extracting when the player closed the window may yet touch the
    // lock; the process ends right after this, which stops it.
    if (MayDeleteLock(progress, workerStarted)) {
        DeleteCriticalSection(&progress.lock);
    }
    return 0;
}
