#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "display/progress_state.h"
#include "tools/child_process.h"

inline constexpr wchar_t kExtractionDirFailure[] = L"Failed to create extraction directory.";
inline constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";
inline constexpr wchar_t kDiskFullFailure[] = L"Not enough disk space to unpack the update.";

// What the extraction stage hands the install stage: the directory whose contents go over the
// installation, or the message for the failure path.
struct ExtractionOutcome {
    const wchar_t* failureMessage = nullptr;  // null on success
    wchar_t extractionRoot[MAX_PATH] = {};
};

// The whole stage: prepare `extractionDir`, "Extracting update...", count, extract with the bar
// moving from 10 to 50, store 50, choose the root. After a failure nothing extracted is kept.
ExtractionOutcome RunExtractionStage(const wchar_t* archivePath, const wchar_t* extractionDir,
                                     ProgressState& progress);

// Windows keeps the tool in its system folder (since Windows 10 1803); older systems get one
// shipped beside the updater. Never the current directory or PATH, where anyone could plant one.
std::wstring ArchiveToolPath(const std::wstring& systemFolder, const std::wstring& ownExePath,
                             bool systemToolExists);

// Runs the tool with `arguments` ("-tf -" or "-xvf -") on the archive, its output line by line
// to `onLine`. The tool takes its arguments in the ANSI code page, so a path outside it would
// reach it as question marks: it gets no path at all, but reads the archive, opened here with the
// full Unicode name, as its standard input, and extracts into `workingDirectory`. Returns its exit
// code, -1 if it cannot start or the archive cannot be opened.
int RunArchiveTool(const wchar_t* arguments, const wchar_t* archivePath,
                   const wchar_t* workingDirectory, LineCallback onLine);

// Lines the tool prints when listing the archive; its exit code means nothing here.
int CountArchiveEntries(const wchar_t* archivePath);
// The divisor of the progress band: a listing that printed nothing still divides by 1.
int ExtractionTotal(int listedEntries);
// The bar after `extracted` lines of the extraction: 10 to 50, never past 50.
int ExtractionPercent(int extracted, int total);
// Runs the extraction, moving the bar per line; the tool's exit code, -1 if it cannot start or
// the archive cannot be opened.
int ExtractArchive(const wchar_t* archivePath, const wchar_t* extractionDir, int total,
                   ProgressState& progress);

// Which message a failed extraction shows. A tool that stops on a full disk looks like one that
// met a damaged archive; sending the player after the wrong cause would not help them.
const wchar_t* ExtractionFailureMessage(bool sizesKnown, ULONGLONG freeBytes,
                                        ULONGLONG archiveBytes);

// Answers whether a path is a directory; a query that fails answers no.
using IsDirectoryQuery = std::function<bool(const wchar_t* path)>;

// Chooses the root from the top-level names found in `extractionDir`: its single sub-directory,
// else `extractionDir` itself. False when that sub-directory's path would not fit in `root`:
// a cut path would point somewhere else.
bool ChooseExtractionRoot(const wchar_t* extractionDir, const std::vector<std::wstring>& names,
                          const IsDirectoryQuery& isDirectory, wchar_t (&root)[MAX_PATH]);
// Lists `extractionDir` and chooses from what is there.
bool FindExtractionRoot(const wchar_t* extractionDir, wchar_t (&root)[MAX_PATH]);
