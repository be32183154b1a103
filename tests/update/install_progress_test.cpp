#include "update/install_progress.h"

#include <gtest/gtest.h>

#include "update/working_paths.h"

namespace {

TEST(InstallPercent, MovesFrom55To90AndNeverPast) {
    EXPECT_EQ(InstallPercent(1, 200), 55);
    EXPECT_EQ(InstallPercent(100, 200), 72);
    EXPECT_EQ(InstallPercent(200, 200), 90);
    EXPECT_EQ(InstallPercent(201, 200), 90);
    EXPECT_EQ(InstallPercent(1, 1), 90);
    // The count and the copy can disagree: a tree that could not be counted.
    EXPECT_EQ(InstallPercent(1, 0), 90);
}

TEST(WorkingPaths, AreFormedBelowTheInstallationWithThePidUnsigned) {
    UpdateJob job;
    job.clientPid = -1;
    wcscpy_s(job.installDir, L"C:\\Games\\Norvane\\");
    const WorkingPaths paths = FormWorkingPaths(job);
    // Never normalised: a trailing backslash doubles.
    EXPECT_STREQ(paths.extractionDir, L"C:\\Games\\Norvane\\\\update\\extract");
    EXPECT_STREQ(paths.backupDir, L"C:\\Games\\Norvane\\\\update\\backup_4294967295");
    EXPECT_STREQ(paths.pendingVersionFile,
                 L"C:\\Games\\Norvane\\\\norvane_client_pending_version.txt");
    EXPECT_STREQ(paths.currentVersionFile, L"C:\\Games\\Norvane\\\\norvane_version.txt");
}

}  // namespace
