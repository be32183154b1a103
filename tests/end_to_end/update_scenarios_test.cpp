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
    run.MakeInstallation();
    run.WriteRelease();
    RunningClient client(run);
    ASSERT_TRUE(client.process.process);
    run.Start(client.process.pid);

    // The game is still running: nothing may be touched yet.
    Sleep(1500);
    EXPECT_EQ(run.WaitForExit(0), std::nullopt);
    EXPECT_FALSE(PathExists(run.In(L"update\\extract")));
    run.ExpectInstallationUntouched();

    client.Finish();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

// The tool takes its arguments in the ANSI code page; no single one holds both scripts.
TEST(EndToEnd, FoldersOutsideTheAnsiCodePageInEveryArchiveFormat) {
    for (const wchar_t* format : {L"-c", L"-cz", L"-c --format zip"}) {
        SCOPED_TRACE(testing::Message() << "tar.exe " << format);
        UpdaterRun run(L"Игры 游戏");
        run.MakeInstallation();
        run.WriteRelease(format);
        run.Start(0);
        EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
        run.ExpectUpdated();
    }
}

TEST(EndToEnd, AMemberThatClimbsOutOfTheExtractionFolderFailsTheUpdate) {
    UpdaterRun run;
    run.MakeInstallation();
    WriteTextFile(run.folder / L"release\\evil.txt", "planted");
    ASSERT_TRUE(MakeArchive(run.folder / L"release", run.archive, L"-c -P -s \",^\\./,../,\""));
    run.Start(0);
    run.ExpectFailureUntilEscape(L"Extraction failed. The archive may be corrupted.");
    EXPECT_FALSE(PathExists(run.In(L"update\\evil.txt")));
    EXPECT_FALSE(PathExists(run.In(L"evil.txt")));
    run.ExpectInstallationUntouched();
}

TEST(EndToEnd, FailuresBeforeTheInstallKeepTheInstallationAsItWas) {
    {
        SCOPED_TRACE("no update folder");
        UpdaterRun run;
        run.MakeInstallation();
        run.WriteRelease();
        RemoveDirectoryW(run.In(L"update").c_str());
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Failed to create extraction directory.");
        run.ExpectInstallationUntouched();
    }
    {
        SCOPED_TRACE("an archive cut short");
        UpdaterRun run;
        run.MakeInstallation();
        run.WriteRelease();
        WriteTextFile(run.archive, ReadTextFile(run.archive).substr(0, 1500));
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Extraction failed. The archive may be corrupted.");
        run.ExpectInstallationUntouched();
        EXPECT_EQ(EntryCount(run.In(L"update")), 0u) << "a partial extraction was left behind";
    }
    {
        SCOPED_TRACE("a player's file held during the backup");
        UpdaterRun run;
        run.MakeInstallation();
        run.WriteRelease();
        const UniqueFileHandle held = HoldFileOpen(run.In(L"data\\audio\\music.ogg"));
        run.Start(0);
        run.ExpectFailureUntilEscape(L"Failed to back up settings.");
        run.ExpectInstallationUntouched();
    }
}

TEST(EndToEnd, AGameFileHeldDuringTheInstallIsRetriedThenReportedWithoutPromotion) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
    UniqueFileHandle held = HoldFileOpen(run.In(L"game.dat"));
    run.Start(0);
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    held.Reset();
    EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "old game");
    EXPECT_EQ(ReadTextFile(run.In(L"update\\extract\\Norvane 1.2\\game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.1");
    EXPECT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_TRUE(PathExists(run.archive));
    EXPECT_FALSE(run.ClientWasStarted(0));
}

TEST(EndToEnd, AVersionFileThatCannotBeReplacedKeepsTheOldVersionAndTheArchive) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
    run.HoldWorkerAt(L"Cleaning up...");
    run.Start(0);
    ASSERT_TRUE(run.WaitUntilHeld());
    const UniqueFileHandle held = HoldFileOpen(run.In(L"norvane_client_pending_version.txt"));
    run.Release();
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.1");
    EXPECT_TRUE(PathExists(run.archive));
    EXPECT_FALSE(run.ClientWasStarted(0));
}

TEST(EndToEnd, AFileThatCannotBePutBackKeepsThePlayersCopyInTheBackup) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
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
    run.MakeInstallation();
    run.WriteRelease();
    // Killed once every file is over the installation, before the restore.
    run.HoldWorkerAt(L"Installing files...", 90);
    run.Start(4321);
    ASSERT_TRUE(run.WaitUntilHeld());
    ASSERT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "update music");
    KillProgram(run.updater.process);

    // The launcher offers the update again, with another client pid.
    run.ClearHold();
    run.Start(0);
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

TEST(EndToEnd, EscapeWhileWaitingForTheClientClosesAtOnceAndChangesNothing) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
    RunningClient client(run, /*forever=*/true);
    run.Start(client.process.pid);
    Sleep(300);
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(5000), 0u);
    run.ExpectInstallationUntouched();
}

TEST(EndToEnd, CloseRequestsAreRefusedWhileTheInstallationChanges) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
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
    run.clientExe = run.In(L"Norvane Clïent.exe");
    run.MakeInstallation();
    std::string noise(3 << 20, '\0');  // incompressible, larger than the 2 MB disk
    for (size_t i = 0, x = 12345; i < noise.size(); ++i, x = x * 1103515245 + 12345) {
        noise[i] = static_cast<char>(x >> 16);
    }
    WriteTextFile(run.folder / L"release\\Norvane 1.2\\game.dat", noise);
    ASSERT_TRUE(MakeArchive(run.folder / L"release", run.archive, L"-c"));
    run.Start(0);
    run.ExpectFailureUntilEscape(L"Not enough disk space to unpack the update.");
    // Not the folder itself: under Wine its removal fails until the process ends.
    EXPECT_FALSE(PathExists(run.In(L"update\\extract\\Norvane 1.2\\game.dat")));
    run.ExpectInstallationUntouched();
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The shipping exe with its real per-user folder; only in Wine's throwaway prefix, never on a
// player's Windows account.
TEST(EndToEnd, TheShippingExeMigratesTheConfigurationToTheRoamingFolder) {
    wchar_t appData[MAX_PATH] = {};
    if (!RunningUnderWine() || GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH) == 0) {
        GTEST_SKIP() << "writes the roaming folder; runs only in the throwaway Wine prefix";
    }
    const std::wstring perUser = std::wstring(appData) + L"\\Norvane\\norvane_launcher.cfg";
    DeleteFileW(perUser.c_str());
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteRelease();
    StartedProcess updater =
        StartProgram(UpdaterExePath(), {L"0", run.archive, run.install, run.clientExe});
    EXPECT_EQ(WaitForExitCode(updater.process, kUpdateTimeoutMs), 0u);
    EXPECT_EQ(ReadTextFile(perUser), "player config");
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.2");
    DeleteFileW(perUser.c_str());
}

}  // namespace
