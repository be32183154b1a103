#include "updater_run.h"

#include <gtest/gtest.h>

#include "support/update_fixture.h"
#include "tools/directory_listing.h"

namespace {

const wchar_t* const kHoldVariables[] = {
    L"MOSSHARBOR_TEST_HOLD_STATUS", L"MOSSHARBOR_TEST_HOLD_PERCENT", L"MOSSHARBOR_TEST_HOLD_MARKER",
    L"MOSSHARBOR_TEST_HOLD_RELEASE"};

}  // namespace

std::vector<std::wstring> EntriesIn(const std::wstring& directory) {
    std::vector<std::wstring> names;
    ForEachEntry(directory, [&names](const std::wstring& name, DWORD) { names.push_back(name); });
    return names;
}

UpdaterRun::UpdaterRun(const std::wstring& tag) {
    install = folder / (L"Games Ü\\" + tag);
    roaming = folder / L"roaming ä";
    archive = folder / L"Downloads é\\update 1.2 ß.tar";
    clientExe = In(L"Norvane Clïent.exe");
    MakeDirectories(install + L"\\update");
    MakeDirectories(roaming);
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", roaming.c_str());
    for (const wchar_t* name : kHoldVariables) {
        SetEnvironmentVariableW(name, nullptr);
    }
}

UpdaterRun::~UpdaterRun() {
    Release();
    KillProgram(updater.process);
    for (const wchar_t* name : kHoldVariables) {
        SetEnvironmentVariableW(name, nullptr);
    }
}

void UpdaterRun::MakeInstallation() {
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), clientExe.c_str(), FALSE);
    WriteSampleInstallation(install);
}

std::vector<ArchiveMember> UpdaterRun::ReleaseMembers() const {
    return {
        Folder("Norvane 1.2/"),
        File("Norvane 1.2/game.dat", "new game"),
        File("Norvane 1.2/bin/clïent.dll", "new dll"),
        File("Norvane 1.2/data/audio/music.ogg", "update music"),
        File("Norvane 1.2/data/audio/new.ogg", "update only"),
        File("Norvane 1.2/norvane_launcher.cfg", "shipped config"),
        File("Norvane 1.2/norvane_client_pending_version.txt", "1.2"),
    };
}

void UpdaterRun::WriteUpdateArchive(const std::vector<ArchiveMember>& members) {
    WriteArchive(archive, MakeTarArchive(members));
}

void UpdaterRun::Start(DWORD clientPid, const std::wstring& exe) {
    updater = StartProgram(UpdaterUnderTestExePath(), {std::to_wstring(clientPid), archive, install,
                                                       exe.empty() ? clientExe : exe});
    ASSERT_TRUE(updater.process);
    window = WaitForProcessWindow(updater.pid, L"MHUpdater", 20000);
    ASSERT_NE(window, nullptr) << "the progress window did not appear";
}

void UpdaterRun::HoldWorkerAt(const std::wstring& status, int percent) {
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", status.c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_PERCENT", std::to_wstring(percent).c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_MARKER", (folder / L"held").c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_RELEASE", (folder / L"release").c_str());
}

bool UpdaterRun::WaitUntilHeld(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!PathExists(folder / L"held")) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

void UpdaterRun::Release() const {
    if (!PathExists(folder / L"release")) {
        WriteTextFile(folder / L"release", "");
    }
}

bool UpdaterRun::ClientWasStarted(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!PathExists(In(L"client_started.txt"))) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

void UpdaterRun::ExpectInstallationUntouched() const {
    EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_FALSE(PathExists(In(L"data\\audio\\new.ogg")));
    EXPECT_TRUE(PathExists(archive));
    EXPECT_FALSE(PathExists(In(L"client_started.txt")));
}

void UpdaterRun::ExpectUpdated() const {
    EXPECT_EQ(ReadTextFile(In(L"game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(In(L"bin\\clïent.dll")), "new dll");
    ExpectPlayersDataKept(install, PerUserConfig());
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.2");
    EXPECT_FALSE(PathExists(In(L"norvane_client_pending_version.txt")));
    EXPECT_FALSE(PathExists(archive));
    EXPECT_FALSE(PathExists(In(L"update\\extract")));
    // Of the working folders only the empty update folder is left.
    EXPECT_TRUE(IsDirectory(In(L"update")));
    EXPECT_EQ(EntriesIn(In(L"update")), std::vector<std::wstring>{});
}

RunningClient::RunningClient(const UpdaterRun& run, bool forever)
    : releaseFile(run.folder / L"client may exit") {
    process = StartProgram(TestProgramPath(L"fake-client.exe"),
                           forever ? std::vector<std::wstring>{L"--forever"}
                                   : std::vector<std::wstring>{L"--until-file", releaseFile});
}

RunningClient::~RunningClient() {
    KillProgram(process.process);
}

void RunningClient::Finish() const {
    WriteTextFile(releaseFile, "");
}
