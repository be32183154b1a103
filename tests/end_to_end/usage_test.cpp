#include <gtest/gtest.h>

#include "support/harness.h"

namespace {

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Each length limit is met at its edge: one character less is accepted and the update starts.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    fs::create_directories(folder / L"update");
    const std::wstring install = L" \"" + folder.path + L"\" ";
    const auto installOfLength = [&](size_t length) {
        return L" \"" + folder.path + L"\\" + std::wstring(length - folder.path.size() - 1, L'n') +
               L"\" ";
    };
    const struct {
        std::wstring arguments;
        bool refused;
    } rows[] = {
        {L"1 u.tar" + install, true},
        {L"1 u.tar" + install + std::wstring(260, L'c'), true},
        {L"10 u.tar" + installOfLength(222) + L"c.exe", true},  // working paths of 260
        {L"1 u.tar" + installOfLength(222) + std::wstring(259, L'c'), false},
        {L"1 \"a\\\"b.tar\"" + install + L"c.exe", true},
        {L"1 C:\\u\\" + install + L"c.exe", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        StartedProcess updater = StartProgram(
            row.refused ? UpdaterExePath() : TestProgramPath(L"mossharbor-updater-under-test.exe"),
            row.arguments);
        if (!row.refused) {
            EXPECT_NE(WaitForProcessWindow(updater.pid, L"MHUpdater", 20000), nullptr);
            KillProgram(updater.process);
            continue;
        }
        const HWND box = WaitForProcessWindow(updater.pid, L"#32770", 20000);
        EXPECT_NE(box, nullptr);  // and go on, so the process is still killed below
        wchar_t text[100] = {};
        WaitUntil([&] { return GetDlgItemTextW(box, 0xFFFF, text, 100) > 0; }, 2000);
        EXPECT_STREQ(text, L"Usage: mossharbor-updater.exe <pid> <archive> <install_dir> <exe>");
        EXPECT_EQ(WaitForExitCode(updater.process, 200), std::nullopt) << "exited before dismissal";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(WaitForExitCode(updater.process, 20000), 1u);
        KillProgram(updater.process);
    }
    EXPECT_TRUE(fs::is_empty(folder / L"update"));
}

}  // namespace
