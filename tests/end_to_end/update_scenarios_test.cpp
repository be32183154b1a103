// The real updater started as its own process, the way the launcher starts it, on archives that
// the real archive tool wrote; checked by what the player and the launcher can observe.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "support/promises.h"

#include <tlhelp32.h>  // after windows.h

namespace {

constexpr size_t npos = std::wstring::npos;
constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";
constexpr wchar_t kBackupFailure[] = L"Failed to back up settings.";
constexpr wchar_t kDiskFull[] = L"Not enough disk space to unpack the update.";
constexpr wchar_t kHelper[] = L"bin\\crash_reporter.exe";  // a program the game left running
constexpr wchar_t kIncompleteInstall[] =
    L"Some files could not be installed. Close the game and try again.";

std::wstring ReadWideFile(const std::wstring& path) {
    const std::string bytes = ReadTextFile(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

// As a running game holds a file, or with FILE_SHARE_DELETE as a scanner glances at one; a folder
// too.
UniqueFileHandle HoldFileOpen(const std::wstring& path, DWORD sharing = 0,
                              DWORD access = GENERIC_READ) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether the process is the updater or a program it started, the client apart.
bool StartedByUpdater(DWORD pid, DWORD updater) {
    std::map<DWORD, PROCESSENTRY32W> processes;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        processes[entry.th32ProcessID] = entry;
    }
    for (int depth = 0; pid != updater && depth < 4 && processes.contains(pid) &&
                        wcscmp(processes[pid].szExeFile, L"Norvane Clïent.exe");
         ++depth) {
        pid = processes[pid].th32ParentProcessID;
    }
    return updater && pid == updater;
}

// Version 1.1 installed with the player's data (in `at`, if given), version 1.2 downloaded below
// one top-level folder and archived by the real tool with `options` (the format) when first needed,
// and a client that runs until the file "client may exit" appears. The folders' names hold two
// scripts that no single ANSI code page has, which the tool cannot take on its command line.
struct UpdaterRun {
    explicit UpdaterRun(const std::wstring& options = L"-c",
                        const std::wstring& top = L"Norvane 1.2", const std::wstring& at = {})
        : options(options),
          release(L"\\\\?\\" + folder / (L"release\\" + top + L"\\")),
          install(at.empty() ? folder / L"Игры 游戏\\Norvane" : at) {
        fs::create_directories(install + L"\\update");
        CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), In(L"Norvane Clïent.exe").c_str(),
                  FALSE);
        Plant(install, {{L"game.dat", {"old game"}},
                        {L"norvane_version.txt", {"1.1"}},
                        {L"norvane_launcher.cfg", {"player config"}},
                        {kHelper, {"old helper"}},
                        {L"data\\audio\\music.ogg", {"player music"}},
                        {L"data\\audio\\mine.ogg", {"player only"}},
                        {L"data\\assets\\arrow\\skin.png", {"player arrow"}}});
        Plant(release, {{L"game.dat", {"new game"}},
                        {L"bin\\clïent.dll", {"new dll"}},
                        {L"bin\\.version", {"dot"}},
                        {L"bin\\tools\\patch.dll", {"new patch"}},
                        {L"data\\audio\\music.ogg", {"update music"}},
                        {L"data\\audio\\new.ogg", {"update only"}},
                        {L"data\\assets\\arrow\\skin.png", {"update arrow"}},
                        {L"norvane_launcher.cfg", {"shipped config"}},
                        {kHelper, {"new helper"}},
                        {L"norvane_client_pending_version.txt", {"1.2"}}});
        client = StartProgram(TestProgramPath(L"fake-client.exe"),
                              L"--until-file \"" + (folder / L"client may exit") + L"\"");
        // The launcher's folder, where a tar.exe has been planted: the updater must never run it.
        fs::create_directories(launcher);
        fs::create_directories(fs::path(updaterExe).parent_path());
        CopyFileW(TestProgramPath(L"mossharbor-updater-under-test.exe").c_str(), updaterExe.c_str(),
                  FALSE);
        CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), (launcher + L"\\tar.exe").c_str(),
                  FALSE);
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", folder.path.c_str());
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_PROGRESS_LOG", Log().c_str());
        for (const wchar_t* unset : {L"SYSTEM_FOLDER", L"FAIL", L"CLOUD_FOLDERS", L"KILL",
                                     L"POWER_CUT", L"NO_HARD_LINKS", L"CLUSTER_BYTES"}) {
            SetEnvironmentVariableW((L"MOSSHARBOR_TEST_" + std::wstring(unset)).c_str(), nullptr);
        }
    }
    ~UpdaterRun() {
        Release();
        KillProgram(updater);
        KillProgram(client);
    }

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    std::wstring Log() const { return folder / L"progress.log"; }

    // The launcher's start. Given `holdAt`, the worker stops at that status with at least
    // `percent`, until Release().
    void Start(DWORD clientPid, const std::wstring& holdAt = L"", int percent = 0) {
        ASSERT_TRUE(PathExists(archive) || MakeArchive(folder / L"release", archive, options));
        scanner = HoldFileOpen(archive, FILE_SHARE_READ | FILE_SHARE_DELETE);
        if (promises.install.empty()) {  // the installation as the player left it
            promises = {.archive = archive, .roaming = folder.path};
            promises.Take(install, Take(release.substr(4, release.size() - 5)));
        }
        // The player's music playing: a file the update does not ship is never moved or replaced.
        listener = HoldFileOpen(In(L"data\\audio\\mine.ogg"), FILE_SHARE_READ);
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_STATUS", holdAt.c_str());
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_HOLD_PERCENT", std::to_wstring(percent).c_str());
        KillProgram(updater);  // an earlier run still waiting would outlive the test
        for (const wchar_t* own : {L"", L".held", L".release", L".paused", L".calls"}) {
            fs::remove(Log() + own);  // each run's own
        }
        updater = StartProgram(updaterExe,
                               std::to_wstring(clientPid) + L" \"" + archive + L"\" \"" + install +
                                   L"\" \"" + In(L"Norvane Clïent.exe") + L"\"",
                               launcher);
        window =
            WaitForProcessWindow(updaterPid = GetProcessId(updater.Get()), L"MHUpdater", 20000);
        ASSERT_NE(window, nullptr) << "the progress window did not appear";
        RECT frame{};
        GetWindowRect(window, &frame);
        EXPECT_EQ(std::pair(frame.left, frame.top),
                  std::pair((GetSystemMetrics(SM_CXSCREEN) - 480L) / 2,
                            (GetSystemMetrics(SM_CYSCREEN) - 215L) / 2));
        // Moved by dragging anywhere but its labels.
        EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(frame.left + 9, frame.top + 99)),
                  HTCAPTION);
        // Its own taskbar button and Alt+Tab entry.
        EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW),
                  WS_EX_APPWINDOW);
        const std::wstring held = folder / L"progress.log.held";
        ASSERT_TRUE(holdAt.empty() || WaitUntil([&] { return PathExists(held); }, 30000));
    }
    void Release() const { WriteTextFile(folder / L"progress.log.release", ""); }
    std::optional<DWORD> WaitForExit(DWORD ms) const { return WaitForExitCode(updater, ms); }
    void PressEscape() const { PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1); }
    bool ClientWasStarted(DWORD timeoutMs) const {
        return WaitUntil([&] { return PathExists(In(L"client_started.txt")); }, timeoutMs);
    }

    // Waits until the run ends or shows a failure, so that a failure never waits out the time
    // a large update takes. The progress log holds "percent failed status" lines; only a failure
    // has " 1 ".
    bool Succeeded() {
        WaitUntil([&] { return WaitForExit(0) || ReadWideFile(Log()).find(L" 1 ") != npos; },
                  60000);
        scanner.Reset();
        listener.Reset();
        EXPECT_EQ(Others(), L"") << "windows shown besides the progress window";
        return WaitForExit(0) == 0u;
    }
    // The failure shown; the window stays until Esc, then the exit code is 0. Not recorded as the
    // new version, not launched, the archive kept for the next attempt.
    void ExpectFailureUntilEscape(const std::wstring& message) {
        EXPECT_FALSE(Succeeded());
        const std::wstring log = ReadWideFile(Log());
        EXPECT_NE(log.find(L" 1 " + message + L"\n"), npos) << "progress shown:\n" << log;
        EXPECT_EQ(WaitForExit(300), std::nullopt) << "a failed update must wait for the player";
        PressEscape();
        EXPECT_EQ(WaitForExit(10000), 0u);
        EXPECT_EQ(promises.Broken(Ended::kFailure), "");
        EXPECT_FALSE(ClientWasStarted(0));
    }
    // The promises kept (working folders gone unless a program still running keeps a file put
    // aside), no kept folder made that the player did not have, the client started in the
    // installation.
    void ExpectUpdated(bool programsEnded = true) {
        EXPECT_EQ(promises.Broken(Ended::kSuccess, !programsEnded), "");
        EXPECT_FALSE(PathExists(In(L"data\\assets\\arrows")));
        EXPECT_TRUE(
            !PathExists(In(L"Norvane Clïent.exe")) ||
            (ClientWasStarted(10000) && ReadWideFile(In(L"client_started.txt")) == install));
        EXPECT_EQ(Others(), L"");
    }
    std::wstring Others() {
        const std::lock_guard lock(othersLock);
        return others;
    }
    // The player changes a file between runs.
    void PlayerWrites(const std::wstring& path, const std::string& content) {
        WriteTextFile(In(path), promises.before[path].content = content);
    }

    ScratchFolder folder;
    std::wstring options;
    std::wstring release;
    // Folders as players have them: spaces, and letters no single ANSI code page holds.
    std::wstring updaterExe = folder / L"Updater Средство\\mossharbor-updater-under-test.exe";
    std::wstring install;
    std::wstring launcher = folder / L"Launcher Запуск";
    std::wstring archive = folder / L"Загрузки 下载\\update 1.2.tar";
    UniqueHandle client;
    UniqueHandle updater;
    HWND window = nullptr;
    UniqueFileHandle held;     // by another program, through the run
    UniqueFileHandle scanner;  // reading the download as it lands, until the run ends
    Promises promises;
    UniqueFileHandle listener;
    // Any window but the progress window that the updater, or a program it starts but the client,
    // shows on the player's screen: an archive tool's console, the shell's box for a missing
    // client.
    std::atomic<DWORD> updaterPid = 0;
    std::mutex othersLock;
    std::wstring others;
    std::map<DWORD, bool> judged;  // by process: the updater's, or started by it
    std::jthread watcher{[this](std::stop_token stop) {
        for (; !stop.stop_requested(); Sleep(20)) {
            EnumWindows(
                [](HWND window, LPARAM self) {
                    auto& run = *reinterpret_cast<UpdaterRun*>(self);
                    wchar_t name[64] = {};
                    DWORD pid = 0;
                    GetWindowThreadProcessId(window, &pid);
                    if (IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
                        wcscmp(name, L"MHUpdater") &&
                        run.judged.try_emplace(pid, StartedByUpdater(pid, run.updaterPid))
                            .first->second) {
                        const std::lock_guard lock(run.othersLock);
                        run.others +=
                            run.others.find(name) == npos ? name + std::wstring(L"; ") : L"";
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
        }
    }};
};

// The percentages the player sees, per status: from the first to the last, and whether they move
// through their band. The bar never goes back.
void ExpectProgressBands(const std::wstring& log) {
    std::map<std::wstring, std::set<int>> shown;
    std::wistringstream lines(log);
    int percent = 0, failed = 0, last = 0;
    for (std::wstring status; lines >> percent >> failed && std::getline(lines >> std::ws, status);
         last = percent) {
        EXPECT_GE(percent, last) << "the bar went back at " << status;
        shown[status].insert(percent);
    }
    std::wostringstream bands;
    for (const auto& [status, values] : shown) {
        bands << status << L' ' << *values.begin() << L'-' << *values.rbegin()
              << (values.size() > 20 ? L" moving\n" : L"\n");
    }
    EXPECT_EQ(bands.str(),
              L"Backing up settings... 50-55\nCleaning up... 95-100\nExtracting update... 8-50 "
              L"moving\nInstalling files... 55-90 moving\nLaunching Norvane... 100-100\nRestoring "
              L"settings... 90-95\nWaiting for client to close... 0-8\n");
}

// A compressed game of thousands of files, some read-only, one installed past 260 characters and
// the update below a top folder whose own path is that long: every tool output pipe fills many
// times over. The machine is not new: a per-user configuration that exists already is the
// player's and stays as it is, and an earlier run's extraction is no part of this update. The game
// lies in a cloud-synced folder, where every folder is a reparse point, and a scanner has the
// download to itself for a moment after the game has closed.
TEST(EndToEnd, WaitsForTheClientThenUpdatesAReadOnlyInstallationOfThousandsOfDeepFiles) {
    UpdaterRun run(L"-cz", L"Norvane 1.2 " + std::wstring(190, L'x'));
    const std::wstring deep = L"bin\\" + std::wstring(200, L'd') + L".dll";
    WriteTextFile(run.release + deep, "deep");
    for (int i = 0; i < 2000; ++i) {  // half of them in folders nested in a kept folder
        WriteTextFile(run.release + (i % 2 ? L"assets\\" : L"data\\assets\\audio\\") +
                          std::to_wstring(i / 100) + L"\\" + std::to_wstring(i) + L".pak",
                      "pak");
    }
    for (const wchar_t* file : {L"game.dat", L"norvane_launcher.cfg", L"data\\audio\\music.ogg",
                                L"data\\audio\\mine.ogg"}) {
        SetFileAttributesW(run.In(file).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    WriteTextFile(run.In(L"update\\extract\\stale.dat"), "an earlier run's");
    WriteTextFile(run.In(L"data\\audio\\music\\theme.ogg"), "player theme");
    WriteTextFile(run.release + L"data\\audio\\music\\theme.ogg", "update theme");
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_CLOUD_FOLDERS", L"1");
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", L"CreateFileW 32 7 update 1.2.tar");
    WriteTextFile(run.folder / L"Norvane\\norvane_launcher.cfg", "roaming config");
    run.Start(GetProcessId(run.client.Get()));
    // The game is still running: nothing may be touched yet.
    Sleep(1500);
    EXPECT_EQ(run.WaitForExit(0), std::nullopt);
    EXPECT_TRUE(PathExists(run.In(L"update\\extract\\stale.dat")));
    EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "old game");

    WriteTextFile(run.folder / L"client may exit", "");
    EXPECT_TRUE(run.Succeeded());
    run.ExpectUpdated();
    ExpectProgressBands(ReadWideFile(run.Log()));
}

// A game file's second name, and a download that ends inside the member after it.
void ShipHardLinksCutShort(UpdaterRun& run) {
    CreateHardLinkW((run.release + L"bin\\copy.dll").c_str(),
                    (run.release + L"bin\\clïent.dll").c_str(), nullptr);
    WriteTextFile(run.release + L"zz.pak", std::string(1 << 16, 'z'));
    ASSERT_TRUE(MakeArchive(run.folder / L"release", run.archive, L"-c",
                            L"\"Norvane 1.2/bin\" \"Norvane 1.2/zz.pak\""));
    fs::resize_file(run.archive, fs::file_size(run.archive) - (1 << 15));
}

// Each row spoils the run in its own way, holds a player's file the backup needs, or makes a call
// fail as Windows may, with the game's data read-only. Each keeps a failed run's promises, says
// its own words and leaves no partial backup to be merged; before the install nothing is
// installed and no partial extraction is left.
TEST(EndToEnd, FailedUpdatesKeepTheOldVersionAndThePlayersData) {
    const struct {
        const char* name;
        const wchar_t* message;
        const wchar_t* inject = nullptr;
        bool installing = false;  // the install has begun
        void (*spoil)(UpdaterRun& run) = [](UpdaterRun&) {};
    } failures[] = {
        {"no extraction folder", L"Failed to create extraction directory.",
         L"CreateDirectoryW 3 0"},
        {"a download cut to nothing", kExtractionFailure, nullptr, false,
         [](UpdaterRun& run) { WriteTextFile(run.archive = run.folder / L"empty.tar", ""); }},
        {"hard links on a drive without them",
         L"The update needs an NTFS drive: this drive cannot store its links.", nullptr, false,
         [](UpdaterRun& run) {
             ShipHardLinksCutShort(run);
             SetEnvironmentVariableW(L"MOSSHARBOR_TEST_NO_HARD_LINKS", L"1");
         }},
        {"hard links on a drive that cannot be asked", kExtractionFailure,
         L"GetVolumeInformationW 5 0", false, ShipHardLinksCutShort},
        {"a player's file held", kBackupFailure, L"MoveFileExW 32 0 music.ogg"},
        {"an interrupted same-id backup that cannot be moved aside", kBackupFailure,
         L"MoveFileW 5 0 backup_0", false,
         [](UpdaterRun& run) { WriteTextFile(run.In(L"update\\backup_0\\data\\x.ogg"), ""); }},
        {"the download still being written", kExtractionFailure, nullptr, false,
         [](UpdaterRun& run) {
             ASSERT_TRUE(MakeArchive(run.folder / L"release", run.archive, L"-c"));
             run.held = HoldFileOpen(run.archive, FILE_SHARE_READ, GENERIC_WRITE);
         }},
        {"no pipe for the tool's output", kExtractionFailure, L"CreatePipe 8 0"},
        {"the tool cannot start", L"Windows could not start tar.exe to unpack the update.",
         L"CreateProcessW 2 0"},
        {"Windows refuses changes in a kept folder",
         L"Windows refused access to the game folder. Nothing was changed.",
         L"MoveFileExW 5 0 data\\audio"},
        {"a disk too full for an empty file", kDiskFull, L"CreateFileW 112 0 Norvane\\"},
        {"an earlier extraction held",
         L"A file of an earlier update is in use. Restart and try again.", nullptr, false,
         [](UpdaterRun& run) {
             WriteTextFile(run.In(L"update\\extract\\Norvane 1.1\\held.bin"), "");
             run.held = HoldFileOpen(run.In(L"update\\extract\\Norvane 1.1\\held.bin"));
         }},
        {"the tool's exit code unknown", kExtractionFailure, L"GetExitCodeProcess 6 0"},
        {"no thread for the update", L"The update could not be started. Nothing was changed.",
         L"CreateThread 8 0"},
        {"not put aside", kIncompleteInstall, L"MoveFileExW 5 0 crash_reporter", true},
        {"old one put back", kIncompleteInstall, L"MoveFileExW 5 5 crash_reporter", true},
        {"a file of the update gone",
         L"An update file went missing. Security software may have removed it.",
         L"FindFirstFileW 2 0 bin\\tools", true},
        {"a folder in the way", kIncompleteInstall, nullptr, true,
         [](UpdaterRun& run) { WriteTextFile(run.In(L"bin\\.version\\mine.txt"), "mine"); }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        UpdaterRun run;
        SetFileAttributesW(run.In(L"game.dat").c_str(), FILE_ATTRIBUTE_READONLY);
        failure.spoil(run);
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", failure.inject);
        run.Start(0);
        run.ExpectFailureUntilEscape(failure.message);
        // Installed in part, or nothing installed and no partial extraction left; no backup.
        EXPECT_EQ(PathExists(run.In(L"data\\audio\\new.ogg")), failure.installing);
        EXPECT_EQ(PathExists(run.In(L"update\\extract\\Norvane 1.2")), failure.installing);
        // No partial backup left.
        EXPECT_FALSE(PathExists(run.In(L"update\\backup_0\\norvane_launcher.cfg")));
    }
}

// A flat archive of one file and no version file, on a system without tar.exe: the one beside the
// updater unpacks it, the version stays, and the client starts. A cleaning tool has removed the
// empty update folder, and a scanner's glance at a backup folder as it goes only delays the
// clean-up.
TEST(EndToEnd, AFlatSingleFileUpdateUsesTheToolBesideTheUpdaterAndKeepsTheVersion) {
    UpdaterRun run;
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    CopyFileW((std::wstring(system) + L"\\tar.exe").c_str(),
              (fs::path(run.updaterExe).parent_path() / L"tar.exe").c_str(), FALSE);
    // A system folder without tar.exe.
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_SYSTEM_FOLDER", run.folder.path.c_str());
    run.archive = run.folder / L"flat.tar";
    ASSERT_TRUE(MakeArchive(run.folder / L"release\\Norvane 1.2", run.archive, L"-c", L"game.dat"));
    fs::remove(run.In(L"update"));
    SetFileAttributesW(run.In(L"game.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", L"SetFileAttributesW 5 0 game.dat");
    run.Start(0, L"Cleaning up...");
    run.held = HoldFileOpen(run.In(L"update\\backup_0\\data\\audio"), FILE_SHARE_DELETE);
    run.Release();
    Sleep(700);  // well inside the second the clean-up waits, not inside half of it
    run.held.Reset();
    EXPECT_TRUE(run.Succeeded());
    EXPECT_EQ(ReadTextFile(run.In(L"game.dat")), "new game");
    EXPECT_EQ(ReadTextFile(run.In(L"norvane_version.txt")), "1.1");
    EXPECT_TRUE(!PathExists(run.archive) && fs::is_empty(run.In(L"update")));
    EXPECT_TRUE(run.ClientWasStarted(10000));
}

// Thirty game files held through the install, one deeper than the others, a player's file held
// while it is put back, and the per-user folder refusing the launcher settings: the update is not
// recorded, and the backups keep the player's copies. The install's walk waits 20 s in all for its
// held files, the restore's 2 s for its one.
TEST(EndToEnd, FilesHeldThroughTheInstallOrTheRestoreKeepTheOldVersionAndTheBackups) {
    UpdaterRun run;
    WriteTextFile(run.In(L"update\\backup_77\\data\\audio\\old.ogg"), "interrupted");
    std::vector<UniqueFileHandle> held;
    for (int i = 0; i < 30; ++i) {
        const std::wstring file = i == 29 ? L"bin\\tools\\patch.dll"
                                  : i     ? L"bin\\held " + std::to_wstring(i)
                                          : L"bin\\clïent.dll";
        WriteTextFile(run.release + file, "new dll");
        WriteTextFile(run.In(file), "old dll");
        held.push_back(HoldFileOpen(run.In(file)));
    }
    // The only copy of the settings is the migration's: the backup moves them.
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", L"CopyFileW 5 #1 norvane_launcher.cfg");
    run.Start(1234, L"Restoring settings...");
    run.promises.before[L"data\\audio\\old.ogg"] = {"interrupted"};  // the player's, in a backup
    held.push_back(HoldFileOpen(run.In(L"data\\audio\\music.ogg")));
    run.Release();
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    EXPECT_EQ(ReadTextFile(run.Log() + L".paused"), "22000");
    held.clear();
    EXPECT_EQ(ReadTextFile(run.In(L"bin\\clïent.dll")), "old dll");
    EXPECT_EQ(ReadTextFile(run.In(L"bin\\tools\\patch.dll")), "old dll");
    EXPECT_EQ(ReadTextFile(run.In(L"update\\extract\\Norvane 1.2\\bin\\clïent.dll")), "new dll");
    EXPECT_EQ(ReadTextFile(run.In(L"update\\backup_1234\\data\\audio\\music.ogg")), "player music");
    EXPECT_EQ(ReadTextFile(run.In(L"data\\audio\\old.ogg")), "interrupted");  // merged back

    // The player changes another file of the folder the kept backup is for; the next update puts
    // back only what that backup had to keep. The roaming folder is offline by then: the player's
    // launcher settings still wait in the backup for a later run to migrate.
    run.PlayerWrites(L"data\\audio\\mine.ogg", "changed since");
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", nullptr);
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", nullptr);
    run.promises.roaming.clear();
    // Nor can the client be started any more: that shows nothing.
    fs::remove(run.In(L"Norvane Clïent.exe"));
    run.promises.before.erase(L"Norvane Clïent.exe");
    run.Start(1234);
    EXPECT_TRUE(run.Succeeded());
    run.ExpectUpdated(false);
}

// The updater runs from the installation and the update ships a new one, and a helper the game
// left running keeps its own file: both are renamed aside, and a later run deletes them once
// they have ended. Explorer's hidden, system desktop.ini in a kept folder stays as it was, even
// through a backup kept for it.
TEST(EndToEnd, RunningProgramsAndAHiddenDesktopIniHeldInTheRestoreTakeTwoAttempts) {
    UpdaterRun run;
    const std::wstring shipped = run.updaterExe, helper = run.In(kHelper);
    CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), helper.c_str(), FALSE);
    KillProgram(run.client);
    run.client =
        StartProgram(helper, L"--until-file \"" + (run.folder / L"client may exit") + L"\"");
    const std::wstring ini = run.In(L"data\\audio\\desktop.ini");
    constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    run.updaterExe = run.In(L"mossharbor-updater.exe");
    CopyFileW(shipped.c_str(), run.updaterExe.c_str(), FALSE);
    WriteTextFile(run.release + L"mossharbor-updater.exe", "new updater");
    WriteTextFile(ini, "[.ShellClassInfo]");
    SetFileAttributesW(ini.c_str(), kHiddenSystem);
    WriteTextFile(run.release + L"data\\audio\\desktop.ini", "update ini");
    // What an earlier run put aside, still in use: the names it took are passed over.
    WriteTextFile(run.In(L"update\\replaced\\0.old"), "earlier");
    UniqueFileHandle earlier = HoldFileOpen(run.In(L"update\\replaced\\0.old"));
    for (const bool programsEnded : {false, true}) {
        SCOPED_TRACE(programsEnded ? "second update" : "first update");
        // The first restore cannot put desktop.ini back (its third and fourth moves, after the
        // backup's and the install's, fail): not recorded, the backup kept for that one file, and
        // the next attempt merges it.
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL",
                                programsEnded ? nullptr : L"MoveFileExW 5 12 desktop.ini");
        run.Start(0);
        if (programsEnded) {
            EXPECT_TRUE(run.Succeeded());
            run.ExpectUpdated();
        } else {
            run.ExpectFailureUntilEscape(kIncompleteInstall);
        }
        EXPECT_EQ(PathExists(run.In(L"update\\backup_0\\data\\audio\\desktop.ini")),
                  !programsEnded);
        EXPECT_FALSE(PathExists(run.In(L"update\\backup_0\\data\\audio\\music.ogg")));
        const std::wstring kept =
            programsEnded ? ini : run.In(L"update\\backup_0\\data\\audio\\desktop.ini");
        EXPECT_EQ(ReadTextFile(kept), "[.ShellClassInfo]");
        EXPECT_EQ(GetFileAttributesW(kept.c_str()) & kHiddenSystem, kHiddenSystem);
        WriteTextFile(run.folder / L"client may exit", "");
        EXPECT_EQ(WaitForExitCode(run.client, 10000), 0u);
        fs::remove(run.In(L"client_started.txt"));
        run.updaterExe = shipped;
        earlier.Reset();
    }
}

// Interrupted runs' backups hold the player's originals, the oldest the truest; a backup already
// restored holds nothing newer than the installation.
TEST(EndToEnd, RerunsMergeTheOldestOriginalsBackAndNeverARestoredBackup) {
    UpdaterRun run;
    // Two runs killed after their install long ago: the older one's backup holds the original,
    // the newer one's, named to be listed first, the update's, as the game does.
    WriteTextFile(run.In(L"update\\backup_99\\data\\audio\\music.ogg"), "player music");
    WriteTextFile(run.In(L"update\\backup_1\\data\\audio\\music.ogg"), "update music");
    WriteTextFile(run.In(L"data\\audio\\music.ogg"), "update music");
    // Killed again once every file is over the installation, before the restore.
    run.Start(4321, L"Installing files...", 90);
    run.promises.before[L"data\\audio\\music.ogg"].content = "player music";  // the original

    // Offered again for a client with the same id, once the held run is killed. The version file is
    // held while it is promoted, a folder of the backup, emptied by the restore, while the backup
    // goes, and the oldest original, read by a scanner, while its merged backup goes: a later run
    // deletes what is left of them, never merging that original again.
    std::vector<UniqueFileHandle> held;
    held.push_back(
        HoldFileOpen(run.In(L"update\\backup_99\\data\\audio\\music.ogg"), FILE_SHARE_READ));
    run.Start(4321, L"Cleaning up...");
    held.push_back(HoldFileOpen(run.In(L"update\\backup_4321\\data\\audio")));
    held.push_back(HoldFileOpen(run.In(L"norvane_client_pending_version.txt")));
    run.Release();
    run.ExpectFailureUntilEscape(kIncompleteInstall);
    held.clear();

    // The player plays on; the next attempt keeps what they changed. While it installs, closing
    // is refused, and a file locked through five attempts, 1.55 s of pauses, is waited for: inside
    // the two seconds of retries, not inside one.
    run.PlayerWrites(L"data\\audio\\music.ogg", "newer music");
    SetEnvironmentVariableW(L"MOSSHARBOR_TEST_FAIL", L"MoveFileExW 33 31 game.dat");
    run.Start(4321, L"Installing files...", 55);
    run.PressEscape();
    PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.WaitForExit(1000), std::nullopt);
    run.Release();
    EXPECT_TRUE(run.Succeeded());
    run.ExpectUpdated();
}

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Each length limit is met at its edge: one character less is accepted, and the update then waits
// for the client (this test) until Esc closes it at once, having touched nothing.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    ScratchFolder folder;
    fs::create_directories(folder / L"update");
    const std::wstring install = L" \"" + folder.path + L"\" ";
    const auto installOfLength = [&](size_t length) {
        return L" \"" + folder / std::wstring(length - folder.path.size() - 1, L'n') + L"\" ";
    };
    // The working paths grow with the client id's digits: 260 with two digits at 222.
    const std::wstring client = std::to_wstring(GetCurrentProcessId());
    const std::pair<std::wstring, bool> rows[] = {
        {L"1 u.tar" + install, true},
        {L"1 u.tar" + install + std::wstring(260, L'c'), true},
        {L"10 u.tar" + installOfLength(222) + L"c.exe", true},
        {client + L" u.tar" + installOfLength(223 - client.size()) + std::wstring(259, L'c'),
         false},
        {L"1 \"a\\\"b.tar\"" + install + L"c.exe", true},
        {L"1 C:\\u\\" + install + L"c.exe", true},
    };
    for (const auto& [arguments, refused] : rows) {
        SCOPED_TRACE(testing::Message() << "arguments of length " << arguments.size());
        const UniqueHandle updater =
            StartProgram(TestProgramPath(refused ? L"..\\mossharbor-updater.exe"
                                                 : L"mossharbor-updater-under-test.exe"),
                         arguments);
        const HWND window = WaitForProcessWindow(GetProcessId(updater.Get()),
                                                 refused ? L"#32770" : L"MHUpdater", 20000);
        EXPECT_NE(window, nullptr);  // and go on, so the process is still killed below
        wchar_t text[100] = {};
        WaitUntil([&] { return !refused || GetDlgItemTextW(window, 0xFFFF, text, 100) > 0; }, 2000);
        EXPECT_STREQ(text, refused ? L"Usage: mossharbor-updater.exe <pid> <archive> "
                                     L"<install_dir> <exe>"
                                   : L"");
        EXPECT_EQ(WaitForExitCode(updater, 300), std::nullopt) << "exited unasked";
        PostMessageW(window, refused ? WM_COMMAND : WM_KEYDOWN, refused ? IDOK : VK_ESCAPE, 1);
        EXPECT_EQ(WaitForExitCode(updater, 5000), refused ? 1u : 0u);
        KillProgram(updater);
    }
    EXPECT_TRUE(fs::is_empty(folder / L"update"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), {}), 1) << "an installation made";
}

