#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Right after a game exits, scanners and indexers often hold its files for a moment. A copy or
// move that runs into such a hold is tried again after growing pauses, within these limits.
inline constexpr DWORD kFileRetryLimitMs = 2000;
inline constexpr DWORD kTreeRetryLimitMs = 20000;

// Time spent pausing for held files during one whole tree walk, shared by all its levels.
struct RetryBudget {
    DWORD pausedMs = 0;
};

// Only a hold by another process goes away by itself; every other failure is final.
bool IsHeldByAnotherProcess(DWORD error);

// The errors that mean the volume is full; a player is told so, never sent after another cause.
bool IsDiskFull(DWORD error);

// The pause before the next attempt at one file after `failedAttempts` failures, given what this
// file and the whole copy have paused so far; 0 means give up.
DWORD NextRetryPause(int failedAttempts, DWORD filePausedMs, DWORD treePausedMs);

// Calls `attempt` (0 on success, otherwise the error) until it succeeds, fails with an error
// that is not a hold, or the limits are used up. `pause` waits the given milliseconds. Returns the
// last attempt's result.
DWORD RetryWhileHeld(const std::function<DWORD()>& attempt, const std::function<void(DWORD)>& pause,
                     RetryBudget& budget);

// RetryWhileHeld for one file on its own, with its own budget and the usual pause.
DWORD RetryFileWhileHeld(const std::function<DWORD()>& attempt);

// The pause between attempts at a held file. SleepEx, apart from every other pause, so that the
// test build can shorten these alone and run a whole walk's budget in a moment.
void PauseWhileHeld(DWORD ms);

// A platform call's result as RetryWhileHeld wants it: 0, or the error that made it fail.
DWORD Outcome(BOOL succeeded);
