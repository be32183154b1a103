#include "update/command_line.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::wstring> Arguments(std::wstring pid, std::wstring archive = L"C:\\dl\\u.tar",
                                    std::wstring installDir = L"C:\\Games\\Norvane",
                                    std::wstring exe = L"norvane.exe") {
    return {L"mossharbor-updater.exe", pid, archive, installDir, exe};
}

TEST(CommandLine, NeedsFourArgumentsAndIgnoresExtras) {
    EXPECT_EQ(ParseCommandLine({L"updater.exe", L"1", L"a", L"b"}), nullptr);
    EXPECT_EQ(ParseCommandLine({}), nullptr);

    auto job = ParseCommandLine({L"u.exe", L"42", L"a.tar", L"C:\\dir", L"c.exe", L"extra", L"x"});
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->clientPid, 42);
    EXPECT_STREQ(job->archivePath, L"a.tar");
    EXPECT_STREQ(job->installDir, L"C:\\dir");
    EXPECT_STREQ(job->exeName, L"c.exe");
}

TEST(CommandLine, PidFollowsWtoi) {
    EXPECT_EQ(ParseCommandLine(Arguments(L"12abc"))->clientPid, 12);
    EXPECT_EQ(ParseCommandLine(Arguments(L"abc"))->clientPid, 0);
    EXPECT_EQ(ParseCommandLine(Arguments(L"-7"))->clientPid, -7);
    EXPECT_EQ(ParseCommandLine(Arguments(L"99999999999"))->clientPid, 2147483647);
    EXPECT_EQ(ParseCommandLine(Arguments(L"-99999999999"))->clientPid, -2147483647 - 1);
}

TEST(CommandLine, FieldsAreZeroFilledBehindTheText) {
    auto job = ParseCommandLine(Arguments(L"1", L"ab"));
    ASSERT_NE(job, nullptr);
    for (size_t i = 2; i < kPathCapacity; ++i) {
        ASSERT_EQ(job->archivePath[i], L'\0') << i;
    }
}

TEST(CommandLine, ArgumentsOf259CharactersFitAnd260AreRefused) {
    const std::wstring fits(259, L'a');
    const std::wstring tooLong(260, L'a');
    auto job = ParseCommandLine(Arguments(L"1", fits, L"C:\\g", fits));
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(std::wstring(job->archivePath), fits);
    EXPECT_EQ(std::wstring(job->exeName), fits);

    EXPECT_EQ(ParseCommandLine(Arguments(L"1", tooLong)), nullptr);
    EXPECT_EQ(ParseCommandLine(Arguments(L"1", L"a.tar", L"C:\\g", tooLong)), nullptr);
    EXPECT_EQ(ParseCommandLine(Arguments(L"1" + std::wstring(259, L'0'))), nullptr);
}

TEST(CommandLine, InstallDirMustLeaveRoomForTheLongestWorkingPath) {
    // 15 + digits + 21 characters follow installDir in the backup configuration path.
    EXPECT_EQ(LongestWorkingPathLength(100, 1234), 100u + 15 + 4 + 21);
    EXPECT_EQ(LongestWorkingPathLength(0, -1), 15u + 10 + 21);  // printed as 4294967295

    const std::wstring fits(259 - 36 - 4, L'd');
    EXPECT_NE(ParseCommandLine(Arguments(L"1234", L"a.tar", fits)), nullptr);
    EXPECT_EQ(ParseCommandLine(Arguments(L"1234", L"a.tar", fits + L"d")), nullptr);
    // A negative pid is printed with ten digits, so it leaves less room.
    EXPECT_EQ(ParseCommandLine(Arguments(L"-1", L"a.tar", fits)), nullptr);
}

TEST(CommandLine, ArchivePathMustNotBreakTheToolsQuoting) {
    EXPECT_EQ(ParseCommandLine(Arguments(L"1", L"C:\\dl\\a\" --evil \"b.tar")), nullptr);
    EXPECT_EQ(ParseCommandLine(Arguments(L"1", L"C:\\dl\\")), nullptr);
    EXPECT_NE(ParseCommandLine(Arguments(L"1", L"C:\\dl\\with space\\u.tar")), nullptr);
}

}  // namespace
