// The one way the tests run the updater: as its own process, the way the launcher starts it, over
// a scene of its own (an installation, its download, the player's roaming folder), held to the
// promises after every run. Several scenes may run side by side.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/promises.h"

#include <tlhelp32.h>  // after windows.h

struct Layout {
    Tree install{}, update{};                // the update's files, below its top folder
    std::string perUser = kMissing.content;  // the launcher settings in the per-user folder
    Tree outside{};  // a folder of the player's beside the installation, linked from data\audio\sub
};

// Makes a link to a folder as a player's tool does, or removes it: under Wine a Linux symbolic
// link, which only a Linux program makes and removes; on Windows a junction.
// Under Wine the Linux program runs through ntdll's own way of running one and waiting for it,
// never through CreateProcessW: for a program that is not a Windows one, Wine 8's CreateProcessW
// succeeds without filling in the process and thread handles, and hands back whatever its stack
// held there (0xa, which names the handle 0x8). Closing those closed a handle that another runner
// thread had just been given: a file being read, an updater's process (its run then "hung"), or
// the event CreateProcessW itself waits on for a new process, which then never starts.
inline void Link(const std::wstring& link, const std::wstring& target, bool make = true) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32"), ntdll = GetModuleHandleW(L"ntdll");
    const auto unixName = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
    const auto runLinux = reinterpret_cast<LONG(WINAPI*)(char* const*, int)>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp")));
    if (unixName && runLinux) {
        char* const linkName = unixName(link.c_str());
        char* const targetName = make ? unixName(target.c_str()) : nullptr;
        char ln[] = "/bin/ln", rm[] = "/bin/rm", symbolic[] = "-s";
        char* const makeLink[] = {ln, symbolic, targetName, linkName, nullptr};
        char* const removeLink[] = {rm, linkName, nullptr};
        if (linkName && (targetName || !make)) {
            runLinux(make ? makeLink : removeLink, TRUE);  // waits for it
        }
        HeapFree(GetProcessHeap(), 0, linkName);
        HeapFree(GetProcessHeap(), 0, targetName);
    } else if (make) {
        StartProgram(L"C:\\Windows\\System32\\cmd.exe",
                     L"/c mklink /J \"" + link + L"\" \"" + target + L"\"");
    }
    WaitUntil([&] { return PathExists(link) == make; }, 10000);
}

// The id of a client that has exited, whose process the updater can still open: it then waits for
// nothing. Its handle stays open, so no other process takes the id.
inline DWORD ExitedClient(size_t which = 0) {
    const auto start = [] {
        UniqueHandle exited =
            StartProgram(TestProgramPath(L"fake-client.exe"),
                         L"--until-file \"" + TestProgramPath(L"fake-client.exe") + L"\"");
        WaitForExitCode(exited, 10000);
        return exited;
    };
    static const UniqueHandle exited[] = {start(), start()};
    return GetProcessId(exited[which].Get());
}

