#include <gtest/gtest.h>

#include "support/process_harness.h"
#include "support/test_files.h"
#include "update/command_line.h"

namespace {

// The launcher's view of a refused command line: one error box, then exit code 1.
void ExpectUsageBox(const std::wstring& exe, const std::vector<std::wstring>& arguments) {
    StartedProcess updater = StartProgram(exe, arguments);
    ASSERT_TRUE(updater.process) << "cannot start " << Narrow(exe);
    auto box = WaitForMessageBox(updater.pid, 20000);
    ASSERT_TRUE(box.has_value()) << "no message box";
    EXPECT_EQ(box->caption, kUsageCaption);
    EXPECT_EQ(box->text, kUsageText);
    EXPECT_EQ(WaitForExitCode(updater.process, 300), std::nullopt) << "exited before dismissal";
    DismissMessageBox(box->box);
    EXPECT_EQ(WaitForExitCode(updater.process, 20000), 1u);
    KillProgram(updater.process);
}

TEST(Usage, ThreeArgumentsShowTheUsageBoxAndExitWithOne) {
    ExpectUsageBox(UpdaterExePath(), {L"123", L"C:\\u.tar", L"C:\\Games"});
}

TEST(Usage, OverLongAndUnsafeArgumentsAreRefusedBeforeAnythingIsTouched) {
    ScratchFolder folder;
    WriteTextFile(folder / L"update\\keep.txt", "x");
    const std::wstring longInstallDir = folder.Path() + L"\\" + std::wstring(240, L'n');
    ExpectUsageBox(UpdaterExePath(), {L"1", folder / L"u.tar", longInstallDir, L"c.exe"});
    ExpectUsageBox(UpdaterExePath(), {L"1", folder / L"a\"b.tar", folder.Path(), L"c.exe"});
    EXPECT_TRUE(PathExists(folder / L"update\\keep.txt"));
    EXPECT_FALSE(PathExists(folder / L"update\\extract"));
}

}  // namespace
