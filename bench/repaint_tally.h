#pragma once

#include <atomic>
#include <string>

#include "display/progress_state.h"

// What the counting build learns about one run of the updater.
struct RepaintTally {
    std::atomic<long> posts{0};
    long paints = 0;  // the window's thread only
    // The worker's thread only, like the status text they follow, until the worker has ended.
    std::wstring lastStatus;
    std::string stageTimes;
};

// A ProgressObserver whose context is a RepaintTally: counts the post about to be made and notes
// when each status text first appears.
void TallyRepaintPost(const ProgressState& state, void* tally);

// Writes one line to the file named by the environment variable MOSSHARBOR_BENCH_COUNTS, if set:
// "posts=N paints=N user_ms=N kernel_ms=N", then the milliseconds from the process's start at
// which each status text first appeared, keyed by its first word ("at_waiting=N
// at_extracting=N ..."), and the time of this call as "at_exit=N".
void WriteRepaintTally(const RepaintTally& tally);
