// The real updater started as its own process, the way the launcher starts it, on archives that
// the real archive tool wrote, in a real window a player closes with Esc. Each row: a setup, then
// its runs, each held to the promises and to what the row expects it to show.
#include <gtest/gtest.h>

#include <tuple>

#include "support/runner.h"

namespace {

// A refusal that stays once a file's own protection is cleared: no use closing the game.
constexpr wchar_t kRefused[] =
    L"Windows refused access to the game folder. Check your security software, then try again.";
constexpr wchar_t kHelper[] = L"bin\\crash_reporter.exe";  // a program the game left running

// Version 1.1 installed with the player's data and a client, version 1.2 downloaded.
Layout Installed() {
    return {
        .install = {{L"game.dat", {"old game"}},
                    {L"norvane_version.txt", {"1.1"}},
                    {L"norvane_launcher.cfg", {"player config"}},
                    {kHelper, {"old helper"}},
                    {L"data\\audio\\music.ogg", {"player music"}},
                    {L"data\\audio\\mine.ogg", {"player only"}},
                    {L"data\\assets\\arrow\\skin.png", {"player arrow"}},
                    {L"Norvane Clïent.exe", {ReadTextFile(TestProgramPath(L"fake-client.exe"))}}},
        .update = {{L"game.dat", {"new game"}},
                   {L"bin\\clïent.dll", {"new dll"}},
                   {L"bin\\.version", {"dot"}},
                   {L"bin\\tools\\patch.dll", {"new patch"}},
                   {L"data\\audio\\music.ogg", {"update music"}},
                   {L"data\\audio\\new.ogg", {"update only"}},
                   {L"data\\assets\\arrow\\skin.png", {"update arrow"}},
                   {L"norvane_launcher.cfg", {"shipped config"}},
                   {kHelper, {"new helper"}},
                   {L"norvane_client_pending_version.txt", {"1.2"}}}};
}

std::wstring Release(const Scene& scene) {
    return L"\\\\?\\" + scene.folder / (L"release\\" + scene.top + L"\\");
}
std::string Expect(bool holds, const char* broken) {
    return holds ? "" : broken + std::string("; ");
}
// A client that runs until the test lets it go.
void RunClient(Scene& scene, const std::wstring& exe) {
    scene.client =
        StartProgram(exe, L"--until-file \"" + (scene.folder / L"client may exit") + L"\"");
}
std::string EndClient(Scene& scene) {
    WriteTextFile(scene.folder / L"client may exit", "");
    return Expect(WaitForExitCode(scene.client, 10000) == 0u, "client still running");
}
// While the game still runs nothing may be touched yet; then it ends. A client that ended by
// itself lets the updater go on rightly: the message tells it apart from one that did not wait.
std::string WaitedForTheClient(Scene& scene) {
    Sleep(1500);
    const std::optional<DWORD> client = WaitForExitCode(scene.client, 0);
    const std::string at = Utf8(Shown(scene.Log()).status) +
                           (client ? ", the client ended by itself: " + std::to_string(*client)
                                   : ", the client running");
    return Expect(!WaitForExitCode(scene.updater, 0), "3 ended before the client") +
           Expect(PathExists(scene.In(L"update\\extract\\stale.dat")) &&
                      ReadTextFile(scene.In(L"game.dat")) == "old game",
                  ("3 did not wait for the client, at " + at).c_str()) +
           EndClient(scene);
}

// The percentages the player sees, per status: from the first to the last, and whether they move
// through their band. The bar never goes back.
std::string Bands(const Scene& scene) {
    const std::string bytes = ReadTextFile(scene.Log());
    std::wistringstream lines(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    std::map<std::wstring, std::set<int>> shown;
    std::wostringstream bands;
    int percent = 0, failed = 0, last = 0;
    for (std::wstring status; lines >> percent >> failed && std::getline(lines >> std::ws, status);
         last = percent) {
        bands << (percent < last ? L"back at " + status + L"\n" : L"");
        shown[status].insert(percent);
    }
    for (const auto& [status, values] : shown) {
        bands << status << L' ' << *values.begin() << L'-' << *values.rbegin()
              << (values.size() > 20 ? L" moving\n" : L"\n");
    }
    return Expect(bands.str() ==
                      L"Backing up settings... 50-55\nCleaning up... 95-100\nExtracting update... "
                      L"8-50 moving\nInstalling files... 55-90 moving\nLaunching Norvane... "
                      L"100-100\nRestoring settings... 90-95\nWaiting for client to close... 0-8\n",
                  "3 progress bands");
}

// A game file's second name, and a download that ends inside the member after it.
void ShipHardLinksCutShort(Scene& scene) {
    CreateHardLinkW((Release(scene) + L"bin\\copy.dll").c_str(),
                    (Release(scene) + L"bin\\clïent.dll").c_str(), nullptr);
    WriteTextFile(Release(scene) + L"zz.pak", std::string(1 << 16, 'z'));
    MakeArchive(scene.folder / L"release", scene.archive, L"-c",
                L"\"Norvane 1.2/bin\" \"Norvane 1.2/zz.pak\"");
    fs::resize_file(scene.archive, fs::file_size(scene.archive) - (1 << 15));
}

// The download comes through a pipe: whole to the listing, then half of it to the extraction,
// whose tool waits on the rest until the file "download may end" exists.
void StallTheDownloadHalfway(Scene& scene) {
    scene.esc = false;  // a scanner's glance at the download would take the pipe's first reader
    scene.Begin();
    const std::string bytes = ReadTextFile(scene.archive);
    const std::wstring pipe = L"\\\\.\\pipe\\" + fs::path(scene.folder.path).filename().wstring(),
                       ends = scene.folder / L"download may end";
    const auto serve = [pipe] {
        return UniqueFileHandle(CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE,
                                                 2, 1 << 16, 1 << 16, 0, nullptr));
    };
    UniqueFileHandle first = serve();
    std::thread([bytes, ends, serve, first = std::move(first)]() mutable {
        DWORD written = 0;
        ConnectNamedPipe(first.Get(), nullptr);
        WriteFile(first.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
        FlushFileBuffers(first.Get());  // until all is read
        const UniqueFileHandle second = serve();
        first.Reset();
        ConnectNamedPipe(second.Get(), nullptr);
        WriteFile(second.Get(), bytes.data(), DWORD(bytes.size() / 2), &written, nullptr);
        WaitUntil([&] { return PathExists(ends); }, 120000);
    }).detach();
    scene.archive = pipe;
}
// Killed while its tool waits on the download: the tool must end with it. The tool is the
// updater's child started after it: an older process may name a parent whose id was reused.
std::string KilledWhileTheToolWaits(Scene& scene) {
    const auto started = [](HANDLE process) {
        FILETIME times[4]{};
        GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]);
        return ULARGE_INTEGER{{times[0].dwLowDateTime, times[0].dwHighDateTime}}.QuadPart;
    };
    const DWORD updater = GetProcessId(scene.updater.Get());
    UniqueHandle tool;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more && !tool;
         more = Process32NextW(snapshot.Get(), &entry)) {
        tool.Reset(entry.th32ParentProcessID == updater &&
                           _wcsicmp(entry.szExeFile, L"tar.exe") == 0
                       ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     entry.th32ProcessID)
                       : nullptr);
        tool.Reset(tool && started(tool.Get()) >= started(scene.updater.Get()) ? tool.Release()
                                                                               : nullptr);
    }
    BOOL inJob = FALSE;
    IsProcessInJob(tool.Get(), nullptr, &inJob);
    TerminateProcess(scene.updater.Get(), 9);
    const bool ended = tool && WaitForSingleObject(tool.Get(), 20000) == WAIT_OBJECT_0;
    WriteTextFile(scene.folder / L"download may end", "");
    scene.archive = scene.promises.archive;
    return Expect(ended, !tool   ? "3 no archive tool"
                         : inJob ? "3 the archive tool outlived the updater, in a job"
                                 : "3 the archive tool outlived the updater, in no job");
}

