#include "tools/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.h"
#include "tools/unique_handle.h"

namespace {

std::wstring Hex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

std::wstring Out(const std::string& bytes) {
    return L"out:" + Hex(bytes);
}
std::wstring Err(const std::string& bytes) {
    return L"err:" + Hex(bytes);
}

std::wstring CommandLine(const wchar_t* program, const std::vector<std::wstring>& arguments) {
    std::wstring line = L"\"" + TestProgramPath(program) + L"\"";
    for (const auto& argument : arguments) {
        line += L" " + argument;
    }
    return line;
}

std::wstring EmitOutput(const std::vector<std::wstring>& steps) {
    return CommandLine(L"emit-output.exe", steps);
}

struct Captured {
    int exitCode = 0;
    std::vector<std::wstring> lines;
};

Captured RunCapturing(const std::wstring& commandLine) {
    Captured captured;
    captured.exitCode = RunProcess(commandLine.c_str(),
                                   [&](const wchar_t* line) { captured.lines.emplace_back(line); });
    return captured;
}

using Lines = std::vector<std::wstring>;

TEST(RunProcess, DropsEveryCarriageReturnAcrossReadsAndStreams) {
    auto captured = RunCapturing(EmitOutput({Out("a\r\nb\r\n")}));
    EXPECT_EQ(captured.lines, (Lines{L"a", L"b"}));

    // CR and LF split over separate writes, a CR inside a line, stderr into the same pipe.
    captured = RunCapturing(EmitOutput(
        {Out("x\r"), L"pause:100", Out("y\r"), L"pause:100", Out("\n\r\r\n"), Err("e\r\n")}));
    EXPECT_EQ(captured.lines, (Lines{L"xy", L"", L"e"}));
}

TEST(RunProcess, LoneCarriageReturnAtTheEndAddsNoLine) {
    EXPECT_EQ(RunCapturing(EmitOutput({Out("a\n\r")})).lines, Lines{L"a"});
    EXPECT_EQ(RunCapturing(EmitOutput({Out("\r")})).lines, Lines{});
}

TEST(RunProcess, LineLongerThanOneReadArrivesWhole) {
    const std::string longLine(1500, 'q');
    const auto captured = RunCapturing(EmitOutput(
        {Out(longLine.substr(0, 700)), L"pause:100", Out(longLine.substr(700) + "\nend\n")}));
    ASSERT_EQ(captured.lines.size(), 2u);
    EXPECT_EQ(captured.lines[0], std::wstring(1500, L'q'));
    EXPECT_EQ(captured.lines[1], L"end");
}

TEST(RunProcess, OutputBeyondThePipeBufferDoesNotBlockTheChild) {
    const auto captured =
        RunCapturing(EmitOutput({L"repeat:200", Out(std::string(1000, 'z') + "\n"), L"exit:3"}));
    EXPECT_EQ(captured.exitCode, 3);
    EXPECT_EQ(captured.lines, Lines(200, std::wstring(1000, L'z')));
}

TEST(RunProcess, BytesWidenWithoutCodePageAndNulCutsTheLine) {
    const auto captured =
        RunCapturing(EmitOutput({Out("\xE9\n\xC3\xA9\n"), Out({'a', 0, 'b', '\n'})}));
    EXPECT_EQ(captured.lines, (Lines{L"\u00E9", L"\u00C3\u00A9", L"a"}));
}

TEST(RunProcess, FinalUnterminatedLineIsDeliveredAtTheEnd) {
    const auto captured = RunCapturing(EmitOutput({Out("a\n\n"), L"pause:100", Out("b")}));
    EXPECT_EQ(captured.lines, (Lines{L"a", L"", L"b"}));
}

TEST(RunProcess, ExitCodeWithTopBitSetIsNegative) {
    EXPECT_EQ(RunCapturing(EmitOutput({L"exit:0x80000005"})).exitCode, -2147483643);
    EXPECT_EQ(RunProcess(EmitOutput({L"exit:0xFFFFFFFE"}).c_str(), nullptr), -2);
    EXPECT_EQ(RunProcess(EmitOutput({L"exit:12"}).c_str(), nullptr), 12);
}

TEST(RunProcess, MissingProgramGivesMinusOneAndNoLines) {
    const wchar_t* missing = L"\"no-such-program-3f9a.exe\" x";
    const auto captured = RunCapturing(missing);
    EXPECT_EQ(captured.exitCode, -1);
    EXPECT_TRUE(captured.lines.empty());
    EXPECT_EQ(RunProcess(missing, nullptr), -1);
}

TEST(RunProcess, EmptyCallbackInheritsNoHandles) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const std::wstring probe = CommandLine(
        L"signal-inherited-event.exe", {std::to_wstring(reinterpret_cast<uintptr_t>(event.Get()))});

    EXPECT_EQ(RunProcess(probe.c_str(), nullptr), 1);
    EXPECT_EQ(WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // The same probe with capture on shows that it does detect an inherited handle.
    EXPECT_EQ(RunCapturing(probe).exitCode, 0);
    EXPECT_EQ(WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(RunProcess, ReadsUntilAGrandchildHoldingThePipeHasEnded) {
    const std::wstring grandchild = L"emit-output.exe pause:1500 " + Out("late\n");
    const ULONGLONG start = GetTickCount64();
    const auto captured = RunCapturing(CommandLine(L"outlive-parent.exe", {grandchild}));
    EXPECT_GE(GetTickCount64() - start, 1400u);
    EXPECT_EQ(captured.exitCode, 7);
    EXPECT_EQ(captured.lines, (Lines{L"parent", L"late"}));
}

}  // namespace
