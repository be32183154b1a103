#pragma once

#include "display/progress_state.h"

// Bench-only tallies, written when the process exits to the file named by the environment
// variable MOSSHARBOR_BENCH_COUNTS: "posts=N paints=N", the process's own CPU times, and the
// milliseconds from the process's start at which each status text first appeared
// ("at_waiting=N at_extracting=N ...", keyed by the text's first word) and at exit ("at_exit").
// Called on the worker's thread right after `state` changed.
void CountRepaintPost(const ProgressState& state);
void CountPaint();
