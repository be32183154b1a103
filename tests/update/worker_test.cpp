#include "update/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "support/locked_file.h"
#include "support/process_harness.h"
#include "support/update_fixture.h"
#include "update/working_paths.h"

namespace {

const std::vector<std::wstring> kSuccessStatuses = {
    L"Waiting for client to close...", L"Extracting update...",
    L"Backing up settings...",         L"Installing files...",
    L"Restoring settings...",          L"Cleaning up...",
    L"Launching Norvane...",
};

// Windows refuses to copy over a read-only file; Wine's CopyFileW overwrites it.
bool PlatformRefusesToOverwriteReadOnlyFiles() {
    ScratchFolder probe;
    WriteTextFile(probe / L"from", "new");
    WriteTextFile(probe / L"to", "old");
    SetFileAttributesW((probe / L"to").c_str(), FILE_ATTRIBUTE_READONLY);
    const bool refused = !CopyFileW((probe / L"from").c_str(), (probe / L"to").c_str(), FALSE);
    SetFileAttributesW((probe / L"to").c_str(), FILE_ATTRIBUTE_NORMAL);
    return refused;
}

class WorkerTest : public ::testing::Test, public UpdateFixture {
  protected:
    void MakeInstallation() { WriteSampleInstallation(install); }

    // Version 1.2, packed below one top-level folder as release archives are.
    void MakeSingleFolderArchive() {
        WriteUpdateArchive({
            Folder("Norvane-1.2/"),
            File("Norvane-1.2/game.dat", "new game"),
            File("Norvane-1.2/bin/client.dll", "new dll"),
            File("Norvane-1.2/data/audio/music.ogg", "update music"),
            File("Norvane-1.2/data/audio/new.ogg", "update only"),
            File("Norvane-1.2/data/assets/arrow/a.png", "update arrow"),
            File("Norvane-1.2/norvane_client_pending_version.txt", "1.2"),
        });
    }

    DWORD Run(int32_t clientPid) {
        steps.clear();
        state.phase = static_cast<int>(WorkerPhase::Interruptible);  // a fresh process each time
        return RunUpdate(MakeJob(clientPid), state, roaming);
    }

    std::wstring BackupDir(int32_t clientPid) const {
        return FormWorkingPaths(*MakeJob(clientPid)).backupDir;
    }

    // Nothing of the installation changed and nothing was cleaned up.
    void ExpectInstallationUntouched() {
        EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
        EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
        EXPECT_TRUE(PathExists(archive));
    }

