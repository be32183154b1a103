#include "update/worker.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include "display/com_apartment.h"
#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/file_replacement.h"
#include "tools/unique_handle.h"
#include "tools/volume.h"
#include "update/extraction_stage.h"
#include "update/install_progress.h"
#include "update/roaming_folder.h"
#include "update/settings.h"
#include "update/update_lock.h"
#include "update/working_paths.h"
#include "update/write_check.h"

namespace {

constexpr wchar_t kBackupFailure[] = L"Failed to back up settings.";
constexpr wchar_t kBackupDiskFull[] = L"Not enough disk space to back up settings.";
constexpr wchar_t kIncompleteInstall[] =
    L"Some files could not be installed. Close the game and try again.";
constexpr wchar_t kRefusedFailure[] =
    L"Windows refused access to the game folder. Check your security software, then try again.";

// Whether a process of that id runs the program `exeName` names, told by the list of processes,
// which needs no handle to it.
bool ClientListed(DWORD clientPid, const wchar_t* exeName) {
    const wchar_t* const slash = wcsrchr(exeName, L'\\');
    const wchar_t* const image = slash != nullptr ? slash + 1 : exeName;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == clientPid) {
            return CompareStringOrdinal(entry.szExeFile, -1, image, -1, TRUE) == CSTR_EQUAL;
        }
    }
    return false;
}

// An anti-cheat may refuse a handle to the game, or strip the one given: then the list of
// processes tells while the game runs.
void WaitForClient(const UpdateJob& job) {
    const DWORD pid = static_cast<DWORD>(job.clientPid);
    const UniqueHandle client(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (client && WaitForSingleObject(client.Get(), INFINITE) == WAIT_OBJECT_0) {
        return;
    }
    while (ClientListed(pid, job.exeName)) {
        Sleep(500);
    }
}

// Closing the game frees no disk space, nor makes Windows or a shield allow a change it refuses
// once the file's own protection is cleared.
const wchar_t* InstallFailureMessage(DWORD error) {
    return IsDiskFull(error)              ? kDiskFullFailure
           : error == ERROR_ACCESS_DENIED ? kRefusedFailure
                                          : kIncompleteInstall;
}

struct InstallCount {
    int tried = 0;   // files the walk found
    TreeMove moved;  // how many of them could not be moved into place, and why the first
};

// Moves the update over the installation: the extracted files sit on the installation's own
// volume, so each one is a rename rather than a second write of every byte. The player's files
// that the update ships too are set aside in the backup by now.
InstallCount InstallFiles(const std::wstring& extractionRoot, const WorkingPaths& paths,
                          ProgressState& progress) {
    const int total = CountFiles(extractionRoot);
    InstallCount count;
    count.moved = MoveTree(
        extractionRoot, paths.installDir,
        [&progress, &count, total] {
            ++count.tried;
            SetProgress(progress, InstallPercent(count.tried, total));
        },
        paths.replacedDir, 0);
    return count;
}

// A file the tool listed but the walk did not find went between the extraction and the install:
// a scanner's quarantine, a cleaning tool. Installed without it, the update would be recorded
// and never offered again.
// A player's file that could not be put back is not where the player left it either: the
// update is done once the next attempt has merged it back from the backup.
const wchar_t* IncompleteInstallMessage(const InstallCount& count, int listedFiles,
                                        const RestoreOutcome& restore) {
    if (count.tried < listedFiles) {
        return kMissingFileFailure;
    }
    if (count.moved.failed == 0 && restore.filesLeft == 0) {
        return nullptr;
    }
    return InstallFailureMessage(count.moved.failed > 0 ? count.moved.firstError
                                                        : restore.firstError);
}

// The free space where the backup goes, against what it will take; empty when it fits or cannot
// be measured.
std::wstring BackupSpaceCheck(const WorkingPaths& paths, const std::wstring& extractionRoot) {
    ULARGE_INTEGER freeBytes = {};
    // A share's name counts only with its trailing backslash.
    if (!GetDiskFreeSpaceExW((paths.updateDir + L"\\").c_str(), &freeBytes, nullptr, nullptr)) {
        return {};
    }
    const ULONGLONG cluster = VolumeClusterBytes(paths.toolDirectory);
    return BackupSpaceFailure(BackupSpaceNeeded(paths, extractionRoot, cluster),
                              freeBytes.QuadPart);
}

// The launcher reads the current version file; only a complete install may advance it. It is
// replaced in one step, so no failure can leave the installation without one.
// `shipped`: the extraction held one, so one gone since is an update file missing.
DWORD PromoteVersionFile(const WorkingPaths& paths, bool shipped) {
    RetryBudget budget;
    const DWORD error = ReplaceByMove(paths.pendingVersionFile, paths.currentVersionFile,
                                      MOVEFILE_WRITE_THROUGH, {}, budget);
    return error == ERROR_FILE_NOT_FOUND && !shipped ? ERROR_SUCCESS : error;
}

void LaunchClient(const UpdateJob& job) {
    SHELLEXECUTEINFOW launch = {};
    launch.cbSize = sizeof(launch);
    // A client that cannot be started is not reported; without this flag the shell would show
    // its own error box on the worker's thread and hold the window open until it is dismissed.
    launch.fMask = SEE_MASK_FLAG_NO_UI;
    launch.lpVerb = L"open";
    launch.lpFile = job.exeName;
    launch.lpDirectory = job.installDir;
    launch.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&launch);
}

