#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "display/progress_state.h"
#include "update/working_paths.h"

inline constexpr wchar_t kExtractionDirFailure[] = L"Failed to create extraction directory.";
inline constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";
inline constexpr wchar_t kDiskFullFailure[] = L"Not enough disk space to unpack the update.";
inline constexpr wchar_t kStaleExtractionFailure[] =
    L"A file of an earlier update is in use. Restart and try again.";
inline constexpr wchar_t kToolFailure[] = L"Windows could not start tar.exe to unpack the update.";
inline constexpr wchar_t kLinksUnheldFailure[] =
    L"The update needs an NTFS drive: this drive cannot store its links.";
inline constexpr wchar_t kBlockedFailure[] =
    L"Security software blocked the update as unsafe. Check its quarantine, then try again.";
inline constexpr wchar_t kMissingFileFailure[] =
    L"An update file went missing. Security software may have removed it.";
inline constexpr wchar_t kToolWritesRefusedFailure[] =
    L"Windows or security software kept tar.exe from unpacking the update. Allow tar.exe, then "
    L"try again.";
inline constexpr wchar_t kUnwrittenFailure[] =
    L"The update could not be written to the disk. Nothing was changed.";

// What the extraction stage hands the install stage: the folder whose contents go over the
// installation, or the message for the failure path.
struct ExtractionOutcome {
    const wchar_t* failureMessage = nullptr;  // null on success
    std::wstring extractionRoot;
    int listedFiles = 0;  // what the install must find below the root
};

// The whole stage: prepare the extraction folder, "Extracting update...", count, extract with the
// bar moving from 10 to 50, store 50, choose the root. An archive that lists no entry, such as a
// download cut to nothing, fails before anything is extracted, and so does an earlier extraction
// that cannot be deleted: the install would take it for part of this update. What the tool wrote
// is on the disk before the stage ends. After a failure nothing extracted is kept.
ExtractionOutcome RunExtractionStage(const wchar_t* archivePath, const WorkingPaths& paths,
                                     ProgressState& progress);

// A line of the tool's verbose extraction ("x ./Norvane 1.2/game.dat") that names a file, as its
// path below the extraction folder ("\\Norvane 1.2\\game.dat"). Empty for a folder, for the tool's
// own words, and for a name beyond plain ASCII, which the tool writes in the system's code page or
// escaped: such a file is counted, not named.
std::wstring ExtractedName(std::wstring_view line);

// The bar after `extracted` of `total` lines of the extraction: 10 to 50, never past 50.
int ExtractionPercent(int extracted, int total);

// Which message an archive that the updater could not open, or that read as empty, shows for
// `error`, the error of its opening.
const wchar_t* ArchiveOpenFailureMessage(DWORD error);

// Which message shows that what the tool wrote could not be flushed to the disk, for `error`.
const wchar_t* UnwrittenFailureMessage(DWORD error);

// Which message a failed extraction shows. A tool that stops on a full disk, or on hard-linked
// members that the volume cannot hold (exFAT, FAT32), looks like one that met a damaged archive;
// sending the player after a new download that fails the same way would not help them. Nor would
// it after a listing that read the whole archive cleanly (`listedCleanly`): then a file the tool
// could not write stopped it, as ransomware protection does to a program it has not been told to
// trust, judging tar.exe apart from the updater.
const wchar_t* ExtractionFailureMessage(bool sizesKnown, ULONGLONG freeBytes,
                                        ULONGLONG archiveBytes, bool linksUnheld,
                                        bool listedCleanly);

struct TopLevelEntry {
    std::wstring name;
    bool isDirectory = false;  // a plain folder, not a link
};

// An archive packed below one top folder installs that folder's contents: the root is the
// extraction folder's single sub-folder, else the extraction folder itself.
std::wstring ChooseExtractionRoot(const std::wstring& extractionDir,
                                  const std::vector<TopLevelEntry>& entries);

// The install walks the root and moves what it finds over the game: anything but the extraction
// folder or a folder directly below it, an empty or cut path above all, could be the drive's root.
bool IsInstallableRoot(const std::wstring& root, const std::wstring& extractionDir);
