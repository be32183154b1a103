#pragma once

#include <string>
#include <vector>

#include "support/process_harness.h"
#include "support/tar_writer.h"
#include "support/test_files.h"

// A sample installation, a downloaded archive and a roaming folder, all in a scratch folder,
// with the updater started on them as the launcher starts it.
class UpdaterRun {
  public:
    // `tag` goes into every path so paths with spaces and non-ASCII letters are the norm.
    explicit UpdaterRun(const std::wstring& tag = L"Nörvane Gäme");
    ~UpdaterRun();

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    std::wstring PerUserConfig() const { return roaming + L"\\Norvane\\norvane_launcher.cfg"; }

    // Version 1.1 with a player's data and launcher configuration, and the client exe.
    void MakeInstallation();
    // Version 1.2 below one top-level folder, with a pending version file.
    std::vector<ArchiveMember> ReleaseMembers() const;
    void WriteUpdateArchive(const std::vector<ArchiveMember>& members);

    // Starts the test build of the updater; the window must appear.
    void Start(DWORD clientPid, const std::wstring& exe = {});
    // Stops the worker at a status and percentage until Release(); see the test build's hooks.
    void HoldWorkerAt(const std::wstring& status, int percent);
    bool WaitUntilHeld(DWORD timeoutMs) const;
    void Release() const;

    std::optional<DWORD> WaitForExit(DWORD timeoutMs) {
        return WaitForExitCode(updater.process, timeoutMs);
    }
    bool WindowIsOpen() const { return IsWindow(window) != FALSE; }
    void PressEscape() const { PressKey(window, VK_ESCAPE); }
    bool ClientWasStarted(DWORD timeoutMs) const;

    // The player's files and version as before the update.
    void ExpectInstallationUntouched() const;
    // The player's data kept and the update installed, version 1.2, working folders gone.
    void ExpectUpdated() const;

    ScratchFolder folder;
    std::wstring install;
    std::wstring roaming;
    std::wstring archive;
    std::wstring clientExe;
    StartedProcess updater;
    HWND window = nullptr;
};

// The roaming folder as the shipping exe finds it.
std::wstring ShellRoamingFolder();

// Names directly below a folder, in listing order.
std::vector<std::wstring> EntriesIn(const std::wstring& directory);

// A client that runs until Finish(), as the game does until the player quits.
struct RunningClient {
    RunningClient(const UpdaterRun& run, bool forever = false);
    ~RunningClient();
    void Finish() const;

    std::wstring releaseFile;
    StartedProcess process;
};