// The job is freed and the window left open showing why; the worker then ends.
DWORD Fail(std::unique_ptr<UpdateJob> job, ProgressState& progress, const wchar_t* message) {
    ReportFailure(progress, message);
    job.reset();
    MarkWorkerEnded(progress);
    return 1;
}

// Done: the job is freed and the window closes.
DWORD Finish(std::unique_ptr<UpdateJob> job, ProgressState& progress) {
    job.reset();
    MarkWorkerEnded(progress);
    if (progress.window != nullptr) {
        PostMessageW(progress.window, kCloseRequest, 0, 0);
    }
    return 0;
}

}  // namespace

DWORD RunUpdate(std::unique_ptr<UpdateJob> job, ProgressState& progress,
                const std::wstring& roamingFolder) {
    const WorkingPaths paths = FormWorkingPaths(FullPath(job->installDir), job->clientPid);

    const UpdateLock lock =
        TakeUpdateLock(paths, [&progress] { SetStatus(progress, kWaitingForAnotherUpdate); });
    // The other updater deletes the download only once its update is complete and the client
    // started: a second client, or the same update over again, is not what the player asked for.
    if (lock.waited && GetFileAttributesW(job->archivePath) == INVALID_FILE_ATTRIBUTES &&
        IsMissing(GetLastError())) {
        return Finish(std::move(job), progress);
    }

    SetStatus(progress, L"Waiting for client to close...");
    SetProgress(progress, 2);
    WaitForClient(*job);
    SetProgress(progress, 8);
    if (const wchar_t* refused = WriteCheckFailure(paths)) {
        return Fail(std::move(job), progress, refused);
    }

    const ExtractionOutcome extraction = RunExtractionStage(job->archivePath, paths, progress);
    if (extraction.failureMessage != nullptr) {
        return Fail(std::move(job), progress, extraction.failureMessage);
    }
    // A cut or emptied root would have the install walk list the drive's own root.
    if (!IsInstallableRoot(extraction.extractionRoot, paths.extractionDir)) {
        DeleteTree(paths.extractionDir);
        return Fail(std::move(job), progress, kExtractionFailure);
    }

    if (const wchar_t* refused = ShippedKindsRefused(paths, extraction.extractionRoot)) {
        DeleteTree(paths.extractionDir);
        return Fail(std::move(job), progress, refused);
    }

    // The player closed the window while we waited or extracted: nothing has been changed yet,
    // and from here on nothing may be, because the process is about to end.
    if (!TryEnterProtectedPhase(progress)) {
        job.reset();
        return 1;
    }
    // Files put aside by earlier runs whose programs have ended since.
    DeleteTree(paths.replacedDir);

    SetStatus(progress, L"Backing up settings...");
    // Only the extraction has taken space so far; the backup must not be the one to fill the disk.
    const std::wstring noSpace = BackupSpaceCheck(paths, extraction.extractionRoot);
    if (!noSpace.empty()) {
        DeleteTree(paths.extractionDir);
        return Fail(std::move(job), progress, noSpace.c_str());
    }
    // Nothing of the player's is ever set aside for good: such an update cannot go in, whatever
    // the attempt.
    DWORD unexamined = ERROR_SUCCESS;
    const std::wstring inTheWay =
        PlayersEntryInTheWay(paths, extraction.extractionRoot, unexamined);
    if (!inTheWay.empty()) {
        DeleteTree(paths.extractionDir);
        return Fail(std::move(job), progress,
                    unexamined != ERROR_SUCCESS ? kBackupFailure
                                                : (L"The update does not fit this installation: " +
                                                   inTheWay + L" is in its way.")
                                                      .c_str());
    }
    if (const DWORD error = BackupSettings(paths, extraction.extractionRoot)) {
        DeleteTree(paths.extractionDir);  // the next attempt unpacks anew: only space is kept
        return Fail(std::move(job), progress,
                    IsDiskFull(error)              ? kBackupDiskFull
                    : error == ERROR_ACCESS_DENIED ? kRefusedFailure
                                                   : kBackupFailure);
    }
    SetProgress(progress, 55);

    const bool shipsVersion =
        GetFileAttributesW((extraction.extractionRoot + L"\\" + kPendingVersionFileName).c_str()) !=
        INVALID_FILE_ATTRIBUTES;
    SetStatus(progress, L"Installing files...");
    const InstallCount installed = InstallFiles(extraction.extractionRoot, paths, progress);
    SetProgress(progress, 90);

    SetStatus(progress, L"Restoring settings...");
    const RestoreOutcome restore = RestoreSettings(paths, roamingFolder);
    const bool restored = restore.Complete();
    SetProgress(progress, 95);
    // What this run put aside, as far as its programs have ended; the rest waits for a later run.
    DeleteTree(paths.replacedDir);

    // A backup that could not be fully put back holds the player's only copy of some file.
    if (restored) {
        DeleteInterruptedBackups(paths);
    }
    // Not promoted and not launched, so the launcher still offers this update; the archive stays
    // so that the next attempt needs no download.
    if (const wchar_t* incomplete =
            IncompleteInstallMessage(installed, extraction.listedFiles, restore)) {
        if (restored) {
            DeleteRestoredBackup(paths.backupDir);
        }
        return Fail(std::move(job), progress, incomplete);
    }

    SetStatus(progress, L"Cleaning up...");
    const DWORD promotion = PromoteVersionFile(paths, shipsVersion);
    if (restored) {
        DeleteRestoredBackup(paths.backupDir);
    }
    if (promotion != ERROR_SUCCESS) {
        return Fail(std::move(job), progress,
                    IsMissing(promotion) ? kMissingFileFailure : InstallFailureMessage(promotion));
    }
    DeleteFileW(job->archivePath);
    DeleteTree(paths.extractionDir);
    SetProgress(progress, 100);

    SetStatus(progress, L"Launching Norvane...");
    Sleep(500);
    LaunchClient(*job);
    Sleep(300);

    return Finish(std::move(job), progress);
}

DWORD WINAPI WorkerThread(void* job) {
    // The shell may hand the launch to an extension, which needs COM on the calling thread.
    const ComApartment com;
    return RunUpdate(std::unique_ptr<UpdateJob>(static_cast<UpdateJob*>(job)), Progress(),
                     RoamingAppDataFolder());
}

bool StartWorker(std::unique_ptr<UpdateJob> job) {
    UniqueHandle thread(CreateThread(nullptr, 0, WorkerThread, job.get(), 0, nullptr));
    if (!thread) {
        return false;
    }
    job.release();  // the worker owns it now
    return true;
}
