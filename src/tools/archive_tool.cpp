#include "tools/archive_tool.h"

#include <stdio.h>
#include <wchar.h>

#include <algorithm>

#include "tools/child_process.h"
#include "tools/directory_listing.h"
#include "tools/directory_tree.h"

namespace {

constexpr size_t kCommandCapacity = 1024;
constexpr int kBandStart = 10;
constexpr int kBandWidth = 40;
constexpr int kBandEnd = 50;

// INVALID_FILE_ATTRIBUTES has every bit set, so a failed query must be ruled out first.
bool QueryIsDirectory(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int CountArchiveEntries(const wchar_t* archivePath) {
    wchar_t command[kCommandCapacity];
    _snwprintf_s(command, kCommandCapacity, _TRUNCATE, L"tar.exe -tf \"%ls\"", archivePath);
    int entries = 0;
    RunProcess(command, [&entries](const wchar_t*) { ++entries; });
    return entries;
}

int ExtractionTotal(int listedEntries) {
    return listedEntries > 0 ? listedEntries : 1;
}

int ExtractionPercent(int extracted, int total) {
    return std::min(extracted * kBandWidth / total + kBandStart, kBandEnd);
}

int ExtractArchive(const wchar_t* archivePath, const wchar_t* extractionDir, int total,
                   ProgressState& progress) {
    wchar_t command[kCommandCapacity];
    _snwprintf_s(command, kCommandCapacity, _TRUNCATE, L"tar.exe -xvf \"%ls\" -C \"%ls\"",
                 archivePath, extractionDir);
    int extracted = 0;
    return RunProcess(command, [&extracted, total, &progress](const wchar_t*) {
        ++extracted;
        SetProgress(progress, ExtractionPercent(extracted, total));
    });
}

bool ChooseExtractionRoot(const wchar_t* extractionDir, const std::vector<std::wstring>& names,
                          const IsDirectoryQuery& isDirectory, wchar_t (&root)[kPathCapacity]) {
    wcscpy_s(root, kPathCapacity, extractionDir);
    if (names.size() != 1) {
        return true;
    }
    const std::wstring joined = std::wstring(extractionDir) + L"\\" + names.front();
    if (!isDirectory(joined.c_str())) {
        return true;
    }
    if (joined.size() >= kPathCapacity) {
        return false;
    }
    wcscpy_s(root, kPathCapacity, joined.c_str());
    return true;
}

bool FindExtractionRoot(const wchar_t* extractionDir, wchar_t (&root)[kPathCapacity]) {
    std::vector<std::wstring> names;
    bool listedAsDirectory = false;
    ForEachEntry(extractionDir, [&](const std::wstring& name, DWORD attributes) {
        names.push_back(name);
        listedAsDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    });
    // Without long-path support the query fails for a path too long to be a root; the listing
    // has just said what the entry is, so an over-long folder is refused rather than installed
    // as a sub-folder of the game.
    const auto isDirectory = [listedAsDirectory](const wchar_t* path) {
        return QueryIsDirectory(path) || (wcslen(path) >= kPathCapacity && listedAsDirectory);
    };
    return ChooseExtractionRoot(extractionDir, names, isDirectory, root);
}

ExtractionOutcome RunExtractionStage(const UpdateJob& job, const wchar_t* extractionDir,
                                     ProgressState& progress) {
    ExtractionOutcome outcome;
    DeleteTree(extractionDir);
    if (!CreateDirectoryW(extractionDir, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        outcome.failureMessage = kExtractionDirFailure;
        return outcome;
    }
    SetStatus(progress, L"Extracting update...");
    const int total = ExtractionTotal(CountArchiveEntries(job.archivePath));
    if (ExtractArchive(job.archivePath, extractionDir, total, progress) != 0) {
        outcome.failureMessage = kExtractionFailure;
        return outcome;
    }
    SetProgress(progress, kBandEnd);
    if (!FindExtractionRoot(extractionDir, outcome.extractionRoot)) {
        outcome.failureMessage = kExtractionFailure;
    }
    return outcome;
}
