#include <gtest/gtest.h>

#include "support/harness.h"

namespace {

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Each length limit is met at its edge: one character less is accepted and the update starts.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    fs::create_directories(folder / L"update");
    const std::wstring install = L" \"" + folder.path + L"\" ";
    const auto installOfLength = [&](size_t length) {
        return L" \"" + folder / std::wstring(length - folder.path.size() - 1, L'n') + L"\" ";
    };
    const std::pair<std::wstring, bool> rows[] = {
        {L"1 u.tar" + install, true},
        {L"1 u.tar" + install + std::wstring(260, L'c'), true},
        {L"10 u.tar" + installOfLength(222) + L"c.exe", true},  // working paths of 260
        {L"1 u.tar" + installOfLength(222) + std::wstring(259, L'c'), false},
        {L"1 \"a\\\"b.tar\"" + install + L"c.exe", true},
        {L"1 C:\\u\\" + install + L"c.exe", true},
    };
    for (const auto& [arguments, refused] : rows) {
        SCOPED_TRACE(testing::Message() << "arguments of length " << arguments.size());
        const StartedProcess updater =
            StartProgram(TestProgramPath(refused ? L"..\\mossharbor-updater.exe"
                                                 : L"mossharbor-updater-under-test.exe"),
                         arguments);
        const HWND window =
            WaitForProcessWindow(updater.pid, refused ? L"#32770" : L"MHUpdater", 20000);
        EXPECT_NE(window, nullptr);  // and go on, so the process is still killed below
        wchar_t text[100] = {};
        WaitUntil([&] { return !refused || GetDlgItemTextW(window, 0xFFFF, text, 100) > 0; }, 2000);
        EXPECT_STREQ(text, refused ? L"Usage: mossharbor-updater.exe <pid> <archive> "
                                     L"<install_dir> <exe>"
                                   : L"");
        EXPECT_EQ(WaitForExitCode(updater.process, 200), std::nullopt) << "exited at once";
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(WaitForExitCode(updater.process, refused ? 20000 : 0),
                  refused ? std::optional(1ul) : std::nullopt);
        KillProgram(updater.process);
    }
    EXPECT_TRUE(fs::is_empty(folder / L"update"));
}

}  // namespace
