#include "tools/line_splitter.h"

void SplitLines(LineSplitter& splitter, const char* bytes, size_t count,
                const LineCallback& onLine) {
    for (size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\n') {
            onLine(splitter.pending.c_str());
            splitter.pending.clear();  // keeps its storage for the next line
        } else if (byte != '\r') {
            splitter.pending.push_back(static_cast<wchar_t>(byte));
        }
    }
}

void FinishLines(LineSplitter& splitter, const LineCallback& onLine) {
    if (!splitter.pending.empty()) {
        onLine(splitter.pending.c_str());
        splitter.pending.clear();
    }
}
