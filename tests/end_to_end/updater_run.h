#pragma once

#include <optional>
#include <string>

#include "support/process_harness.h"
#include "support/test_files.h"

// A player's installation, a downloaded update and a roaming folder in a scratch folder, with
// the test build of the updater started on them the way the launcher starts it.
class UpdaterRun {
  public:
    // `folderName` goes into every path, so spaces and letters beyond ASCII are the norm.
    explicit UpdaterRun(const std::wstring& folderName = L"Nörvane Gäme");
    ~UpdaterRun();

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    // Version 1.1 with the player's data, launcher configuration and the client exe.
    void MakeInstallation();
    // Version 1.2 below one top-level folder, with a pending version file, archived by the real
    // tool with `options` (the format).
    void WriteRelease(const std::wstring& options = L"-c");

    // The launcher's start, from a folder where a tar.exe has been planted: the updater must
    // never run it.
    void Start(DWORD clientPid, const std::wstring& exe = {});
    // Stops the worker at a status and percentage until Release().
    void HoldWorkerAt(const std::wstring& status, int percent = 0);
    bool WaitUntilHeld() const;
    void Release() const;
    // Lets a hold-free run follow, e.g. the launcher's next attempt.
    void ClearHold() const;

    std::optional<DWORD> WaitForExit(DWORD timeoutMs) {
        return WaitForExitCode(updater.process, timeoutMs);
    }
    void PressEscape() const { PressKey(window, VK_ESCAPE); }
    // The last status the worker showed, once the update has failed (or after the timeout).
    std::wstring FailureShown(DWORD timeoutMs) const;
    bool ClientWasStarted(DWORD timeoutMs) const;
    // A failed update's window stays until Esc; then the exit code is 0.
    void ExpectFailureUntilEscape(const std::wstring& message);

    void ExpectInstallationUntouched() const;
    // The update installed, the player's data kept, version 1.2, working folders gone.
    void ExpectUpdated() const;

    ScratchFolder folder;
    std::wstring install;
    std::wstring roaming;
    std::wstring archive;
    std::wstring clientExe;
    StartedProcess updater;
    HWND window = nullptr;
};

// A client that runs until Finish(), as the game does until the player quits.
struct RunningClient {
    RunningClient(const UpdaterRun& run, bool forever = false);
    ~RunningClient() { KillProgram(process.process); }
    void Finish() const { WriteTextFile(releaseFile, ""); }

    std::wstring releaseFile;
    StartedProcess process;
};

// Opens a file without sharing, the way a running game or a scanner holds it.
UniqueFileHandle HoldFileOpen(const std::wstring& path);
