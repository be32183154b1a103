// The updater as the benchmark's counting build runs it: the steps of src/update/main.cpp with
// the same product functions, plus a tally of the repaint requests the worker posts (through the
// progress observer) and of the paints this thread's message loop hands the window. Nothing of
// it is compiled into the shipping exe.
#include <windows.h>

#include "display/com_apartment.h"
#include "display/progress_state.h"
#include "display/progress_window.h"
#include "repaint_tally.h"
#include "update/command_line.h"
#include "update/worker.h"

namespace {

// RunMessageLoop, counting on the way the paints it dispatches to `window`.
long RunCountingMessageLoop(HWND window) {
    long paints = 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_PAINT && message.hwnd == window) {
            ++paints;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return paints;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ProgressState& progress = Progress();
    InitializeCriticalSection(&progress.lock);
    // Static: a worker the player interrupted may still report after this function returns.
    static RepaintTally tally;
    progress.observer = TallyRepaintPost;
    progress.observerContext = &tally;

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
    tally.paints = RunCountingMessageLoop(window);

    // Once the worker has ended, its stage times are complete and nothing writes them any more.
    if (MayDeleteLock(progress, workerStarted)) {
        WriteRepaintTally(tally);
        DeleteCriticalSection(&progress.lock);
    }
    return 0;
}
