#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "display/progress_state.h"
#include "support/tar_writer.h"
#include "support/test_files.h"
#include "update/update_job.h"

// One recorded change of the shared progress state, as the window would paint it.
struct ProgressStep {
    int percent;
    std::wstring status;
    bool failed;
};

// A sample installation in a scratch folder, an archive outside it, and a progress state that
// records every change the worker makes.
class UpdateFixture {
  public:
    UpdateFixture();
    ~UpdateFixture();

    std::wstring In(const std::wstring& relative) const { return install + L"\\" + relative; }
    std::wstring PerUserConfig() const { return roaming + L"\\Norvane\\norvane_launcher.cfg"; }
    void WriteUpdateArchive(const std::vector<ArchiveMember>& members);
    std::unique_ptr<UpdateJob> MakeJob(int32_t clientPid) const;

    // Statuses in order, each once; percentages in order, each once.
    std::vector<std::wstring> StatusSequence() const;
    std::vector<int> PercentSequence() const;
    const ProgressStep& Last() const { return steps.back(); }

    // Whether the worker asked the window to close.
    bool CloseRequested();

    ScratchFolder folder;
    std::wstring install;
    std::wstring roaming;
    std::wstring archive;
    ProgressState state;
    std::vector<ProgressStep> steps;
    HWND window = nullptr;

    // Called on the worker's thread with each new step, after it is recorded.
    void (*onStep)(UpdateFixture& fixture, const ProgressStep& step) = nullptr;
    void* hookContext = nullptr;
};

// A player's installation of version 1.1: the game, a version file, the launcher configuration
// and the player's own files in the preserved folders.
void WriteSampleInstallation(const std::wstring& install);

// After an update that shipped data/audio/music.ogg and data/audio/new.ogg over the sample
// installation: the player's copies win, player-only and update-only files are both there,
// "arrows" was never created, and the configuration reached the per-user folder.
void ExpectPlayersDataKept(const std::wstring& install, const std::wstring& perUserConfig);

// Waits up to `timeoutMs` for a file to appear.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);
