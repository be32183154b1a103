#include "tools/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

// Feeds the pieces as separate reads, then ends the output.
Lines Split(const std::vector<std::string>& reads) {
    Lines lines;
    const LineCallback collect = [&](const wchar_t* line) { lines.emplace_back(line); };
    LineSplitter splitter;
    for (const auto& read : reads) {
        SplitLines(splitter, read.data(), read.size(), collect);
    }
    FinishLines(splitter, collect);
    return lines;
}

TEST(LineSplitter, LineFeedEndsLinesAndEveryCarriageReturnVanishes) {
    EXPECT_EQ(Split({"a\r\nb\r\n"}), (Lines{L"a", L"b"}));
    EXPECT_EQ(Split({"x\ry\n"}), Lines{L"xy"});
    EXPECT_EQ(Split({"a\n\r"}), Lines{L"a"});
    EXPECT_EQ(Split({"\r\r"}), Lines{});
    EXPECT_EQ(Split({"\r\n\n"}), (Lines{L"", L""}));
    EXPECT_EQ(Split({"a\n\nb"}), (Lines{L"a", L"", L"b"}));  // the last one at the end
}

TEST(LineSplitter, LinesJoinAcrossReads) {
    EXPECT_EQ(Split({"ab", "c\r", "\nd", "", "e\n"}), (Lines{L"abc", L"de"}));
    const std::string longLine(1200, 'w');
    EXPECT_EQ(Split({longLine.substr(0, 511), longLine.substr(511, 511), longLine.substr(1022)}),
              Lines{std::wstring(1200, L'w')});
}

TEST(LineSplitter, BytesWidenUnsignedWithoutCodePage) {
    EXPECT_EQ(Split({"\xE9\n\xC3\xA9\n\x7F\x80\xFF"}),
              (Lines{L"\u00E9", L"\u00C3\u00A9", L"\u007F\u0080\u00FF"}));
}

TEST(LineSplitter, NulStaysInTheLineButEndsTheDeliveredText) {
    std::vector<size_t> lengths;
    LineSplitter splitter;
    const std::string bytes("a\0b\n", 4);
    SplitLines(splitter, bytes.data(), bytes.size(), [&](const wchar_t* line) {
        lengths.push_back(std::wstring(line).size());
        EXPECT_EQ(line[2], L'b');  // the rest is still behind the NUL
    });
    EXPECT_EQ(lengths, std::vector<size_t>{1});
}

}  // namespace
