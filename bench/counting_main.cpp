// The updater as the benchmark's counting build runs it: the product's own start-up, plus a
// tally of the repaint requests the worker posts (through the progress observer) and of the
// paints this thread's message loop hands the window. Nothing of it is in the shipping exe.
#include <windows.h>

#include "display/progress_state.h"
#include "repaint_tally.h"
#include "update/run_updater.h"

namespace {

// Static: a worker the player interrupted may still report after the entry point returns.
RepaintTally tally;

// RunMessageLoop, counting on the way the paints it dispatches to `window`.
void RunCountingMessageLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_PAINT && message.hwnd == window) {
            ++tally.paints;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Progress().observer = TallyRepaintPost;
    Progress().observerContext = &tally;
    const int exitCode = RunUpdater(instance, RunCountingMessageLoop);
    // Once the worker has ended, its stage times are complete and nothing writes them any more.
    if (Progress().phase.load() == static_cast<int>(WorkerPhase::Ended)) {
        WriteRepaintTally(tally);
    }
    return exitCode;
}