// Any window but the progress window that an updater, or a program it starts but the client,
// shows on the player's screen: an archive tool's console, the shell's box for a missing client.
struct Watcher {
    std::mutex lock;
    std::set<DWORD> updaters;
    std::map<DWORD, std::wstring> others;  // by updater
    std::map<HWND, DWORD> judged;          // each window: the updater behind it, or 0
    DWORD Behind(DWORD pid) {
        std::map<DWORD, PROCESSENTRY32W> processes;
        const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry)) {
            processes[entry.th32ProcessID] = entry;
        }
        for (int depth = 0; !updaters.contains(pid) && depth < 4 && processes.contains(pid) &&
                            wcscmp(processes[pid].szExeFile, L"Norvane Clïent.exe");
             ++depth) {
            pid = processes[pid].th32ParentProcessID;
        }
        return updaters.contains(pid) ? pid : 0;
    }
    std::jthread thread{[this](std::stop_token stop) {
        for (; !stop.stop_requested(); Sleep(20)) {
            EnumWindows(
                [](HWND window, LPARAM self) {
                    auto& watcher = *reinterpret_cast<Watcher*>(self);
                    wchar_t name[64] = {};
                    DWORD pid = 0;
                    GetWindowThreadProcessId(window, &pid);
                    const std::lock_guard lock(watcher.lock);
                    if (IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
                        wcscmp(name, L"MHUpdater") && !watcher.judged.contains(window)) {
                        const DWORD updater = watcher.judged[window] = watcher.Behind(pid);
                        watcher.others[updater] += updater ? name + std::wstring(L"; ") : L"";
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
        }
    }};
};
inline Watcher& Windows() {
    static Watcher watcher;
    return watcher;
}

// The runner's environment without its own test variables, and these.
inline std::wstring Environment(const std::vector<std::wstring>& variables) {
    std::wstring block;
    const wchar_t* inherited = GetEnvironmentStringsW();
    for (const wchar_t* variable = inherited; *variable; variable += wcslen(variable) + 1) {
        block += wcsncmp(variable, L"MOSSHARBOR_TEST_", 16) ? variable + std::wstring(1, 0) : L"";
    }
    FreeEnvironmentStringsW(const_cast<wchar_t*>(inherited));
    for (const std::wstring& variable : variables) {
        block += variable.empty() ? L"" : variable + L'\0';
    }
    return block;
}

// What the run showed: the failure, the status before it, and the last status.
struct Shown {
    std::wstring failure, stage, status;
    Shown() = default;
    explicit Shown(const std::wstring& log) {
        const std::string bytes = ReadTextFile(log);
        std::wistringstream lines(
            std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
        for (int percent = 0, failed = 0;
             lines >> percent >> failed && std::getline(lines >> std::ws, status);) {
            (failed ? failure : stage) = failure.empty() ? status : failure;
        }
    }
};

// An installation and its download, in a folder of their own: the folders' names hold spaces and
// two scripts that no single ANSI code page has. The updater runs from a folder of its own, in
// the launcher's folder, where a tar.exe has been planted that it must never run.
struct Scene {
    explicit Scene(const Layout& layout, const std::wstring& download = {},
                   const std::wstring& at = {}) {
        install = at.empty() ? install : at;
        Plant(install, layout.install);
        Plant(folder / L"release\\Norvane 1.2", layout.update);
        if (!layout.outside.empty()) {
            Plant(promises.outside = folder / L"Library", layout.outside);
            fs::create_directories(install + L"\\data\\audio");
            Link(install + L"\\data\\audio\\sub", promises.outside);
        }
        fs::create_directories(roaming);
        if (layout.perUser != kMissing.content) {
            WriteTextFile(roaming + L"\\Norvane\\" + kConfig, layout.perUser);
        }
        fs::create_directories(fs::path(archive).parent_path());
        CopyFileW(download.c_str(), archive.c_str(), FALSE);
        fs::create_directories(launcher);
        fs::create_directories(fs::path(exe).parent_path());
        // Second names, not copies: a scene for each of a thousand points.
        for (const auto& [from, to] : {std::pair(L"mossharbor-updater-under-test.exe", exe),
                                       std::pair(L"fake-client.exe", launcher + L"\\tar.exe")}) {
            CreateHardLinkW(to.c_str(), TestProgramPath(from).c_str(), nullptr) ||
                CopyFileW(TestProgramPath(from).c_str(), to.c_str(), FALSE);
        }
        promises.archive = archive;
        promises.roaming = roaming;
    }
    ~Scene() {
        for (const UniqueHandle* process : {&updater, &client}) {
            KillProgram(*process);
        }
        if (!promises.outside.empty()) {  // which the tree walks do not remove under Wine
            Link(install + L"\\data\\audio\\sub", {}, false);
        }
    }
    void Begin() {  // the installation as the player left it
        if (!PathExists(archive)) {
            MakeArchive(folder / L"release", archive, options);
        }
        promises.top = top;
        promises.Take(install, Take(folder / (L"release\\" + top)));
    }
    // What the runs may change below the scene's folder, as it is now: the updater's own
    // folders, the release and the notes of the last run left out.
    Tree Left() const {
        Tree left = Take(folder.path, {}, {}, true);
        std::erase_if(left, [&](const auto& entry) {
            const std::wstring top = entry.first.substr(0, entry.first.find(L'\\'));
            return top.starts_with(L"progress.log") || top == L"release" ||
                   top == fs::path(exe).parent_path().filename() ||
                   top == fs::path(launcher).filename();
        });
        return left;
    }
    // Starts the scene from what another left.
    void Restart(const Tree& left) {
        for (const auto& [path, file] : Left()) {
            DeleteTree(L"\\\\?\\" + folder / path);
        }
        Plant(folder.path, left);
    }
    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    std::wstring Log() const { return folder / L"progress.log"; }
    std::wstring Client() const {  // the program started afterwards
        return PathExists(In(L"Norvane Clïent.exe")) ? In(L"Norvane Clïent.exe") : L"none.exe";
    }
    // The player changes a file between runs.
    void PlayerWrites(const std::wstring& path, const std::string& content) {
        WriteTextFile(In(path), promises.before[path].content = content);
    }

    ScratchFolder folder;
    std::wstring install = folder / L"Игры 游戏\\Norvane";
    std::wstring archive = folder / L"Загрузки 下载\\update 1.2.tar";
    std::wstring roaming = folder / L"Roaming";
    std::wstring exe = folder / L"Updater Средство\\mossharbor-updater-under-test.exe";
    std::wstring launcher = folder / L"Launcher Запуск";
    std::wstring options = L"-c";       // the archive's format, when the scene makes it
    std::wstring top = L"Norvane 1.2";  // the update's top folder
    DWORD pid = ExitedClient();
    bool esc = false;  // a failure waits for Esc as for a player, else it exits with code 3
    std::vector<std::wstring> env;  // "NAME=value" for every run
    Promises promises;
    std::vector<UniqueFileHandle> held;  // by other programs
    UniqueHandle client, updater;
    HWND window = nullptr;
};

// As a running game holds a file, or with FILE_SHARE_DELETE as a scanner glances at one; a folder
// too.
inline UniqueFileHandle HoldFileOpen(const std::wstring& path, DWORD sharing = 0,
                                     DWORD access = GENERIC_READ) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// One run of the updater and what a test does and finds in it.
struct Run {
    std::vector<std::wstring> env{};      // "NAME=value"
    std::optional<std::wstring> shows{};  // the failure it must show, empty for none; unset: any
    std::wstring hold{};                  // stops at this status, once at `percent`,
    int percent = 0;
    std::function<std::string(Scene&)> atHold{};  // while the test does this (or while it runs)
    std::function<std::string(Scene&)> after{};   // what else the test finds, and does next
    bool leftovers = false;                       // a program still running keeps working files
};
struct Outcome {
    std::optional<DWORD> code{};
    Shown shown{};
    std::map<std::string, int> calls{};  // of each wrapped function
    std::string broken{};                // the promises broken, "number what; " each
    std::string tool{};                  // the end of what the archive tool said
};

// An updater of the scene with its own test variables and these, its notes at `log`.
inline UniqueHandle LaunchUpdater(const Scene& scene, std::vector<std::wstring> env,
                                  const std::wstring& arguments, const std::wstring& log) {
    for (const wchar_t* own :
         {L"", L".held", L".release", L".paused", L".calls", L".lost", L".tool"}) {
        fs::remove(log + own);
    }
    env.insert(env.end(), scene.env.begin(), scene.env.end());
    env.insert(env.end(), {L"MOSSHARBOR_TEST_PROGRESS_LOG=" + log,
                           L"MOSSHARBOR_TEST_ROAMING_FOLDER=" + scene.roaming,
                           scene.esc ? L"" : L"MOSSHARBOR_TEST_EXIT_ON_FAILURE=1"});
    return StartProgram(scene.exe, arguments, scene.launcher, Environment(env).c_str());
}
// The launcher's arguments, for the client of that id.
inline std::wstring Arguments(const Scene& scene, DWORD pid) {
    return std::to_wstring(pid) + L" \"" + scene.archive + L"\" \"" + scene.install + L"\" \"" +
           scene.Client() + L"\"";
}

// Starts the updater of the scene, with the launcher's arguments unless given.
inline DWORD StartUpdater(Scene& scene, std::vector<std::wstring> env,
                          const std::wstring& arguments = {}) {
    scene.updater =
        LaunchUpdater(scene, std::move(env),
                      arguments.empty() ? Arguments(scene, scene.pid) : arguments, scene.Log());
    const DWORD error = GetLastError();  // why it did not start, if it did not
    const std::lock_guard lock(Windows().lock);
    Windows().updaters.insert(GetProcessId(scene.updater.Get()));
    return error;
}

// Runs the updater over the scene once and holds it to the promises. `error`: the one injected
// first; `leftovers`: a fault may leave working files for a later run; `lasting`: a fault that
// lasts may keep the run from undoing what it set aside.
inline Outcome RunUpdater(Scene& scene, const Run& run, DWORD error = 0, bool leftovers = false,
                          bool lasting = false) {
    if (scene.promises.install.empty()) {
        scene.Begin();
    }
    std::vector<std::wstring> env = run.env;
    env.insert(env.end(), {L"MOSSHARBOR_TEST_HOLD_STATUS=" + run.hold,
                           L"MOSSHARBOR_TEST_HOLD_PERCENT=" + std::to_wstring(run.percent)});
    // A scanner reads the download as it lands, and the player's music plays: a file the update
    // does not ship is never moved or replaced.
    std::vector<UniqueFileHandle> glances;
    if (scene.esc) {
        glances.push_back(HoldFileOpen(scene.archive, FILE_SHARE_READ | FILE_SHARE_DELETE));
        glances.push_back(HoldFileOpen(scene.In(L"data\\audio\\mine.ogg"), FILE_SHARE_READ));
    }
    const bool interrupted = scene.promises.Interrupted();
    const DWORD startError = StartUpdater(scene, env), pid = GetProcessId(scene.updater.Get());
    const std::wstring log = scene.Log();
    Outcome outcome;
    std::string& broken = outcome.broken;
    if (scene.esc) {  // centred, moved by dragging anywhere but its labels, in the taskbar
        RECT frame{};
        GetWindowRect(scene.window = WaitForProcessWindow(pid, L"MHUpdater", 20000), &frame);
        const LPARAM inside = MAKELPARAM(frame.left + 9, frame.top + 99);
        broken += frame.left != (GetSystemMetrics(SM_CXSCREEN) - 480) / 2 ||
                          frame.top != (GetSystemMetrics(SM_CYSCREEN) - 215) / 2 ||
                          SendMessageW(scene.window, WM_NCHITTEST, 0, inside) != HTCAPTION ||
                          (GetWindowLongW(scene.window, GWL_EXSTYLE) &
                           (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW)) != WS_EX_APPWINDOW
                      ? "3 the window misplaced; "
                      : "";
    }
    if (!run.hold.empty() || run.atHold) {  // at the hold, or while it runs
        const bool held =
            run.hold.empty() || WaitUntil([&] { return PathExists(log + L".held"); }, 30000);
        broken += !held        ? "3 never held at " + Utf8(run.hold) + "; "
                  : run.atHold ? run.atHold(scene)
                               : "";
        WriteTextFile(log + L".release", "");
    }
    if (scene.esc) {  // a failure waits for the player, then Esc closes it
        WaitUntil([&] { return WaitForExitCode(scene.updater, 0) || !Shown(log).failure.empty(); },
                  60000);
        if (!Shown(log).failure.empty()) {
            broken += WaitForExitCode(scene.updater, 300) ? "3 closed unasked; " : "";
            PostMessageW(scene.window, WM_KEYDOWN, VK_ESCAPE, 1);
            outcome.code = WaitForExitCode(scene.updater, 10000) == 0u ? 3u : 99u;
        } else {
            outcome.code = WaitForExitCode(scene.updater, 0);
        }
    } else {
        outcome.code = WaitForExitCode(scene.updater, 60000);
    }
    glances.clear();
    outcome.shown = Shown(log);
    std::istringstream calls(ReadTextFile(log + L".calls"));
    for (std::string function; calls >> function >> outcome.calls[function];) {
    }
    if (!outcome.code) {  // what it was doing when it hung, and under Wine each thread's stack
        const std::wstring stacks = log + L".stacks";
        WriteTextFile(stacks + L".txt", "bt all\ndetach\nquit\n");
        WaitForExitCode(StartProgram(L"C:\\windows\\system32\\cmd.exe",
                                     L"/c winedbg --file \"" + stacks + L".txt\" " +
                                         std::to_wstring(pid) + L" > \"" + stacks + L"\""),
                        60000);
        char own[32];
        snprintf(own, sizeof own, "in process %04lx ", pid);
        std::istringstream lines(ReadTextFile(stacks));
        for (std::string line, block; std::getline(lines, line);) {
            block = line.starts_with("Backtracing") ? line : block;
            fprintf(stderr, "%s",
                    block.find(own) != npos || block.find("tar.exe") != npos ? (line + "\n").c_str()
                                                                             : "");
        }
        broken += "3 hung (" + (scene.updater ? "" : std::to_string(startError)) + ") at " +
                  Utf8(outcome.shown.status) + " after calls:";
        for (const auto& [function, count] : outcome.calls) {
            broken += count ? " " + function + " " + std::to_string(count) : "";
        }
        broken += "; ";
    }
    KillProgram(scene.updater);
    const Ended ended = outcome.code == 0u   ? Ended::kSuccess
                        : outcome.code == 3u ? Ended::kFailure
                                             : Ended::kCut;
    const bool beforeInstall = std::find(std::begin(kBeforeInstall), std::end(kBeforeInstall),
                                         outcome.shown.stage) != std::end(kBeforeInstall);
    broken +=
        Behaved(outcome.code, error, outcome.shown.failure,
                std::any_of(run.env.begin(), run.env.end(),
                            [](const std::wstring& fault) {
                                return fault.starts_with(L"MOSSHARBOR_TEST_FAIL=CreateProcessW ");
                            }),
                lasting);
    broken += run.shows && *run.shows != outcome.shown.failure
                  ? "3 shown: " + Utf8(outcome.shown.failure) + "; "
                  : "";
    broken += scene.promises.Broken(
        ended, leftovers || run.leftovers,
        ended == Ended::kFailure && beforeInstall && !lasting && !interrupted);
    if (ended == Ended::kSuccess && scene.Client() != L"none.exe" &&
        (!WaitUntil([&] { return PathExists(scene.In(L"client_started.txt")); }, 10000) ||
         ReadTextFile(scene.In(L"client_started.txt")) !=
             std::string(reinterpret_cast<const char*>(scene.install.data()),
                         scene.install.size() * 2))) {
        broken += "3 client not started in the installation; ";
    }
    {
        const std::lock_guard lock(Windows().lock);
        broken += Windows().others[pid].empty() ? "" : "3 shown: " + Utf8(Windows().others[pid]);
        Windows().updaters.erase(pid);
    }
    broken += run.after ? run.after(scene) : "";
    const std::string tool = ReadTextFile(log + L".tool");
    outcome.tool = tool.substr(tool.size() - std::min<size_t>(tool.size(), 300));
    std::replace(outcome.tool.begin(), outcome.tool.end(), ';', ',');
    if (!broken.empty()) {
        fprintf(stderr, "%s, the archive tool: %s\n", Utf8(scene.folder.path).c_str(),
                outcome.tool.c_str());
    }
    return outcome;
}

// run(i) for every i below `count`, `together` at a time.
inline void RunSideBySide(size_t count, const std::function<void(size_t)>& run, int together = 4) {
    std::atomic<size_t> next = 0;
    std::vector<std::thread> runners;
    for (int i = 0; i < together; ++i) {
        runners.emplace_back([&] {
            for (size_t mine; (mine = next++) < count;) {
                run(mine);
            }
        });
    }
    for (std::thread& runner : runners) {
        runner.join();
    }
}
