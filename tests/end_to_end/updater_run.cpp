#include "end_to_end/updater_run.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::wstring ReadWideFile(const std::wstring& path) {
    const std::string bytes = ReadTextFile(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

}  // namespace

UpdaterRun::UpdaterRun(const std::wstring& options)
    : install(folder / L"Игры 游戏\\Norvane"),
      roaming(folder / L"roaming"),
      archive(folder / L"Загрузки 下载\\update 1.2.tar") {
    std::filesystem::create_directories(install + L"\\update");
    std::filesystem::create_directories(roaming);
    MakeInstallation();
    WriteRelease(options);
    client = StartProgram(TestProgramPath(L"fake-client.exe"),
                          L"--until-file \"" + (folder / L"client may exit") + L"\"");
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", roaming.c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_PROGRESS_LOG", (folder / L"progress.log").c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", nullptr);
}

UpdaterRun::~UpdaterRun() {
    Release();
    KillProgram(updater.process);
    KillProgram(client.process);
}

void UpdaterRun::MakeInstallation() {
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), In(L"Norvane Clïent.exe").c_str(),
              FALSE);
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
    std::filesystem::create_directories(launcherFolder);
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), (launcherFolder + L"\\tar.exe").c_str(),
              FALSE);
    const std::wstring arguments = std::to_wstring(clientPid) + L" " + Quoted(archive) + L" " +
                                   Quoted(install) + L" " +
                                   Quoted(exe.empty() ? In(L"Norvane Clïent.exe") : exe);
    updater = StartProgram(TestProgramPath(L"mossharbor-updater-under-test.exe"), arguments,
                           launcherFolder);
    ASSERT_TRUE(updater.process);
    window = WaitForProcessWindow(updater.pid, L"MHUpdater", 20000);
    ASSERT_NE(window, nullptr) << "the progress window did not appear";
}

void UpdaterRun::HoldWorkerAt(const std::wstring& status, int percent) const {
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", status.c_str());
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_PERCENT", std::to_wstring(percent).c_str());
}

bool UpdaterRun::WaitUntilHeld() const {
    return WaitUntil([&] { return PathExists(folder / L"progress.log.held"); }, 30000);
}

void UpdaterRun::Release() const {
    WriteTextFile(folder / L"progress.log.release", "");
}

void UpdaterRun::PressEscape() const {
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
}

bool UpdaterRun::ClientWasStarted(DWORD timeoutMs) const {
    return WaitUntil([&] { return PathExists(In(L"client_started.txt")); }, timeoutMs);
}

void UpdaterRun::ExpectFailureUntilEscape(const std::wstring& message) const {
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

void UpdaterRun::ExpectInstallationUntouched() const {
    EXPECT_EQ(ReadTextFile(In(L"game.dat")), "old game");
    EXPECT_EQ(ReadTextFile(In(L"data\\audio\\music.ogg")), "player music");
    EXPECT_FALSE(PathExists(In(L"data\\audio\\new.ogg")));
    ExpectNotPromoted();
}

void UpdaterRun::ExpectNotPromoted() const {
    EXPECT_EQ(ReadTextFile(In(L"norvane_version.txt")), "1.1");
    EXPECT_TRUE(PathExists(archive));
    EXPECT_FALSE(ClientWasStarted(0));
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

UniqueFileHandle HoldFileOpen(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}
