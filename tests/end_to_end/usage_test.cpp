#include <gtest/gtest.h>

#include "support/harness.h"

namespace {

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    fs::create_directories(folder / L"update");
    const std::wstring install = L" \"" + folder.path + L"\" ";
    const std::wstring refused[] = {
        L"1 u.tar" + install,
        L"1 u.tar" + install + std::wstring(260, L'c'),
        L"1 u.tar \"" + folder.path + L"\\" + std::wstring(200, L'n') + L"\" c.exe",
        L"1 \"a\\\"b.tar\"" + install + L"c.exe",
        L"1 C:\\u\\" + install + L"c.exe",
    };
    for (const std::wstring& arguments : refused) {
        SCOPED_TRACE(testing::Message() << "row " << (&arguments - refused));
        StartedProcess updater = StartProgram(UpdaterExePath(), arguments);
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
