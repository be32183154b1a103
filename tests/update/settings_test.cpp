#include "update/settings.h"

#include <gtest/gtest.h>

#include "support/locked_file.h"
#include "support/test_files.h"
#include "support/update_fixture.h"
#include "update/working_paths.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    SettingsTest() {
        install = folder / L"Norvane Ünïcode";
        roaming = folder / L"roaming";
        MakeDirectories(install + L"\\update");
        MakeDirectories(roaming);
        job.clientPid = 4242;
        wcscpy_s(job.installDir, install.c_str());
        backup = FormWorkingPaths(job).backupDir;
    }

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    std::wstring PerUserConfig() const { return roaming + L"\\Norvane\\norvane_launcher.cfg"; }

    ScratchFolder folder;
    std::wstring install, roaming, backup;
    UpdateJob job;
};

TEST_F(SettingsTest, PlayersFilesWinOverTheUpdateAndTheConfigMigrates) {
    WriteSampleInstallation(install);
    ASSERT_TRUE(BackupSettings(job));
    EXPECT_EQ(ReadTextFile(backup + L"\\data\\audio\\music.ogg"), "player music");
    EXPECT_EQ(ReadTextFile(backup + L"\\norvane_launcher.cfg"), "player config");
    EXPECT_FALSE(PathExists(backup + L"\\data\\assets\\arrows"));

    // What the install stage does: the update overwrites and adds.
    WriteTextFile(In(L"norvane_launcher.cfg"), "shipped config");
    WriteTextFile(In(L"data\\audio\\music.ogg"), "update music");
    WriteTextFile(In(L"data\\audio\\new.ogg"), "update only");

    ASSERT_TRUE(RestoreSettings(job, roaming));
    ExpectPlayersDataKept(install, PerUserConfig());
    // The configuration is never copied back into the installation.
    EXPECT_EQ(ReadTextFile(In(L"norvane_launcher.cfg")), "shipped config");
}

TEST_F(SettingsTest, AnExistingPerUserConfigIsNeverRewritten) {
    WriteTextFile(In(L"norvane_launcher.cfg"), "installed");
    WriteTextFile(PerUserConfig(), "per-user \r\n bytes");
    ASSERT_TRUE(BackupSettings(job));
    ASSERT_TRUE(RestoreSettings(job, roaming));
    EXPECT_EQ(ReadTextFile(PerUserConfig()), "per-user \r\n bytes");

    // A folder in its place counts as existing as well.
    RemoveTreeForTests(PerUserConfig());
    MakeDirectories(PerUserConfig());
    ASSERT_TRUE(RestoreSettings(job, roaming));
    EXPECT_TRUE(IsDirectory(PerUserConfig()));
}

TEST_F(SettingsTest, AnEmptyInstallationBacksUpNothingButStillMakesThePerUserFolder) {
    ASSERT_TRUE(BackupSettings(job));
    EXPECT_TRUE(IsDirectory(backup));
    ASSERT_TRUE(RestoreSettings(job, roaming));
    EXPECT_TRUE(IsDirectory(roaming + L"\\Norvane"));
    EXPECT_FALSE(PathExists(PerUserConfig()));
    EXPECT_EQ(GetLauncherConfigPath(L""), L"");
}

TEST_F(SettingsTest, ALockedFileFailsTheBackupAndTheRestore) {
    WriteTextFile(In(L"data\\audio\\held.ogg"), "player");
    {
        UniqueFileHandle held = HoldFileOpen(In(L"data\\audio\\held.ogg"));
        ASSERT_TRUE(held);
        EXPECT_FALSE(BackupSettings(job));
    }
    ASSERT_TRUE(BackupSettings(job));
    UniqueFileHandle held = HoldFileOpen(In(L"data\\audio\\held.ogg"));
    ASSERT_TRUE(held);
    EXPECT_FALSE(RestoreSettings(job, roaming));
}

TEST_F(SettingsTest, AnInterruptedRunsBackupGivesBackThePlayersOriginals) {
    // An earlier run was killed after its backup, mid-install: the installation holds the
    // update's file, its backup the player's.
    WriteTextFile(In(L"update\\backup_1111\\data\\audio\\music.ogg"), "player music");
    WriteTextFile(In(L"update\\backup_1111\\norvane_launcher.cfg"), "player config");
    WriteTextFile(In(L"data\\audio\\music.ogg"), "update music");
    WriteTextFile(In(L"norvane_launcher.cfg"), "shipped config");

    ASSERT_TRUE(BackupSettings(job));
    ASSERT_TRUE(RestoreSettings(job, roaming));
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_EQ(ReadTextFile(PerUserConfig()), "player config");

    DeleteInterruptedBackups(job);
    EXPECT_FALSE(PathExists(In(L"update\\backup_1111")));
    EXPECT_TRUE(PathExists(backup));
}

}  // namespace
