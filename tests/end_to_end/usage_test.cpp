#include <gtest/gtest.h>

#include "support/process_harness.h"
#include "support/test_files.h"

namespace {

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    WriteTextFile(folder / L"update\\keep.txt", "x");
    const std::wstring archive = folder / L"u.tar";
    const std::wstring tooLong(260, L'a');
    const std::vector<std::vector<std::wstring>> refused = {
        {L"1", archive, folder.Path()},
        {L"1", archive, folder.Path(), tooLong},
        {L"1", archive, folder.Path() + L"\\" + std::wstring(200, L'n'), L"c.exe"},
        {L"1", folder / L"a\"b.tar", folder.Path(), L"c.exe"},
        {L"1", folder.Path() + L"\\", folder.Path(), L"c.exe"},
    };
    for (const auto& arguments : refused) {
        SCOPED_TRACE(testing::Message() << "row " << (&arguments - refused.data()));
        StartedProcess updater = StartProgram(UpdaterExePath(), arguments);
        const HWND box = WaitForProcessWindow(updater.pid, L"#32770", 20000);
        ASSERT_NE(box, nullptr);
        for (int i = 0; i < 100 && WindowText(box).empty(); ++i) {
            Sleep(20);
        }
        EXPECT_EQ(WindowText(box),
                  L"Usage: mossharbor-updater.exe <pid> <archive> <install_dir> <exe>");
        EXPECT_EQ(WaitForExitCode(updater.process, 200), std::nullopt) << "exited before dismissal";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(WaitForExitCode(updater.process, 20000), 1u);
        KillProgram(updater.process);
    }
    EXPECT_EQ(EntryCount(folder / L"update"), 1u);
}

}  // namespace
