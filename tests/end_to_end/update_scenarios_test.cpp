// The real updater started as its own process, the way the launcher starts it, on archives that
// the real archive tool wrote; checked by what the player and the launcher can observe.
#include <gtest/gtest.h>

#include "end_to_end/updater_run.h"

namespace {

constexpr DWORD kUpdateTimeoutMs = 60000;
constexpr wchar_t kIncompleteInstall[] =
    L"Some files could not be installed. Close the game and try again.";

TEST(EndToEnd, WaitsForTheClientThenUpdatesAndRelaunches) {
    UpdaterRun run;
    run.Start(run.client.pid);
    // The game is still running: nothing may be touched yet.
    Sleep(1500);
    EXPECT_EQ(run.WaitForExit(0), std::nullopt);
    EXPECT_FALSE(PathExists(run.In(L"update\\extract")));
    run.ExpectInstallationUntouched();

    WriteTextFile(run.folder / L"client may exit", "");
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

TEST(EndToEnd, CompressedAndZipArchivesAreChosenByContent) {
    for (const wchar_t* format : {L"-cz", L"-c --format zip"}) {
        SCOPED_TRACE(testing::Message() << "tar.exe " << format);
        UpdaterRun run(format);
        run.Start(0);
        EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
        run.ExpectUpdated();
    }
}

TEST(EndToEnd, FailuresBeforeTheInstallKeepTheInstallationAsItWas) {
    {
        SCOPED_TRACE("no update folder");
        UpdaterRun run;
        RemoveDirectoryW(run.In(L"update").c_str());
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Failed to create extraction directory.");
        run.ExpectInstallationUntouched();
    }
    {
        SCOPED_TRACE("an archive cut short");
        UpdaterRun run;
        const std::string whole = ReadTextFile(run.archive);
        run.archive = run.folder / L"cut.tar";
        WriteTextFile(run.archive, whole.substr(0, 1500));
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Extraction failed. The archive may be corrupted.");
        run.ExpectInstallationUntouched();
        EXPECT_EQ(EntryCount(run.In(L"update")), 0u) << "a partial extraction was left behind";
    }
    {
        SCOPED_TRACE("a member that climbs out of the extraction folder");
        UpdaterRun run;
        // The tool will not write such a member from files, but it will from a description.
        WriteTextFile(run.folder / L"evil\\evil.txt", "planted");
        WriteTextFile(run.folder / L"evil\\evil.mtree",
                      "#mtree\n../evil.txt type=file contents=evil.txt\n");
        run.archive = run.folder / L"evil.tar";
        ASSERT_TRUE(MakeArchive(run.folder / L"evil", run.archive, L"-c -P", L"@evil.mtree"));
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Extraction failed. The archive may be corrupted.");
        EXPECT_FALSE(PathExists(run.In(L"update\\evil.txt")));
        run.ExpectInstallationUntouched();
    }
    {
        SCOPED_TRACE("a player's file held during the backup");
        UpdaterRun run;
        UniqueFileHandle held = HoldFileOpen(run.In(L"data\\audio\\music.ogg"));
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Failed to back up settings.");
        held.Reset();
        run.ExpectInstallationUntouched();
    }
}

TEST(EndToEnd, AGameFileHeldDuringTheInstallIsRetriedThenReportedWithoutPromotion) {
    UpdaterRun run;
    UniqueFileHandle held = HoldFileOpen(run.In(L"game.dat"));
    run.Start(0);
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    held.Reset();
    EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "old game");
    EXPECT_EQ(ReadTextFile(run.In(L"update\\extract\\Norvane 1.2\\game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "player music");
    run.ExpectNotPromoted();
}

TEST(EndToEnd, AVersionFileThatCannotBeReplacedKeepsTheOldVersionAndTheArchive) {
    UpdaterRun run;
    run.HoldWorkerAt(L"Cleaning up...");
    run.Start(0);
    ASSERT_TRUE(run.WaitUntilHeld());
    const UniqueFileHandle held = HoldFileOpen(run.In(L"norvane_client_pending_version.txt"));
    run.Release();
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    run.ExpectNotPromoted();
}

TEST(EndToEnd, AFileThatCannotBePutBackKeepsThePlayersCopyInTheBackup) {
    UpdaterRun run;
    run.HoldWorkerAt(L"Restoring settings...");
    run.Start(1234);
    ASSERT_TRUE(run.WaitUntilHeld());
    UniqueFileHandle held = HoldFileOpen(run.In(L"data\\audio\\music.ogg"));
    run.Release();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    held.Reset();
    EXPECT_EQ(ReadTextFile(run.In(L"update\\backup_1234\\data\\audio\\music.ogg")), "player music");
}

TEST(EndToEnd, ARerunAfterAKilledInstallCompletesAndGivesBackThePlayersFiles) {
    UpdaterRun run;
    // Killed once every file is over the installation, before the restore.
    run.HoldWorkerAt(L"Installing files...", 90);
    run.Start(4321);
    ASSERT_TRUE(run.WaitUntilHeld());
    ASSERT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "update music");
    KillProgram(run.updater.process);

    // The launcher offers the update again, with another client pid.
    run.HoldWorkerAt(L"");
    run.Start(0);
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

TEST(EndToEnd, EscapeWhileWaitingForTheClientClosesAtOnceAndChangesNothing) {
    UpdaterRun run;
    run.Start(run.client.pid);
    Sleep(300);
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(5000), 0u);
    run.ExpectInstallationUntouched();
}

TEST(EndToEnd, CloseRequestsAreRefusedWhileTheInstallationChanges) {
    UpdaterRun run;
    run.HoldWorkerAt(L"Installing files...", 55);
    run.Start(0);
    ASSERT_TRUE(run.WaitUntilHeld());
    run.PressEscape();
    PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.WaitForExit(1000), std::nullopt);
    run.Release();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

// Needs a small disk mounted at the installation's extraction folder (see the test runner).
TEST(SmallDisk, AFullDiskSaysSoAndLeavesNothingBehind) {
    wchar_t install[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SMALL_DISK", install, MAX_PATH) == 0) {
        GTEST_SKIP() << "no small disk mounted: mounting a tmpfs needs root";
    }
    UpdaterRun run;
    run.install = install;
    run.MakeInstallation();
    WriteTextFile(run.folder / L"release\\Norvane 1.2\\game.dat", std::string(3 << 20, 'x'));
    run.archive = run.folder / L"large.tar";
    ASSERT_TRUE(MakeArchive(run.folder / L"release", run.archive, L"-c"));
    run.Start(0);
    run.ExpectFailureUntilEscape(L"Not enough disk space to unpack the update.");
    // What the tool wrote is deleted, but under Wine it stays on the disk until the tool's process
    // is gone for good; the archive cut short shows that nothing is left behind.
    run.ExpectInstallationUntouched();
}

}  // namespace
