// The real updater started as its own process, the way the launcher starts it, against real
// archives in real folders; checked by what the player and the launcher can observe.
#include <gtest/gtest.h>

#include <cstdio>

#include "updater_run.h"

namespace {

constexpr DWORD kUpdateTimeoutMs = 60000;

TEST(EndToEnd, WaitsForTheClientThenUpdatesAndRelaunches) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    RunningClient client(run);
    ASSERT_TRUE(client.process.process);
    run.Start(client.process.pid);

    // The game is still running: nothing may be touched yet.
    Sleep(1500);
    EXPECT_TRUE(run.WindowIsOpen());
    EXPECT_FALSE(PathExists(run.In(L"update\\extract")));
    run.ExpectInstallationUntouched();

    client.Finish();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
    ASSERT_TRUE(run.ClientWasStarted(10000));
    EXPECT_EQ(Widen(ReadTextFile(run.In(L"client_started.txt"))), run.install);
}

TEST(EndToEnd, AFlatArchiveWithoutAVersionFileLeavesTheVersionAlone) {
    UpdaterRun run(L"flat");
    run.MakeInstallation();
    run.WriteUpdateArchive({File("game.dat", "new game"), File("data/audio/music.ogg", "upd")});
    run.Start(0);  // the client has already exited
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.1");
    EXPECT_TRUE(run.ClientWasStarted(10000));
}

TEST(EndToEnd, AClientThatAlreadyExitedOrCannotBeStarted) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    StartedProcess exited = StartProgram(TestProgramPath(L"fake-client.exe"), {L"--sleep", L"0"});
    ASSERT_EQ(WaitForExitCode(exited.process, 10000), 0u);
    run.Start(exited.pid, run.In(L"no such client.exe"));
    // Nothing reports the failed launch; the window closes as after a good one.
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
    EXPECT_FALSE(run.ClientWasStarted(500));
}

// A failed update keeps its window, red, until the player presses Esc; then exit code 0.
void ExpectFailureWindowUntilEscape(UpdaterRun& run, DWORD settleMs) {
    Sleep(settleMs);
    EXPECT_TRUE(run.WindowIsOpen());
    EXPECT_EQ(run.WaitForExit(0), std::nullopt);
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(10000), 0u);
}

TEST(EndToEnd, FailuresKeepTheWindowAndTheInstallation) {
    {
        SCOPED_TRACE("no update folder");
        UpdaterRun run;
        run.MakeInstallation();
        run.WriteUpdateArchive(run.ReleaseMembers());
        RemoveTreeForTests(run.In(L"update"));
        run.Start(0);
        ExpectFailureWindowUntilEscape(run, 3000);
        run.ExpectInstallationUntouched();
    }
    {
        SCOPED_TRACE("damaged archive");
        UpdaterRun run;
        run.MakeInstallation();
        WriteArchive(run.archive, MakeDamagedTarArchive(run.ReleaseMembers()));
        run.Start(0);
        ExpectFailureWindowUntilEscape(run, 3000);
        run.ExpectInstallationUntouched();
    }
    {
        SCOPED_TRACE("a file of the game held open during the install");
        UpdaterRun run;
        run.MakeInstallation();
        run.WriteUpdateArchive(run.ReleaseMembers());
        UniqueFileHandle held(CreateFileW(run.In(L"game.dat").c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        run.Start(0);
        ExpectFailureWindowUntilEscape(run, 6000);
        held.Reset();
        // Not recorded as the new version, not launched, the player's data where it was.
        EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "old game");
        EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.1");
        EXPECT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "player music");
        EXPECT_TRUE(PathExists(run.archive));
        EXPECT_FALSE(run.ClientWasStarted(0));
    }
}

TEST(EndToEnd, EscapeWhileWaitingForAClientThatNeverExitsClosesAtOnce) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    RunningClient client(run, /*forever=*/true);
    run.Start(client.process.pid);
    Sleep(500);
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(5000), 0u);
    run.ExpectInstallationUntouched();
}