// Needs a small disk mounted at the installation's update folder, where a leftover folder of
// files put aside holds a link to a player's folder beside the installation (see the test runner).
TEST(SmallDisk, AFullDiskSaysSoAndNothingIsDeletedThroughALeftoverLink) {
    wchar_t install[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SMALL_DISK", install, MAX_PATH) == 0) {
        GTEST_SKIP() << "no small disk mounted: mounting a tmpfs needs root";
    }
    // Packed, the second update fits on the disk many times over; unpacked, neither does. The
    // third fits, but on an exFAT drive the backup of the player's audio would not.
    const std::tuple<const wchar_t*, bool, const wchar_t*> cases[] = {
        {L"-c", true, kDiskFull},
        {L"-cz", true, kDiskFull},
        {L"-c", false, L"Not enough disk space to back up settings: 2 MB more needed."}};
    for (const auto& [format, largeUpdate, message] : cases) {
        SCOPED_TRACE(testing::Message() << "tar.exe " << format << " large update " << largeUpdate);
        UpdaterRun run(format, L"Norvane 1.2", install);
        // On an exFAT drive's 128 KiB clusters, two dozen of the player's clips, in folders of a
        // kept folder, take 3 MB.
        SetEnvironmentVariableW(L"MOSSHARBOR_TEST_CLUSTER_BYTES",
                                largeUpdate ? nullptr : L"131072");
        for (int i = 0; i < (largeUpdate ? 1 : 24); ++i) {
            const std::wstring clip = L"data\\audio\\set " + std::to_wstring(i % 3) + L"\\clip " +
                                      std::to_wstring(i) + L".ogg";
            WriteTextFile(largeUpdate ? run.release + L"game.dat" : run.In(clip),
                          std::string(largeUpdate ? 3 << 20 : 1, 'x'));
            WriteTextFile(run.release + clip, "shipped too, so set aside");
        }
        run.Start(0);
        run.ExpectFailureUntilEscape(message);
        EXPECT_FALSE(PathExists(run.In(L"update\\extract\\Norvane 1.2")));
        EXPECT_EQ(ReadTextFile(run.install + L"\\..\\library\\favourite.ogg"), "kept\n");
    }
}

}  // namespace
