// The real updater started as its own process, the way the launcher starts it, on archives that
// the real archive tool wrote; checked by what the player and the launcher can observe.
#include <gtest/gtest.h>

#include "support/harness.h"

namespace {

constexpr DWORD kUpdateTimeoutMs = 60000;
constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";
constexpr wchar_t kIncompleteInstall[] =
    L"Some files could not be installed. Close the game and try again.";

std::wstring ReadWideFile(const std::wstring& path) {
    const std::string bytes = ReadTextFile(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

UniqueFileHandle HoldFileOpen(const std::wstring& path) {  // as a running game or a scanner does
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Version 1.1 installed with the player's data, version 1.2 downloaded below one top-level folder
// and archived by the real tool with `options` (the format), and a client that runs until the
// file "client may exit" appears. The folders' names hold two scripts that no single ANSI code
// page has, which the tool cannot take on its command line.
struct UpdaterRun {
    explicit UpdaterRun(const std::wstring& options = L"-c") {
        fs::create_directories(install + L"\\update");
        fs::create_directories(roaming);
        MakeInstallation();
        const std::wstring release = folder / L"release\\Norvane 1.2\\";
        WriteTextFile(release + L"game.dat", "new game");
        WriteTextFile(release + L"bin\\clïent.dll", "new dll");
        WriteTextFile(release + L"data\\audio\\music.ogg", "update music");
        WriteTextFile(release + L"data\\audio\\new.ogg", "update only");
        WriteTextFile(release + L"data\\assets\\arrow\\skin.png", "update arrow");
        WriteTextFile(release + L"norvane_launcher.cfg", "shipped config");
        WriteTextFile(release + L"norvane_client_pending_version.txt", "1.2");
        EXPECT_TRUE(MakeArchive(folder / L"release", archive, options));
        client = StartProgram(TestProgramPath(L"fake-client.exe"),
                              L"--until-file \"" + (folder / L"client may exit") + L"\"");
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", roaming.c_str());
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_PROGRESS_LOG",
                                (folder / L"progress.log").c_str());
    }
    ~UpdaterRun() {
        Release();
        KillProgram(updater.process);
        KillProgram(client.process);
    }

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    void MakeInstallation() const {
        CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), In(L"Norvane Clïent.exe").c_str(),
                  FALSE);
        WriteTextFile(In(L"game.dat"), "old game");
        WriteTextFile(In(L"norvane_version.txt"), "1.1");
        WriteTextFile(In(L"norvane_launcher.cfg"), "player config");
        WriteTextFile(In(L"data\\audio\\music.ogg"), "player music");
        WriteTextFile(In(L"data\\audio\\mine.ogg"), "player only");
        WriteTextFile(In(L"data\\assets\\arrow\\skin.png"), "player arrow");
    }

    // The launcher's start, from a folder where a tar.exe has been planted: the updater must
    // never run that one. Given `holdAt`, the worker stops at that status with at least
    // `percent`, until Release().
    void Start(DWORD clientPid, const std::wstring& holdAt = L"", int percent = 0) {
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", holdAt.c_str());
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_PERCENT", std::to_wstring(percent).c_str());
        const std::wstring launcherFolder = folder / L"launcher";
        fs::create_directories(launcherFolder);
        CopyFileW(TestProgramPath(L"fake-client.exe").c_str(),
                  (launcherFolder + L"\\tar.exe").c_str(), FALSE);
        updater = StartProgram(TestProgramPath(L"mossharbor-updater-under-test.exe"),
                               std::to_wstring(clientPid) + L" \"" + archive + L"\" \"" + install +
                                   L"\" \"" + In(L"Norvane Clïent.exe") + L"\"",
                               launcherFolder);
        window = WaitForProcessWindow(updater.pid, L"MHUpdater", 20000);
        ASSERT_NE(window, nullptr) << "the progress window did not appear";
        const std::wstring held = folder / L"progress.log.held";
        ASSERT_TRUE(holdAt.empty() || WaitUntil([&] { return PathExists(held); }, 30000));
    }
    void Release() const { WriteTextFile(folder / L"progress.log.release", ""); }
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const {
        return WaitForExitCode(updater.process, timeoutMs);
    }
    void PressEscape() const { PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1); }
    bool ClientWasStarted(DWORD timeoutMs) const {
        return WaitUntil([&] { return PathExists(In(L"client_started.txt")); }, timeoutMs);
    }

    // The failure shown; the window stays until Esc, then the exit code is 0.
    void ExpectFailureUntilEscape(const std::wstring& message) const {
        // The progress log holds "percent failed status" lines; only a failure has " 1 ".
        std::wstring log;
        WaitUntil(
            [&] { return (log = ReadWideFile(folder / L"progress.log")).find(L" 1 ") != log.npos; },
            30000);
        EXPECT_NE(log.find(L" 1 " + message + L"\n"), log.npos) << "progress shown:\n" << log;
        EXPECT_EQ(WaitForExit(300), std::nullopt) << "a failed update must wait for the player";
        PressEscape();
        EXPECT_EQ(WaitForExit(10000), 0u);
    }
    void ExpectInstallationUntouched() const {
        EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
        EXPECT_FALSE(PathExists(In(L"data\\audio\\new.ogg")));
        ExpectNotPromoted();
    }
    // Not recorded as the new version, not launched, the archive kept for the next attempt.
    void ExpectNotPromoted() const {
        EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
        EXPECT_TRUE(PathExists(archive));
        EXPECT_FALSE(ClientWasStarted(0));
    }
    // The update installed, the player's data kept, version 1.2, working folders gone, the
    // client started in the installation.
    void ExpectUpdated() const {
        EXPECT_EQ(ReadTextFile(In(L"game.dat")), "new game");
        EXPECT_EQ(ReadTextFile(In(L"bin\\clïent.dll")), "new dll");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\mine.ogg")), "player only");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\new.ogg")), "update only");
        EXPECT_EQ(ReadTextFile(In(L"data\\assets\\arrow\\skin.png")), "player arrow");
        EXPECT_FALSE(PathExists(In(L"data\\assets\\arrows")));
        EXPECT_EQ(ReadTextFile(roaming + L"\\Norvane\\norvane_launcher.cfg"), "player config");
        EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.2");
        EXPECT_FALSE(PathExists(In(L"norvane_client_pending_version.txt")));
        EXPECT_FALSE(PathExists(archive));
        EXPECT_TRUE(fs::is_empty(In(L"update"))) << "working folders left behind";
        EXPECT_TRUE(ClientWasStarted(10000));
        EXPECT_EQ(ReadWideFile(In(L"client_started.txt")), install);
    }

    ScratchFolder folder;
    std::wstring install = folder / L"Игры 游戏\\Norvane";
    std::wstring roaming = folder / L"roaming";
    std::wstring archive = folder / L"Загрузки 下载\\update 1.2.tar";
    StartedProcess client;
    StartedProcess updater;
    HWND window = nullptr;
};

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

