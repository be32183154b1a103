#pragma once

#include <functional>
#include <string>
#include <vector>

#include "display/progress_state.h"
#include "update/update_job.h"

inline constexpr wchar_t kExtractionDirFailure[] = L"Failed to create extraction directory.";
inline constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";

// What the extraction stage hands the install stage: the directory whose contents are copied
// over the installation, or the message for the failure path.
struct ExtractionOutcome {
    const wchar_t* failureMessage = nullptr;  // null on success
    wchar_t extractionRoot[kPathCapacity] = {};
};

// The whole stage: prepare `extractionDir`, "Extracting update...", count, extract with the bar
// moving from 10 to 50, store 50, choose the root.
ExtractionOutcome RunExtractionStage(const UpdateJob& job, const wchar_t* extractionDir,
                                     ProgressState& progress);

// Lines the tool prints when listing the archive; its exit code means nothing here.
int CountArchiveEntries(const wchar_t* archivePath);
// The divisor of the progress band: a listing that printed nothing still divides by 1.
int ExtractionTotal(int listedEntries);
// The bar after `extracted` lines of the extraction: 10 to 50, never past 50.
int ExtractionPercent(int extracted, int total);
// Runs the extraction, moving the bar per line; the tool's exit code, -1 if it cannot start.
int ExtractArchive(const wchar_t* archivePath, const wchar_t* extractionDir, int total,
                   ProgressState& progress);

// Answers whether a path is a directory; a query that fails answers no.
using IsDirectoryQuery = std::function<bool(const wchar_t* path)>;

// Chooses the root from the top-level names found in `extractionDir`: its single sub-directory,
// else `extractionDir` itself. False when that sub-directory's path would not fit in `root`:
// a cut path would point somewhere else.
bool ChooseExtractionRoot(const wchar_t* extractionDir, const std::vector<std::wstring>& names,
                          const IsDirectoryQuery& isDirectory, wchar_t (&root)[kPathCapacity]);
// Lists `extractionDir` and chooses from what is there.
bool FindExtractionRoot(const wchar_t* extractionDir, wchar_t (&root)[kPathCapacity]);