TEST(EndToEnd, EscapeWhileExtractingClosesAtOnceAndChangesNothing) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    run.HoldWorkerAt(L"Extracting update...", 10);
    run.Start(0);
    ASSERT_TRUE(run.WaitUntilHeld(30000));
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(5000), 0u);
    run.ExpectInstallationUntouched();
}

TEST(EndToEnd, CloseRequestsAreIgnoredWhileTheInstallationChanges) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    run.HoldWorkerAt(L"Installing files...", 55);
    run.Start(0);
    ASSERT_TRUE(run.WaitUntilHeld(30000));
    run.PressEscape();
    PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.WaitForExit(1500), std::nullopt);
    EXPECT_TRUE(run.WindowIsOpen());
    run.Release();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

TEST(EndToEnd, AnInstallationOfThousandsOfFiles) {
    UpdaterRun run(L"large");
    run.MakeInstallation();
    std::vector<ArchiveMember> members = {Folder("Norvane 1.2/")};
    char name[96];
    for (int i = 0; i < 3000; ++i) {
        std::snprintf(name, sizeof(name), "Norvane 1.2/content/pack%02d/file%04d.bin", i % 40, i);
        members.push_back(File(name, name));
    }
    run.WriteUpdateArchive(members);
    run.Start(0);
    EXPECT_EQ(run.WaitForExit(180000), 0u);
    EXPECT_EQ(EntriesIn(run.In(L"content")).size(), 40u);
    EXPECT_EQ(EntriesIn(run.In(L"content\\pack07")).size(), 75u);
    EXPECT_EQ(ReadTextFile(run.In(L"content\\pack39\\file2999.bin")),
              "Norvane 1.2/content/pack39/file2999.bin");
    EXPECT_FALSE(PathExists(run.In(L"update\\extract")));
}

TEST(EndToEnd, ARerunAfterAKilledInstallCompletesAndGivesBackThePlayersFiles) {
    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    // Killed after every file was copied over the installation, before the restore.
    run.HoldWorkerAt(L"Installing files...", 90);
    run.Start(4321);
    ASSERT_TRUE(run.WaitUntilHeld(30000));
    ASSERT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "update music");
    KillProgram(run.updater.process);
    EXPECT_TRUE(PathExists(run.In(L"update\\backup_4321\\data\\audio\\music.ogg")));

    // The launcher offers the update again: a new run with another client pid.
    for (const wchar_t* name : {L"MOSSHARBOR_TEST_HOLD_STATUS", L"MOSSHARBOR_TEST_HOLD_MARKER"}) {
        SetEnvironmentVariableW(name, nullptr);
    }
    run.Start(0);
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

}  // namespace

namespace {

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The shipping exe itself, with the real per-user folder lookup. Only under Wine, whose prefix
// is a throwaway in the build tree: on Windows this would write the player's own folder.
TEST(EndToEnd, TheShippingExeMigratesTheConfigurationToTheRoamingFolder) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "writes the roaming folder; runs only in the throwaway Wine prefix";
    }
    const std::wstring appData = ShellRoamingFolder();
    ASSERT_FALSE(appData.empty());
    const std::wstring perUser = appData + L"\\Norvane\\norvane_launcher.cfg";
    RemoveTreeForTests(perUser);

    UpdaterRun run;
    run.MakeInstallation();
    run.WriteUpdateArchive(run.ReleaseMembers());
    StartedProcess updater =
        StartProgram(UpdaterExePath(), {L"0", run.archive, run.install, run.clientExe});
    ASSERT_TRUE(updater.process);
    EXPECT_EQ(WaitForExitCode(updater.process, kUpdateTimeoutMs), 0u);
    EXPECT_EQ(ReadTextFile(perUser), "player config");
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.2");
    EXPECT_TRUE(run.ClientWasStarted(10000));
    RemoveTreeForTests(perUser);
}

}  // namespace