// Each row spoils the run in its own way before the start; none may change the installation.
TEST(EndToEnd, FailuresBeforeTheInstallKeepTheInstallationAsItWas) {
    const struct {
        const char* name;
        void (*spoil)(UpdaterRun& run);
        const wchar_t* message;
    } failures[] = {
        {"no update folder", [](UpdaterRun& run) { RemoveDirectoryW(run.In(L"update").c_str()); },
         L"Failed to create extraction directory."},
        {"an archive cut short",
         [](UpdaterRun& run) {
             // Written anew: under Wine the tool that wrote it may still hold the old file a
             // moment.
             const std::string whole = ReadTextFile(run.archive);
             run.archive = run.folder / L"cut.tar";
             WriteTextFile(run.archive, whole.substr(0, 1500));
         },
         kExtractionFailure},
        {"a member that climbs out of the extraction folder",
         [](UpdaterRun& run) {
             // The tool will not write such a member from files, but it will from a description.
             WriteTextFile(run.folder / L"evil\\evil.txt", "planted");
             WriteTextFile(run.folder / L"evil\\evil.mtree",
                           "#mtree\n../evil.txt type=file contents=evil.txt\n");
             run.archive = run.folder / L"evil.tar";
             EXPECT_TRUE(MakeArchive(run.folder / L"evil", run.archive, L"-c -P", L"@evil.mtree"));
         },
         kExtractionFailure},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        UpdaterRun run;
        failure.spoil(run);
        run.Start(0);
        run.ExpectFailureUntilEscape(failure.message);
        run.ExpectInstallationUntouched();
        EXPECT_FALSE(PathExists(run.In(L"update\\extract")))
            << "a partial extraction was left behind";
    }
}

TEST(EndToEnd, APlayersFileHeldDuringTheBackupStopsTheUpdateBeforeTheInstall) {
    UpdaterRun run;
    UniqueFileHandle held = HoldFileOpen(run.In(L"data\\audio\\music.ogg"));
    run.Start(0);
    run.ExpectFailureUntilEscape(L"Failed to back up settings.");
    held.Reset();
    run.ExpectInstallationUntouched();
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
    run.Start(0, L"Cleaning up...");
    const UniqueFileHandle held = HoldFileOpen(run.In(L"norvane_client_pending_version.txt"));
    run.Release();
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    run.ExpectNotPromoted();
}

TEST(EndToEnd, AFileThatCannotBePutBackKeepsThePlayersCopyInTheBackup) {
    UpdaterRun run;
    run.Start(1234, L"Restoring settings...");
    UniqueFileHandle held = HoldFileOpen(run.In(L"data\\audio\\music.ogg"));
    run.Release();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    held.Reset();
    EXPECT_EQ(ReadTextFile(run.In(L"update\\backup_1234\\data\\audio\\music.ogg")), "player music");
}

TEST(EndToEnd, ARerunAfterAKilledInstallCompletesAndGivesBackThePlayersFiles) {
    UpdaterRun run;
    // Killed once every file is over the installation, before the restore.
    run.Start(4321, L"Installing files...", 90);
    ASSERT_EQ(ReadTextFile(run.In(L"data\\audio\\music.ogg")), "update music");
    KillProgram(run.updater.process);

    // The launcher offers the update again, with another client pid.
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

TEST(EndToEnd, DuringTheInstallCloseRequestsAreRefusedAndAFileHeldForAMomentIsWaitedFor) {
    UpdaterRun run;
    run.Start(0, L"Installing files...", 55);
    run.PressEscape();
    PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.WaitForExit(1000), std::nullopt);
    UniqueFileHandle held = HoldFileOpen(run.In(L"game.dat"));
    run.Release();
    Sleep(300);  // a scanner's glance, well inside the retry
    held.Reset();
    EXPECT_EQ(run.WaitForExit(kUpdateTimeoutMs), 0u);
    run.ExpectUpdated();
}

// Needs a small disk mounted at the installation's update folder, whose leftover extraction holds
// a link to a player's folder beside the installation (see the test runner).
TEST(SmallDisk, AFullDiskSaysSoAndNothingIsDeletedThroughALeftoverLink) {
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
    run.ExpectInstallationUntouched();
    EXPECT_FALSE(PathExists(run.In(L"update\\extract\\Norvane 1.2")));
    EXPECT_EQ(ReadTextFile(run.install + L"\\..\\library\\favourite.ogg"), "kept\n");
}

}  // namespace
