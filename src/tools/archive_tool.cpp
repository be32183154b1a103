#include "tools/archive_tool.h"

#include <wchar.h>

#include <algorithm>
#include <utility>

#include "tools/child_process.h"
#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/unique_handle.h"

namespace {

constexpr int kBandStart = 10;
constexpr int kBandWidth = 40;
constexpr int kBandEnd = 50;

// INVALID_FILE_ATTRIBUTES has every bit set, so a failed query must be ruled out first.
bool QueryIsDirectory(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring FindArchiveTool() {
    wchar_t systemFolder[MAX_PATH] = {};
    const UINT systemLength = GetSystemDirectoryW(systemFolder, MAX_PATH);
    const DWORD attributes =
        GetFileAttributesW((std::wstring(systemFolder) + L"\\tar.exe").c_str());
    const bool systemToolExists = systemLength > 0 && systemLength < MAX_PATH &&
                                  attributes != INVALID_FILE_ATTRIBUTES &&
                                  (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    // A cut path names no file, so the start fails and the update reports it.
    wchar_t ownExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownExe, MAX_PATH);
    return ArchiveToolPath(systemFolder, ownExe, systemToolExists);
}

// The volume's free space and the archive's size, measured while whatever the tool managed to
// write still takes its space.
const wchar_t* DiagnoseExtractionFailure(const wchar_t* archivePath, const wchar_t* extractionDir) {
    ULARGE_INTEGER freeBytes = {};
    WIN32_FILE_ATTRIBUTE_DATA archive = {};
    const bool sizesKnown = GetDiskFreeSpaceExW(extractionDir, &freeBytes, nullptr, nullptr) &&
                            GetFileAttributesExW(archivePath, GetFileExInfoStandard, &archive);
    const ULONGLONG archiveBytes =
        (static_cast<ULONGLONG>(archive.nFileSizeHigh) << 32) | archive.nFileSizeLow;
    return ExtractionFailureMessage(sizesKnown, freeBytes.QuadPart, archiveBytes);
}

}  // namespace

std::wstring ArchiveToolPath(const std::wstring& systemFolder, const std::wstring& ownExePath,
                             bool systemToolExists) {
    if (systemToolExists) {
        return systemFolder + L"\\tar.exe";
    }
    const size_t separator = ownExePath.find_last_of(L"\\/");
    const std::wstring ownFolder =
        separator == std::wstring::npos ? std::wstring() : ownExePath.substr(0, separator);
    return ownFolder + L"\\tar.exe";
}

int RunArchiveTool(const wchar_t* arguments, const wchar_t* archivePath,
                   const wchar_t* workingDirectory, LineCallback onLine) {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    const UniqueFileHandle archive(CreateFileW(archivePath, GENERIC_READ, FILE_SHARE_READ,
                                               &inheritable, OPEN_EXISTING,
                                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!archive) {
        return -1;
    }
    const std::wstring tool = FindArchiveTool();
    const std::wstring commandLine = L"\"" + tool + L"\" " + arguments;
    ChildLaunch launch;
    launch.programPath = tool.c_str();
    launch.commandLine = commandLine.c_str();
    launch.standardInput = archive.Get();
    launch.workingDirectory = workingDirectory;
    return RunProcess(launch, std::move(onLine));
}

int CountArchiveEntries(const wchar_t* archivePath) {
    int entries = 0;
    RunArchiveTool(L"-tf -", archivePath, nullptr, [&entries](const wchar_t*) { ++entries; });
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
    int extracted = 0;
    return RunArchiveTool(L"-xvf -", archivePath, extractionDir,
                          [&extracted, total, &progress](const wchar_t*) {
                              ++extracted;
                              SetProgress(progress, ExtractionPercent(extracted, total));
                          });
}

const wchar_t* ExtractionFailureMessage(bool sizesKnown, ULONGLONG freeBytes,
                                        ULONGLONG archiveBytes) {
    return sizesKnown && freeBytes < archiveBytes ? kDiskFullFailure : kExtractionFailure;
}

bool ChooseExtractionRoot(const wchar_t* extractionDir, const std::vector<std::wstring>& names,
                          const IsDirectoryQuery& isDirectory, wchar_t (&root)[MAX_PATH]) {
    wcscpy_s(root, MAX_PATH, extractionDir);
    if (names.size() != 1) {
        return true;
    }
    const std::wstring joined = std::wstring(extractionDir) + L"\\" + names.front();
    if (!isDirectory(joined.c_str())) {
        return true;
    }
    if (joined.size() >= MAX_PATH) {
        return false;
    }
    wcscpy_s(root, MAX_PATH, joined.c_str());
    return true;
}

bool FindExtractionRoot(const wchar_t* extractionDir, wchar_t (&root)[MAX_PATH]) {
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
        return QueryIsDirectory(path) || (wcslen(path) >= MAX_PATH && listedAsDirectory);
    };
    return ChooseExtractionRoot(extractionDir, names, isDirectory, root);
}

ExtractionOutcome RunExtractionStage(const wchar_t* archivePath, const wchar_t* extractionDir,
                                     ProgressState& progress) {
    ExtractionOutcome outcome;
    DeleteTree(extractionDir);
    if (!CreateDirectoryW(extractionDir, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        outcome.failureMessage = kExtractionDirFailure;
        return outcome;
    }
    SetStatus(progress, L"Extracting update...");
    const int total = ExtractionTotal(CountArchiveEntries(archivePath));
    if (ExtractArchive(archivePath, extractionDir, total, progress) != 0) {
        outcome.failureMessage = DiagnoseExtractionFailure(archivePath, extractionDir);
    } else {
        SetProgress(progress, kBandEnd);
        if (!FindExtractionRoot(extractionDir, outcome.extractionRoot)) {
            outcome.failureMessage = kExtractionFailure;
        }
    }
    // A partial extraction only takes space, on a disk that may be full.
    if (outcome.failureMessage != nullptr) {
        DeleteTree(extractionDir);
    }
    return outcome;
}
