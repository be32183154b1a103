#include "end_to_end/updater_run.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const wchar_t* const kTestVariables[] = {
    L"MOSSHARBOR_TEST_HOLD_STATUS", L"MOSSHARBOR_TEST_HOLD_PERCENT", L"MOSSHARBOR_TEST_HOLD_MARKER",
    L"MOSSHARBOR_TEST_HOLD_RELEASE", L"MOSSHARBOR_TEST_PROGRESS_LOG"};

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

std::wstring ReadWideFile(const std::wstring& path) {
    const std::string bytes = ReadTextFile(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

}  // namespace

UpdaterRun::UpdaterRun(const std::wstring& folderName) {
    install = folder / (L"Games\\" + folderName);
    roaming = folder / L"roaming";
    archive = folder / (L"Downloads\\" + folderName + L"\\update 1.2.tar");
    clientExe = In(L"Norvane Clïent.exe");
    MakeDirectories(install + L"\\update");
    MakeDirectories(roaming);
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", roaming.c_str());
    ClearHold();
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_PROGRESS_LOG", (folder / L"progress.log").c_str());
}

UpdaterRun::~UpdaterRun() {
    Release();
    KillProgram(updater.process);
    for (const wchar_t* name : kTestVariables) {
        SetEnvironmentVariableW(name, nullptr);
    }
}

void UpdaterRun::MakeInstallation() {
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), clientExe.c_str(), FALSE);
    WriteTextFile(In(L"game.dat"), "old game");
    WriteTextFile(In(L"norvane_version.txt"), "1.1");
    WriteTextFile(In(L"norvane_launcher.cfg"), "player config");
    WriteTextFile(In(L"data\\audio\\music.ogg"), "player music");
    WriteTextFile(In(L"data\\audio\\mine.ogg"), "player only");
    WriteTextFile(In(L"data\\assets\\arrow\\skin.png"), "player arrow");
}

void UpdaterRun::WriteRelease(const std::wstring& options) {
    const std::wstring release = folder / L"release\\Norvane 1.2\\";
    WriteTextFile(release + L"game.dat", "new game");
    WriteTextFile(release + L"bin\\clïent.dll", "new dll");
    WriteTextFile(release + L"data\\audio\\music.ogg", "update music");
    WriteTextFile(release + L"data\\audio\\new.ogg", "update only");
    WriteTextFile(release + L"data\\assets\\arrow\\skin.png", "update arrow");
    WriteTextFile(release + L"norvane_launcher.cfg", "shipped config");
    WriteTextFile(release + L"norvane_client_pending_version.txt", "1.2");
    ASSERT_TRUE(MakeArchive(folder / L"release", archive, options));
}

void UpdaterRun::Start(DWORD clientPid, const std::wstring& exe) {
    const std::wstring launcherFolder = folder / L"launcher";
    MakeDirectories(launcherFolder);
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), (launcherFolder + L"\\tar.exe").c_str(),
              FALSE);
    updater =
        StartProgram(TestProgramPath(L"mossharbor-updater-under-test.exe"),
                     {std::to_wstring(clientPid), archive, install, exe.empty() ? clientExe : exe},
                     launcherFolder);
    ASSERT_TRUE(updater.process);
    window = WaitForProcessWindow(updater.pid, L"MHUpdater", 20000);
    ASSERT_NE(window, nullptr) << "the progress window did not appear";
}

void UpdaterRun::HoldWorkerAt(const std::wstring& status, int percent) {
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", status.c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_PERCENT", std::to_wstring(percent).c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_MARKER", (folder / L"held").c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_RELEASE", (folder / L"release now").c_str());
}

bool UpdaterRun::WaitUntilHeld() const {
    return WaitUntil([&] { return PathExists(folder / L"held"); }, 30000);
}

void UpdaterRun::Release() const {
    WriteTextFile(folder / L"release now", "");
}

void UpdaterRun::ClearHold() const {
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", nullptr);
}

std::wstring UpdaterRun::FailureShown(DWORD timeoutMs) const {
    std::wstring shown = L"(no failure shown)";
    WaitUntil(
        [&] {
            const std::wstring log = ReadWideFile(folder / L"progress.log");
            const size_t failed = log.find(L" 1 ");  // "percent failed status" lines
            if (failed != std::wstring::npos) {
                shown = log.substr(failed + 3, log.find(L'\n', failed) - failed - 3);
            }
            return failed != std::wstring::npos;
        },
        timeoutMs);
    return shown;
}

bool UpdaterRun::ClientWasStarted(DWORD timeoutMs) const {
    return WaitUntil([&] { return PathExists(In(L"client_started.txt")); }, timeoutMs);
}

void UpdaterRun::ExpectFailureUntilEscape(const std::wstring& message) {
    EXPECT_EQ(FailureShown(30000), message);
    EXPECT_EQ(WaitForExit(300), std::nullopt) << "a failed update must wait for the player";
    PressEscape();
    EXPECT_EQ(WaitForExit(10000), 0u);
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
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\mine.ogg")), "player only");
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\new.ogg")), "update only");
    EXPECT_EQ(ReadTextFile(In(L"data\\assets\\arrow\\skin.png")), "player arrow");
    EXPECT_FALSE(PathExists(In(L"data\\assets\\arrows")));
    EXPECT_EQ(ReadTextFile(roaming + L"\\Norvane\\norvane_launcher.cfg"), "player config");
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.2");
    EXPECT_FALSE(PathExists(In(L"norvane_client_pending_version.txt")));
    EXPECT_FALSE(PathExists(archive));
    EXPECT_EQ(EntryCount(In(L"update")), 0u) << "working folders left behind";
    EXPECT_TRUE(ClientWasStarted(10000));
    EXPECT_EQ(ReadWideFile(In(L"client_started.txt")), install);
}

RunningClient::RunningClient(const UpdaterRun& run, bool forever)
    : releaseFile(run.folder / L"client may exit") {
    process = StartProgram(TestProgramPath(L"fake-client.exe"),
                           forever ? std::vector<std::wstring>{L"--forever"}
                                   : std::vector<std::wstring>{L"--until-file", releaseFile});
}

UniqueFileHandle HoldFileOpen(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}