struct Row {
    const char* name;
    std::function<void(Scene&)> setup;
    std::vector<Run> runs;
};

// One run that must fail with `message`, `inject` failing a call, with the game's data read-only.
Row Failing(const char* name, const wchar_t* message, const std::wstring& inject,
            const std::function<void(Scene&)>& spoil = {}) {
    return {name,
            [spoil](Scene& scene) {
                SetFileAttributesW(scene.In(L"game.dat").c_str(), FILE_ATTRIBUTE_READONLY);
                if (spoil) {
                    spoil(scene);
                }
            },
            {{.env = {inject.find(L'=') != npos ? inject : L"MOSSHARBOR_TEST_FAIL=" + inject},
              .shows = message}}};
}

const Row kRows[] = {
    // A compressed game of thousands of files, some read-only, one installed past 260 characters
    // and the update below a top folder whose own path is that long: every tool output pipe fills
    // many times over. A per-user configuration that exists already is the player's; an earlier
    // run's extraction is no part of this update. The game lies in a cloud-synced folder, where
    // every folder is a reparse point, and a scanner has the download to itself for a moment.
    {"ThousandsOfDeepReadOnlyFilesOnceTheClientHasExited",
     [](Scene& scene) {
         scene.options = L"-cz";
         const std::wstring top = L"Norvane 1.2 " + std::wstring(190, L'x');
         MoveFileW(Release(scene).c_str(),
                   (L"\\\\?\\" + scene.folder / (L"release\\" + top)).c_str());
         scene.top = top;
         WriteTextFile(Release(scene) + L"bin\\" + std::wstring(200, L'd') + L".dll", "deep");
         for (int i = 0; i < 2000; ++i) {  // half of them in folders nested in a kept folder
             WriteTextFile(Release(scene) + (i % 2 ? L"assets\\" : L"data\\assets\\audio\\") +
                               std::to_wstring(i / 100) + L"\\" + std::to_wstring(i) + L".pak",
                           "pak");
         }
         for (const wchar_t* file : {L"game.dat", L"norvane_launcher.cfg",
                                     L"data\\audio\\music.ogg", L"data\\audio\\mine.ogg"}) {
             SetFileAttributesW(scene.In(file).c_str(), FILE_ATTRIBUTE_READONLY);
         }
         WriteTextFile(scene.In(L"update\\extract\\stale.dat"), "an earlier run's");
         WriteTextFile(scene.In(L"data\\audio\\music\\theme.ogg"), "player theme");
         WriteTextFile(Release(scene) + L"data\\audio\\music\\theme.ogg", "update theme");
         WriteTextFile(scene.roaming + L"\\Norvane\\norvane_launcher.cfg", "roaming config");
         RunClient(scene, TestProgramPath(L"fake-client.exe"));
         scene.pid = GetProcessId(scene.client.Get());
     },
     {{.env = {L"MOSSHARBOR_TEST_CLOUD_FOLDERS=1",
               L"MOSSHARBOR_TEST_FAIL=CreateFileW 32 7 update 1.2.tar"},
       .shows = L"",
       .atHold = WaitedForTheClient,
       .after = Bands}}},

    // An anti-cheat refuses every handle to the game: the list of processes tells it still runs.
    {"AnAntiCheatRefusesHandlesToTheGame",
     [](Scene& scene) {
         WriteTextFile(scene.In(L"update\\extract\\stale.dat"), "an earlier run's");
         RunClient(scene, scene.In(L"Norvane Clïent.exe"));
         scene.pid = GetProcessId(scene.client.Get());
     },
     {{.env = {L"MOSSHARBOR_TEST_FAIL=OpenProcess 5 0"},
       .shows = L"",
       .atHold = WaitedForTheClient}}},

    {"KilledWhileTheToolUnpacks",
     StallTheDownloadHalfway,
     {{.hold = L"Extracting update...", .percent = 10, .atHold = KilledWhileTheToolWaits},
      {.shows = L""}}},

    // Each failure keeps a failed run's promises and says its own words.
    Failing("NoExtractionFolder", L"Failed to create extraction directory.",
            L"CreateDirectoryW 3 0"),
    Failing("ADownloadCutToNothing", kExtractionFailure, L"",
            [](Scene& scene) { WriteTextFile(scene.archive, ""); }),
    Failing("HardLinksOnADriveWithoutThem",
            L"The update needs an NTFS drive: this drive cannot store its links.",
            L"MOSSHARBOR_TEST_NO_HARD_LINKS=1", ShipHardLinksCutShort),
    Failing("HardLinksOnADriveThatCannotBeAsked", kExtractionFailure, L"GetVolumeInformationW 5 0",
            ShipHardLinksCutShort),
    Failing("APlayersFileHeld", kBackupFailure, L"MoveFileExW 32 0 music.ogg"),
    Failing("AnInterruptedSameIdBackupThatCannotBeMovedAside", kRefused, L"MoveFileW 5 0 backup_",
            [](Scene& scene) {
                WriteTextFile(
                    scene.In(L"update\\backup_" + std::to_wstring(scene.pid) + L"\\data\\x.ogg"),
                    "");
            }),
    Failing(
        "SecuritySoftwareBlocksTheDownload",
        L"Security software blocked the update as unsafe. Check its quarantine, then try again.",
        L"CreateFileW 225 0 update 1.2.tar"),
    // The archive reads cleanly, but a file of it cannot be written (a second name of a file the
    // download lacks), as when ransomware protection refuses the tool what it allowed the updater.
    Failing("SecuritySoftwareKeepsTheToolFromWriting",
            L"Windows or security software kept tar.exe from unpacking the update. Allow tar.exe, "
            L"then try again.",
            L"",
            [](Scene& scene) {
                CreateHardLinkW((Release(scene) + L"zz.dat").c_str(),
                                (Release(scene) + L"game.dat").c_str(), nullptr);
                MakeArchive(scene.folder / L"release", scene.folder / L"whole.tar", L"-c",
                            L"\"Norvane 1.2/game.dat\" \"Norvane 1.2/zz.dat\"");
                MakeArchive(scene.folder / L"release", scene.archive, L"-c --exclude */game.dat",
                            L"@..\\whole.tar");
            }),
    Failing("TheDownloadStillBeingWritten", kExtractionFailure, L"",
            [](Scene& scene) {
                MakeArchive(scene.folder / L"release", scene.archive, L"-c");
                scene.held.push_back(HoldFileOpen(scene.archive, FILE_SHARE_READ, GENERIC_WRITE));
            }),
    Failing("NoPipeForTheToolsOutput", kExtractionFailure, L"CreatePipe 8 0"),
    Failing("TheToolCannotStart", L"Windows could not start tar.exe to unpack the update.",
            L"CreateProcessW 2 0"),
    Failing("WindowsRefusesChangesInAKeptFolder",
            L"Windows refused access to the game folder. Nothing was changed.",
            L"MoveFileExW 5 0 data\\audio"),
    // A scanner renames a fresh file of the update in place, which keeps the count of files.
    {"AScannerRenamesAFreshFile",
     [](Scene&) {},
     {{.shows = L"An update file went missing. Security software may have removed it.",
       .hold = L"Extracting update...",
       .percent = 50,
       .atHold =
           [](Scene& scene) {
               const std::wstring fresh = scene.In(L"update\\extract\\Norvane 1.2\\game.dat");
               WaitUntil([&] { return bool(HoldFileOpen(fresh)); }, 10000);  // the tool let go
               return Expect(MoveFileW(fresh.c_str(), (fresh + L".XXX").c_str()), "not renamed");
           }}}},
    // A shield guarding kinds of file, not folders, refuses every change to a .png.
    Failing("AShieldGuardingKindsOfFile",
            L"Windows refused access to the game folder. Nothing was changed.",
            L"MoveFileExW 5 0 .png"),
    Failing("ADiskTooFullForAnEmptyFile", kDiskFull, L"CreateFileW 112 0 Norvane\\"),
    Failing("AnEarlierExtractionHeld",
            L"A file of an earlier update is in use. Restart and try again.", L"",
            [](Scene& scene) {
                WriteTextFile(scene.In(L"update\\extract\\Norvane 1.1\\held.bin"), "");
                scene.held.push_back(
                    HoldFileOpen(scene.In(L"update\\extract\\Norvane 1.1\\held.bin")));
            }),
    Failing("TheToolsExitCodeUnknown", kExtractionFailure, L"GetExitCodeProcess 6 0"),
    Failing("NoThreadForTheUpdate", L"The update could not be started. Nothing was changed.",
            L"CreateThread 8 0"),
    Failing("NotPutAside", kRefused, L"MoveFileExW 5 0 crash_reporter"),
    Failing("OldOnePutBack", kRefused, L"MoveFileExW 5 5 crash_reporter"),
    Failing("AFileOfTheUpdateGone",
            L"An update file went missing. Security software may have removed it.",
            L"FindFirstFileW 2 #2+ bin\\tools"),
    // The game's folder where the update brings a file is set aside, and put back when the file
    // still does not move; the next attempt completes.
    {"AFolderOfTheGameInTheWay",
     [](Scene& scene) { WriteTextFile(scene.In(L"bin\\.version\\old.txt"), "old"); },
     {{.env = {L"MOSSHARBOR_TEST_FAIL=MoveFileExW 5 5 bin\\.version"}, .shows = kRefused},
      {.shows = L""}}},
    Failing("APlayersFileInTheWay",
            L"The update does not fit this installation: data\\audio\\music.ogg is in its way.",
            L"",
            [](Scene& scene) {
                fs::remove(Release(scene) + L"data\\audio\\music.ogg");
                WriteTextFile(Release(scene) + L"data\\audio\\music.ogg\\new.ogg", "update");
            }),

    // A flat archive of one file and no version file, on a system without tar.exe: the one beside
    // the updater unpacks it, the version stays. There is no update folder yet, and a scanner's
    // glance at a backup folder as it goes only delays the clean-up.
    {"AFlatSingleFileUpdateWithTheToolBesideTheUpdater",
     [](Scene& scene) {
         wchar_t system[MAX_PATH];
         GetSystemDirectoryW(system, MAX_PATH);
         CopyFileW((std::wstring(system) + L"\\tar.exe").c_str(),
                   (fs::path(scene.exe).parent_path() / L"tar.exe").c_str(), FALSE);
         for (const auto& [path, file] : Take(scene.folder / L"release\\Norvane 1.2")) {
             if (path != L"game.dat") {
                 fs::remove(Release(scene) + path);
             }
         }
         MakeArchive(scene.folder / L"release\\Norvane 1.2", scene.archive, L"-c", L"game.dat");
         scene.env.push_back(L"MOSSHARBOR_TEST_SYSTEM_FOLDER=" + scene.folder.path);
         SetFileAttributesW(scene.In(L"game.dat").c_str(), FILE_ATTRIBUTE_READONLY);
     },
     {{.env = {L"MOSSHARBOR_TEST_FAIL=SetFileAttributesW 5 0 game.dat"},
       .shows = L"",
       .hold = L"Cleaning up...",
       .atHold =
           [](Scene& scene) {
               scene.held.push_back(HoldFileOpen(
                   scene.In(L"update\\backup_" + std::to_wstring(scene.pid) + L"\\data\\audio"),
                   FILE_SHARE_DELETE));
               WriteTextFile(scene.Log() + L".release", "");
               Sleep(700);  // well inside the second the clean-up waits, not inside half of it
               scene.held.clear();
               return std::string();
           }}}},

    // Thirty game files held through the install, one deeper than the others, a player's file
    // held while it is put back, and the per-user folder refusing the launcher settings: the
    // update is not recorded, and the backups keep the player's copies. The install's walk waits
    // 20 s in all for its held files, the restore's 2 s for its one. The player then changes
    // another file of the folder the kept backup is for; the next update puts back only what that
    // backup had to keep. The roaming folder is offline by then, and the client gone.
    {"FilesHeldThroughTheInstallOrTheRestore",
     [](Scene& scene) {
         WriteTextFile(scene.In(L"update\\backup_77\\data\\audio\\old.ogg"), "interrupted");
         for (int i = 0; i < 30; ++i) {
             const std::wstring file = i == 29 ? L"bin\\tools\\patch.dll"
                                       : i     ? L"bin\\held " + std::to_wstring(i)
                                               : L"bin\\clïent.dll";
             WriteTextFile(Release(scene) + file, "new dll");
             WriteTextFile(scene.In(file), "old dll");
             scene.held.push_back(HoldFileOpen(scene.In(file)));
         }
     },
     {{.env = {L"MOSSHARBOR_TEST_FAIL=CopyFileW 5 #1 norvane_launcher.cfg"},
       .shows = kIncompleteInstall,
       .hold = L"Restoring settings...",
       .atHold =
           [](Scene& scene) {
               scene.promises.before[L"data\\audio\\old.ogg"] = {"interrupted"};
               scene.held.push_back(HoldFileOpen(scene.In(L"data\\audio\\music.ogg")));
               return std::string();
           },
       .after =
           [](Scene& scene) {
               scene.held.clear();
               scene.PlayerWrites(L"data\\audio\\mine.ogg", "changed since");
               scene.roaming = scene.promises.roaming = L"";
               fs::remove(scene.In(L"Norvane Clïent.exe"));
               scene.promises.before.erase(L"Norvane Clïent.exe");
               return Expect(ReadTextFile(scene.Log() + L".paused") == "22000", "3 paused");
           }},
      {.shows = L"", .leftovers = true}}},

    // The updater runs from the installation and the update ships a new one, and a helper the
    // game left running keeps its own file: both are renamed aside, and a later run deletes them
    // once they have ended. Explorer's hidden, system desktop.ini in a kept folder stays as it
    // was, even through a backup kept for it: the first restore cannot put it back (its third and
    // fourth moves fail), and the next attempt merges it. What an earlier run put aside is still
    // in use: the names it took are passed over.
    {"RunningProgramsAndAHiddenDesktopIniHeldInTheRestore",
     [](Scene& scene) {
         CopyFileW(TestProgramPath(L"fake-client.exe").c_str(), scene.In(kHelper).c_str(), FALSE);
         RunClient(scene, scene.In(kHelper));
         CopyFileW(scene.exe.c_str(), scene.In(L"mossharbor-updater.exe").c_str(), FALSE);
         WriteTextFile(Release(scene) + L"mossharbor-updater.exe", "new updater");
         const std::wstring ini = scene.In(L"data\\audio\\desktop.ini");
         WriteTextFile(ini, "[.ShellClassInfo]");
         SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
         WriteTextFile(Release(scene) + L"data\\audio\\desktop.ini", "update ini");
         WriteTextFile(scene.In(L"update\\replaced\\0.old"), "earlier");
         scene.held.push_back(HoldFileOpen(scene.In(L"update\\replaced\\0.old")));
         scene.exe = scene.In(L"mossharbor-updater.exe");
     },
     {{.env = {L"MOSSHARBOR_TEST_FAIL=MoveFileExW 5 12 desktop.ini"},
       .shows = kRefused,
       .after =
           [](Scene& scene) {
               scene.exe = scene.folder / L"Updater Средство\\mossharbor-updater-under-test.exe";
               scene.held.clear();
               return EndClient(scene);
           }},
      {.shows = L""}}},

    // Interrupted runs' backups hold the player's originals, the oldest the truest; a backup
    // already restored holds nothing newer than the installation. Two runs killed after their
    // install long ago: the older one's backup holds the original, the newer one's, named to be
    // listed first, the update's, as the game does. Killed again once every file is over the
    // installation. Offered again: the version file is held while it is promoted, a folder of
    // the backup, emptied by the restore, while the backup goes, and the oldest original, read
    // by a scanner, while its merged backup goes: a later run deletes what is left of them, never
    // merging that original again. The player plays on; the next attempt keeps what they changed.
    // While it installs, closing is refused, and a file locked through five attempts, 1.55 s of
    // pauses, is waited for.
    {"RerunsMergeTheOldestOriginalsBackAndNeverARestoredBackup",
     [](Scene& scene) {
         WriteTextFile(scene.In(L"update\\backup_99\\data\\audio\\music.ogg"), "player music");
         WriteTextFile(scene.In(L"update\\backup_1\\data\\audio\\music.ogg"), "update music");
         WriteTextFile(scene.In(L"data\\audio\\music.ogg"), "update music");
     },
     {{.hold = L"Installing files...",
       .percent = 90,
       .atHold =
           [](Scene& scene) {
               scene.promises.before[L"data\\audio\\music.ogg"].content = "player music";
               TerminateProcess(scene.updater.Get(), 9);
               return std::string();
           },
       .after =
           [](Scene& scene) {
               scene.held.push_back(HoldFileOpen(
                   scene.In(L"update\\backup_99\\data\\audio\\music.ogg"), FILE_SHARE_READ));
               return std::string();
           }},
      {.shows = kIncompleteInstall,
       .hold = L"Cleaning up...",
       .atHold =
           [](Scene& scene) {
               scene.held.push_back(HoldFileOpen(
                   scene.In(L"update\\backup_" + std::to_wstring(scene.pid) + L"\\data\\audio")));
               scene.held.push_back(HoldFileOpen(scene.In(L"norvane_client_pending_version.txt")));
               return std::string();
           },
       .after =
           [](Scene& scene) {
               scene.held.clear();
               scene.PlayerWrites(L"data\\audio\\music.ogg", "newer music");
               return std::string();
           }},
      {.env = {L"MOSSHARBOR_TEST_FAIL=MoveFileExW 33 31 game.dat"},
       .shows = L"",
       .hold = L"Installing files...",
       .percent = 55,
       .atHold =
           [](Scene& scene) {
               PostMessageW(scene.window, WM_KEYDOWN, VK_ESCAPE, 1);
               PostMessageW(scene.window, WM_CLOSE, 0, 0);
               return Expect(!WaitForExitCode(scene.updater, 1000), "3 closed in the install");
           }}}},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}
