#pragma once

#include <cstddef>
#include <string>

#include "tools/child_process.h"

// Turns a child's raw output into lines. The pending text lives across reads so a line that
// arrives in pieces is delivered once, whole.
struct LineSplitter {
    std::wstring pending;
};

// LF ends a line (an empty one too), every CR is dropped, any other byte becomes the character
// of the same value: the output's code page is unknown, so none is guessed.
void SplitLines(LineSplitter& splitter, const char* bytes, size_t count,
                const LineCallback& onLine);

// Delivers a last line that had no LF, if it holds anything.
void FinishLines(LineSplitter& splitter, const LineCallback& onLine);
