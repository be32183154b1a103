#include <gtest/gtest.h>

#include "support/harness.h"

namespace {

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Each length limit is met at its edge: one character less is accepted, and the update then waits
// for the client (this test) until Esc closes it at once, having touched nothing.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    fs::create_directories(folder / L"update");
    const std::wstring install = L" \"" + folder.path + L"\" ";
    const auto installOfLength = [&](size_t length) {
        return L" \"" + folder / std::wstring(length - folder.path.size() - 1, L'n') + L"\" ";
    };
    // The working paths grow with the client id's digits: 260 with two digits at 222.
    const std::wstring client = std::to_wstring(GetCurrentProcessId());
    const std::pair<std::wstring, bool> rows[] = {
        {L"1 u.tar" + install, true},
        {L"1 u.tar" + install + std::wstring(260, L'c'), true},
        {L"10 u.tar" + installOfLength(222) + L"c.exe", true},
        {client + L" u.tar" + installOfLength(223 - client.size()) + std::wstring(259, L'c'),
         false},
        {L"1 \"a\\\"b.tar\"" + install + L"c.exe", true},
        {L"1 C:\\u\\" + install + L"c.exe", true},
    };
    for (const auto& [arguments, refused] : rows) {
        SCOPED_TRACE(testing::Message() << "arguments of length " << arguments.size());
        const UniqueHandle updater =
            StartProgram(TestProgramPath(refused ? L"..\\mossharbor-updater.exe"
                                                 : L"mossharbor-updater-under-test.exe"),
                         arguments);
        const HWND window = WaitForProcessWindow(GetProcessId(updater.Get()),
                                                 refused ? L"#32770" : L"MHUpdater", 20000);
        EXPECT_NE(window, nullptr);  // and go on, so the process is still killed below
        wchar_t text[100] = {};
        WaitUntil([&] { return !refused || GetDlgItemTextW(window, 0xFFFF, text, 100) > 0; }, 2000);
        EXPECT_STREQ(text, refused ? L"Usage: mossharbor-updater.exe <pid> <archive> "
                                     L"<install_dir> <exe>"
                                   : L"");
        EXPECT_EQ(WaitForExitCode(updater, 300), std::nullopt) << "exited unasked";
        PostMessageW(window, refused ? WM_COMMAND : WM_KEYDOWN, refused ? IDOK : VK_ESCAPE, 1);
        EXPECT_EQ(WaitForExitCode(updater, 5000), refused ? 1u : 0u);
        KillProgram(updater);
    }
    EXPECT_TRUE(fs::is_empty(folder / L"update"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), {}), 1) << "an installation made";
}

}  // namespace