class Scenario : public testing::TestWithParam<Row> {};

TEST_P(Scenario, Runs) {
    Scene scene(Installed());
    scene.esc = true;
    GetParam().setup(scene);
    for (const ::Run& run : GetParam().runs) {
        EXPECT_EQ(RunUpdater(scene, run).broken, "") << "run " << &run - &GetParam().runs[0] + 1;
    }
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, Scenario, testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

// Every refused command line: one error box, nothing touched, exit code 1 once it is dismissed.
// Each length limit is met at its edge: one character less is accepted, and the update then waits
// for the client (this test) until Esc closes it at once, having touched nothing.
TEST(Usage, RefusedCommandLinesShowTheUsageBoxAndTouchNothing) {
    Scene scene(Layout{});
    fs::create_directories(scene.In(L"update"));
    const std::wstring install = L" \"" + scene.install + L"\" ";
    const auto installOfLength = [&](size_t length) {
        return L" \"" + scene.folder / std::wstring(length - scene.folder.path.size() - 1, L'n') +
               L"\" ";
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
    const auto entries = std::distance(fs::directory_iterator(scene.folder.path), {});
    for (const auto& [arguments, refused] : rows) {
        SCOPED_TRACE(testing::Message() << "arguments of length " << arguments.size());
        scene.exe = TestProgramPath(refused ? L"..\\mossharbor-updater.exe"
                                            : L"mossharbor-updater-under-test.exe");
        StartUpdater(scene, {}, arguments);
        const HWND window = WaitForProcessWindow(GetProcessId(scene.updater.Get()),
                                                 refused ? L"#32770" : L"MHUpdater", 20000);
        EXPECT_NE(window, nullptr);  // and go on, so the process is still killed below
        wchar_t text[100] = {};
        WaitUntil([&] { return !refused || GetDlgItemTextW(window, 0xFFFF, text, 100) > 0; }, 2000);
        EXPECT_STREQ(text, refused ? L"Usage: mossharbor-updater.exe <pid> <archive> "
                                     L"<install_dir> <exe>"
                                   : L"");
        EXPECT_EQ(WaitForExitCode(scene.updater, 300), std::nullopt) << "exited unasked";
        PostMessageW(window, refused ? WM_COMMAND : WM_KEYDOWN, refused ? IDOK : VK_ESCAPE, 1);
        EXPECT_EQ(WaitForExitCode(scene.updater, 5000), refused ? 1u : 0u);
        KillProgram(scene.updater);
    }
    EXPECT_TRUE(fs::is_empty(scene.In(L"update")));
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.folder.path), {}), entries)
        << "an installation made";
}