    void ExpectFailure(const wchar_t* message) {
        EXPECT_TRUE(Last().failed);
        EXPECT_EQ(Last().status, message);
        EXPECT_FALSE(CloseRequested());
        EXPECT_FALSE(PathExists(In(L"client_started.txt")));
    }
};

TEST_F(WorkerTest, UpdatesAfterTheClientExitsAndKeepsThePlayersData) {
    MakeInstallation();
    MakeSingleFolderArchive();
    const std::wstring release = folder / L"release-client";
    StartedProcess client =
        StartProgram(TestProgramPath(L"fake-client.exe"), {L"--until-file", release});
    ASSERT_TRUE(client.process);

    DWORD result = 99;
    std::thread worker([&] { result = Run(static_cast<int32_t>(client.pid)); });
    Sleep(700);
    // Still waiting: nothing may have been touched while the client runs.
    EXPECT_FALSE(PathExists(In(L"update\\extract")));
    EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
    EXPECT_EQ(Last().status, L"Waiting for client to close...");
    EXPECT_EQ(Last().percent, 2);
    WriteTextFile(release, "");
    worker.join();

    EXPECT_EQ(result, 0u);
    EXPECT_EQ(StatusSequence(), kSuccessStatuses);
    EXPECT_TRUE(CloseRequested());
    // The update's files land at the installation's root, not below its folder.
    EXPECT_EQ(ReadTextFile(In(L"game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(In(L"bin\\client.dll")), "new dll");
    EXPECT_FALSE(PathExists(In(L"Norvane-1.2")));
    // The player's files win; update-only files arrive; player-only files stay.
    ExpectPlayersDataKept(install, PerUserConfig());
    // Version promoted; working folders and the archive outside the installation gone.
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.2");
    EXPECT_FALSE(PathExists(In(L"norvane_client_pending_version.txt")));
    EXPECT_FALSE(PathExists(archive));
    EXPECT_FALSE(PathExists(In(L"update\\extract")));
    EXPECT_FALSE(PathExists(BackupDir(static_cast<int32_t>(client.pid))));
    // The client was started in the installation folder.
    ASSERT_TRUE(WaitForFile(In(L"client_started.txt"), 10000));
    EXPECT_EQ(Widen(ReadTextFile(In(L"client_started.txt"))), install);
}

TEST_F(WorkerTest, PercentagesFollowTheStagesAndTheirBands) {
    std::vector<ArchiveMember> members;
    for (int i = 0; i < 200; ++i) {
        char name[16];
        snprintf(name, sizeof(name), "f%d.bin", i);
        members.push_back(File(name, "x"));
    }
    WriteUpdateArchive(members);
    WriteTextFile(In(L"norvane_version.txt"), "1.1");
    std::vector<int> installPercents;
    onStep = [](UpdateFixture& fixture, const ProgressStep& step) {
        if (step.status == L"Installing files...") {
            static_cast<std::vector<int>*>(fixture.hookContext)->push_back(step.percent);
        }
    };
    hookContext = &installPercents;
    ASSERT_EQ(Run(0), 0u);

    const std::vector<int> percents = PercentSequence();
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    ASSERT_GE(percents.size(), 5u);
    EXPECT_EQ(percents[0], 0);  // the state's initial value, before the first step
    EXPECT_EQ(percents[1], 2);
    EXPECT_EQ(percents[2], 8);
    EXPECT_EQ(percents.back(), 100);
    for (int expected : {10, 30, 50, 55, 72, 90, 95}) {
        EXPECT_NE(std::find(percents.begin(), percents.end(), expected), percents.end())
            << expected;
    }
    // One step per copied file after the status: 55 at the first, 72 at the 100th, 90 at the last.
    ASSERT_EQ(installPercents.size(), 1u + 200u + 1u);
    EXPECT_EQ(installPercents[1], 55);
    EXPECT_EQ(installPercents[100], 72);
    EXPECT_EQ(installPercents[200], 90);
    // No pending version file in the archive: the version stays.
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
    EXPECT_EQ(ReadTextFile(In(L"f199.bin")), "x");
}

TEST_F(WorkerTest, AClientThatIsGoneOrInvalidIsNotWaitedFor) {
    for (int32_t pid : {0, -5, 2147483647}) {
        WriteUpdateArchive({File("game.dat", "new game")});
        EXPECT_EQ(Run(pid), 0u) << pid;
        EXPECT_TRUE(CloseRequested());
        EXPECT_EQ(ReadTextFile(In(L"game.dat")), "new game");
        EXPECT_FALSE(PathExists(BackupDir(pid))) << pid;
    }
}

TEST_F(WorkerTest, TheTwoStoppingFailuresChangeNothing) {
    MakeInstallation();
    MakeSingleFolderArchive();
    RemoveTreeForTests(In(L"update"));
    EXPECT_EQ(Run(0), 1u);
    ExpectFailure(L"Failed to create extraction directory.");
    EXPECT_EQ(Last().percent, 8);
    ExpectInstallationUntouched();

    MakeDirectories(In(L"update"));
    WriteArchive(archive, MakeDamagedTarArchive({File("a.txt", "a"), File("game.dat", "bad")}));
    EXPECT_EQ(Run(0), 1u);
    ExpectFailure(L"Extraction failed. The archive may be corrupted.");
    ExpectInstallationUntouched();
    EXPECT_TRUE(PathExists(In(L"update\\extract")));
}

TEST_F(WorkerTest, ABackupThatCannotBeMadeStopsBeforeTheInstall) {
    MakeInstallation();
    MakeSingleFolderArchive();
    UniqueFileHandle held = HoldFileOpen(In(L"data\\audio\\music.ogg"));
    ASSERT_TRUE(held);
    EXPECT_EQ(Run(0), 1u);
    held.Reset();
    ExpectFailure(L"Failed to back up settings.");
    EXPECT_EQ(Last().percent, 50);
    ExpectInstallationUntouched();
    EXPECT_FALSE(PathExists(BackupDir(0)));
}

TEST_F(WorkerTest, ARestoreThatFailsKeepsTheBackup) {
    MakeInstallation();
    MakeSingleFolderArchive();
    // The player's file is held open from the moment the restore starts.
    UniqueFileHandle held;
    hookContext = &held;
    onStep = [](UpdateFixture& fixture, const ProgressStep& step) {
        auto* handle = static_cast<UniqueFileHandle*>(fixture.hookContext);
        if (step.status == L"Restoring settings..." && !*handle) {
            *handle = HoldFileOpen(fixture.In(L"data\\audio\\music.ogg"));
        }
    };
    EXPECT_EQ(Run(0), 0u);
    ASSERT_TRUE(held);
    held.Reset();
    EXPECT_TRUE(CloseRequested());
    EXPECT_EQ(ReadTextFile(BackupDir(0) + L"\\data\\audio\\music.ogg"), "player music");
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.2");
    EXPECT_FALSE(PathExists(In(L"update\\extract")));
}

TEST_F(WorkerTest, AnIncompleteInstallIsNotRecordedOrLaunched) {
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "file held open");
        if (readOnly && !PlatformRefusesToOverwriteReadOnlyFiles()) {
            std::printf("Skipped the read-only case: this platform overwrites read-only files.\n");
            continue;
        }
        MakeInstallation();
        MakeSingleFolderArchive();
        UniqueFileHandle held;
        if (readOnly) {
            SetFileAttributesW(In(L"game.dat").c_str(), FILE_ATTRIBUTE_READONLY);
        } else {
            held = HoldFileOpen(In(L"game.dat"));
            ASSERT_TRUE(held);
        }
        EXPECT_EQ(Run(0), 1u);
        held.Reset();
        SetFileAttributesW(In(L"game.dat").c_str(), FILE_ATTRIBUTE_NORMAL);

        ExpectFailure(L"Some files could not be installed. Close the game and try again.");
        EXPECT_EQ(Last().percent, 95);
        EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
        EXPECT_EQ(ReadTextFile(In(L"bin\\client.dll")), "new dll");
        EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
        EXPECT_EQ(ReadTextFile(In(L"norvane_client_pending_version.txt")), "1.2");
        EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
        EXPECT_TRUE(PathExists(archive));
        EXPECT_TRUE(PathExists(In(L"update\\extract")));
        EXPECT_FALSE(PathExists(BackupDir(0)));
    }
}

TEST_F(WorkerTest, AClientThatCannotBeStartedIsStillASuccess) {
    WriteUpdateArchive({File("game.dat", "new game")});
    std::unique_ptr<UpdateJob> job = MakeJob(0);
    wcscpy_s(job->exeName, L"Z:\\no\\such\\client.exe");
    EXPECT_EQ(RunUpdate(std::move(job), state, roaming), 0u);
    EXPECT_TRUE(CloseRequested());
    EXPECT_EQ(Last().status, L"Launching Norvane...");
}

}  // namespace
