#pragma once

#include <string>

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
