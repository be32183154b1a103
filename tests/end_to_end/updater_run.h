#pragma once

#include <string>

#include "support/harness.h"

// A player's installation, a downloaded update and a roaming folder in a scratch folder, with
// the test build of the updater started on them the way the launcher starts it.
class UpdaterRun {
  public:
    // Version 1.1 installed, version 1.2 downloaded, archived by the real tool with `options`
    // (the format). The folders' names hold spaces and two scripts that no single ANSI code page
    // has, which the tool cannot take on its command line.
    explicit UpdaterRun(const std::wstring& options = L"-c");
    ~UpdaterRun();

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    // Version 1.1 with the player's data, launcher configuration and the client exe.
    void MakeInstallation();
    // Version 1.2 below one top-level folder, with a pending version file, archived by the real
    // tool with `options` (the format).
    void WriteRelease(const std::wstring& options = L"-c");

    // The launcher's start, from a folder where a tar.exe has been planted: the updater must
    // never run that one.
    void Start(DWORD clientPid, const std::wstring& exe = {});
    // Stops the worker when it shows `status` with at least `percent`, until Release().
    void HoldWorkerAt(const std::wstring& status, int percent = 0) const;
    bool WaitUntilHeld() const;
    void Release() const;

    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const {
        return WaitForExitCode(updater.process, timeoutMs);
    }
    void PressEscape() const;
    bool ClientWasStarted(DWORD timeoutMs) const;
    // The failure shown; the window stays until Esc, then the exit code is 0.
    void ExpectFailureUntilEscape(const std::wstring& message) const;

    void ExpectInstallationUntouched() const;
    // Not recorded as the new version, not launched, the archive kept for the next attempt.
    void ExpectNotPromoted() const;
    // The update installed, the player's data kept, version 1.2, working folders gone, the
    // client started in the installation.
    void ExpectUpdated() const;

    ScratchFolder folder;
    std::wstring install;
    std::wstring roaming;
    std::wstring archive;
    StartedProcess updater;
    StartedProcess client;  // runs until the file "client may exit" appears
    HWND window = nullptr;
};

// Opens a file without sharing, the way a running game or a scanner holds it.
UniqueFileHandle HoldFileOpen(const std::wstring& path);
