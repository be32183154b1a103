#include "display/progress_state.h"

#include <wchar.h>

#ifdef MOSSHARBOR_BENCH_COUNTERS
#include "bench_counters.h"
#endif

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
#ifdef MOSSHARBOR_BENCH_COUNTERS
        CountRepaintPost(state);
#endif
    }
}

}  // namespace

void SetStatus(ProgressState& state, const wchar_t* text) {
    EnterCriticalSection(&state.lock);
    wcsncpy_s(state.statusText, kStatusTextCapacity, text, _TRUNCATE);
    LeaveCriticalSection(&state.lock);
    RequestRepaint(state);
}

void SetProgress(ProgressState& state, int value) {
    state.percent.exchange(ClampPercent(value));
    RequestRepaint(state);
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
