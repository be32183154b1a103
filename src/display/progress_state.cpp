#include "display/progress_state.h"

#include <wchar.h>

ProgressState& Progress() {
    static ProgressState state;
    return state;
}

int ClampPercent(int value) {
    if (value < 0) {
        return 0;
    }
    if (value > 100) {
        return 100;
    }
    return value;
}

namespace {

void RequestRepaint(ProgressState& state) {
    if (state.observer != nullptr) {
        state.observer(state, state.observerContext);
    }
    if (state.window != nullptr) {
        PostMessageW(state.window, kRepaintRequest, 0, 0);
    }
}

}  // namespace

void SetStatus(ProgressState& state, const wchar_t* text) {
    EnterCriticalSection(&state.lock);
    wcsncpy_s(state.statusText, kStatusTextCapacity, text, _TRUNCATE);
    LeaveCriticalSection(&state.lock);
    RequestRepaint(state);
}

// One update posts a progress value per archive line and per file, tens of thousands of them,
// while the picture changes about a hundred times: only a change is worth a repaint request.
void SetProgress(ProgressState& state, int value) {
    const int clamped = ClampPercent(value);
    if (state.percent.exchange(clamped) != clamped) {
        RequestRepaint(state);
    }
}

void ReportFailure(ProgressState& state, const wchar_t* message) {
    state.failed.store(true);
    SetStatus(state, message);
}

ProgressSnapshot TakeSnapshot(ProgressState& state) {
    ProgressSnapshot snapshot;
    snapshot.percent = state.percent.load();
    snapshot.failed = state.failed.load();
    wchar_t text[kStatusTextCapacity];
    EnterCriticalSection(&state.lock);
    wcscpy_s(text, kStatusTextCapacity, state.statusText);
    LeaveCriticalSection(&state.lock);
    snapshot.statusText = text;
    return snapshot;
}

bool TryEnterProtectedPhase(ProgressState& state) {
    int expected = static_cast<int>(WorkerPhase::Interruptible);
    return state.phase.compare_exchange_strong(expected, static_cast<int>(WorkerPhase::Protected));
}

void MarkWorkerEnded(ProgressState& state) {
    state.phase.store(static_cast<int>(WorkerPhase::Ended));
}

bool TryBeginClose(ProgressState& state) {
    int expected = static_cast<int>(WorkerPhase::Interruptible);
    if (state.phase.compare_exchange_strong(expected, static_cast<int>(WorkerPhase::Closing))) {
        return true;
    }
    return expected != static_cast<int>(WorkerPhase::Protected);
}

bool MayDeleteLock(const ProgressState& state, bool workerStarted) {
    return !workerStarted || state.phase.load() == static_cast<int>(WorkerPhase::Ended);
}
