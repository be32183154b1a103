#pragma once

// Bench-only tallies. The totals are written when the process exits, to the file named by the
// environment variable MOSSHARBOR_BENCH_COUNTS, as "posts=N paints=N"
// followed by the process's own CPU times.
void CountRepaintPost();
void CountPaint();
