#pragma once

#include <windows.h>

#include <atomic>
#include <string>

// Window messages from the worker to the window; both are posted, never sent.
inline constexpr UINT kRepaintRequest = WM_APP;
inline constexpr UINT kCloseRequest = WM_APP + 1;

inline constexpr size_t kStatusTextCapacity = 256;

// Whether a close request from the player may end the process now. The worker moves from
// Interruptible to Protected before it changes anything in the installation; the window moves
// from Interruptible to Closing. Whoever swaps first wins, so a close can never cut an install.
enum class WorkerPhase : int {
    Interruptible = 0,  // waiting for the client or extracting: nothing installed yet
    Protected = 1,      // backing up, installing, restoring, cleaning up
    Ended = 2,          // the worker has returned (success or failure)
    Closing = 3,        // the player closed the window before anything was changed
};

struct ProgressState;
// Called on the worker's thread for every repaint request, just before it is posted: a new status
// or a new percentage. Tests and the benchmark follow the update through it.
using ProgressObserver = void (*)(const ProgressState& state, void* context);

// The only channel between the worker and the window.
struct ProgressState {
    wchar_t statusText[kStatusTextCapacity] = L"Starting...";
    HWND window = nullptr;
    std::atomic<int> percent{0};
    std::atomic<bool> failed{false};
    std::atomic<int> phase{static_cast<int>(WorkerPhase::Interruptible)};
    CRITICAL_SECTION lock{};

    ProgressObserver observer = nullptr;
    void* observerContext = nullptr;
};

// The process's single instance, shared by the entry point, the worker and the window.
ProgressState& Progress();

int ClampPercent(int value);

void SetStatus(ProgressState& state, const wchar_t* text);
void SetProgress(ProgressState& state, int value);
// Marks the update as failed and shows why; the flag is stored before the text so the
// repaint that the text triggers already draws the failure colours.
void ReportFailure(ProgressState& state, const wchar_t* message);

struct ProgressSnapshot {
    int percent = 0;
    bool failed = false;
    std::wstring statusText;
};
ProgressSnapshot TakeSnapshot(ProgressState& state);

// Worker side: false when the player already closed the window, in which case the worker
// must stop without touching the installation.
bool TryEnterProtectedPhase(ProgressState& state);
void MarkWorkerEnded(ProgressState& state);
// Window side: true when the window may close now.
bool TryBeginClose(ProgressState& state);
// Entry point side: the lock may be deleted only once no worker can reach it any more.
bool MayDeleteLock(const ProgressState& state, bool workerStarted);