// Needs a small disk mounted at the installation's update folder, where a leftover folder of
// files put aside holds a link to a player's folder beside the installation (see the test runner).
// Packed, the second update fits on the disk many times over; unpacked, neither does. The third
// fits, but on an exFAT drive's 128 KiB clusters the backup of two dozen of the player's clips,
// in folders of a kept folder, would take 3 MB. The fourth, with the whole installation on a small
// disk, sets aside a player's clip larger than the space left, by a rename that takes none.
TEST(SmallDisk, AFullDiskSaysSoAndNothingIsDeletedThroughALeftoverLink) {
    wchar_t install[MAX_PATH] = {}, whole[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SMALL_DISK", install, MAX_PATH) == 0 ||
        GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SMALL_DISK_WHOLE", whole, MAX_PATH) == 0) {
        GTEST_SKIP() << "no small disk mounted: mounting a tmpfs needs root";
    }
    const std::tuple<const wchar_t*, bool, const wchar_t*, const wchar_t*> cases[] = {
        {L"-c", true, kDiskFull, install},
        {L"-cz", true, kDiskFull, install},
        {L"-c", false, L"Not enough disk space to back up settings: 2 MB more needed.", install},
        {L"-c", false, L"", whole}};
    for (const auto& [format, largeUpdate, message, at] : cases) {
        SCOPED_TRACE(testing::Message() << "tar.exe " << format << " large update " << largeUpdate
                                        << " at " << Utf8(at));
        Scene scene(Installed(), {}, at);
        scene.esc = true;
        scene.options = format;
        if (at == whole) {
            WriteTextFile(scene.In(L"data\\audio\\music.ogg"), std::string(2 << 20, 'x'));
        }
        for (int i = 0; i < (largeUpdate ? 1 : 24); ++i) {
            const std::wstring clip = L"data\\audio\\set " + std::to_wstring(i % 3) + L"\\clip " +
                                      std::to_wstring(i) + L".ogg";
            WriteTextFile(largeUpdate ? Release(scene) + L"game.dat" : scene.In(clip),
                          std::string(largeUpdate ? 3 << 20 : 1, 'x'));
            WriteTextFile(Release(scene) + clip, "shipped too, so set aside");
        }
        EXPECT_EQ(
            RunUpdater(scene, {.env = {largeUpdate ? L"" : L"MOSSHARBOR_TEST_CLUSTER_BYTES=131072"},
                               .shows = message})
                .broken,
            "");
        EXPECT_EQ(ReadTextFile(scene.install + L"\\..\\library\\favourite.ogg"),
                  at == whole ? "<missing>" : "kept\n");
    }
}

}  // namespace
