#include "update/extraction_stage.h"

#include <algorithm>

#include "tools/archive_tool.h"
#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/held_file_retry.h"
#include "tools/volume.h"
#include "update/write_check.h"

namespace {

constexpr int kBandStart = 10;
constexpr int kBandWidth = 40;
constexpr int kBandEnd = 50;

// ERROR_VIRUS_INFECTED and ERROR_VIRUS_DELETED, which MinGW's headers lack.
constexpr DWORD kVirusInfected = 225;
constexpr DWORD kVirusDeleted = 226;

int ExtractArchive(const wchar_t* archivePath, const wchar_t* toolDirectory, int total,
                   ProgressState& progress, std::vector<std::wstring>& names) {
    int extracted = 0;
    return RunArchiveTool(L"-xvf -", archivePath, toolDirectory,
                          [&extracted, total, &progress, &names](const wchar_t* line) {
                              ++extracted;
                              SetProgress(progress, ExtractionPercent(extracted, total));
                              if (std::wstring name = ExtractedName(line); !name.empty()) {
                                  names.push_back(std::move(name));
                              }
                          });
}

// Whether every file the tool named is still below the extraction folder by that name: a scanner
// may rename a fresh file in place (Avira's suffix), which keeps the count of files.
bool EveryNamedFileThere(const std::wstring& extractionDir,
                         const std::vector<std::wstring>& names) {
    return std::all_of(names.begin(), names.end(), [&](const std::wstring& name) {
        return GetFileAttributesW((extractionDir + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
}

// The volume's free space and the archive's size, measured while whatever the tool managed to
// write still takes its space, and whether the volume can hold the archive's hard links.
const wchar_t* DiagnoseExtractionFailure(const wchar_t* archivePath, const wchar_t* toolDirectory,
                                         const ArchiveListing& listing, int exitCode) {
    ULARGE_INTEGER freeBytes = {};
    WIN32_FILE_ATTRIBUTE_DATA archive = {};
    const bool sizesKnown = GetDiskFreeSpaceExW(toolDirectory, &freeBytes, nullptr, nullptr) &&
                            GetFileAttributesExW(archivePath, GetFileExInfoStandard, &archive);
    const ULONGLONG archiveBytes =
        (static_cast<ULONGLONG>(archive.nFileSizeHigh) << 32) | archive.nFileSizeLow;
    const bool linksUnheld = listing.hardLinks > 0 && !VolumeHoldsHardLinks(toolDirectory);
    return ExtractionFailureMessage(sizesKnown, freeBytes.QuadPart, archiveBytes, linksUnheld,
                                    listing.exitCode == 0 && exitCode > 0);
}

std::wstring FindExtractionRoot(const std::wstring& extractionDir) {
    std::vector<TopLevelEntry> entries;
    const bool listed = ForEachEntry(extractionDir, [&](const ListedEntry& entry) {
        entries.push_back({entry.name, entry.kind == EntryKind::kDirectory});
    });
    // Taken for a flat archive, an unlisted top folder would be installed as a folder of the game.
    return listed ? ChooseExtractionRoot(extractionDir, entries) : std::wstring();
}

}  // namespace

std::wstring ExtractedName(std::wstring_view line) {
    constexpr std::wstring_view kPrefix = L"x ";
    if (!line.starts_with(kPrefix) || line.size() == kPrefix.size() || line.ends_with(L'/')) {
        return {};
    }
    std::wstring name;
    for (const wchar_t c : line.substr(kPrefix.size())) {
        // Beyond plain ASCII the tool writes in a code page, with '?' for what it lacks, or
        // escapes; a colon starts its error. None of those is ever in a file's name.
        if (c < L' ' || c > L'~' || c == L'\\' || c == L':' || c == L'?') {
            return {};
        }
        name.push_back(c == L'/' ? L'\\' : c);
    }
    const std::wstring_view relative =
        std::wstring_view(name).substr(name.starts_with(L".\\") ? 2 : 0);
    return L"\\" + std::wstring(relative);
}

int ExtractionPercent(int extracted, int total) {
    return std::min(extracted * kBandWidth / std::max(total, 1) + kBandStart, kBandEnd);
}

const wchar_t* ArchiveOpenFailureMessage(DWORD error) {
    // A scanner's verdict on the download comes again with every new download of it.
    return IsDiskFull(error)                                   ? kDiskFullFailure
           : error == kVirusInfected || error == kVirusDeleted ? kBlockedFailure
                                                               : kExtractionFailure;
}

const wchar_t* UnwrittenFailureMessage(DWORD error) {
    return IsDiskFull(error)              ? kDiskFullFailure
           : error == ERROR_ACCESS_DENIED ? kWritesRefusedFailure
           : IsMissing(error)             ? kMissingFileFailure
                                          : kUnwrittenFailure;
}

const wchar_t* ExtractionFailureMessage(bool sizesKnown, ULONGLONG freeBytes,
                                        ULONGLONG archiveBytes, bool linksUnheld,
                                        bool listedCleanly) {
    if (sizesKnown && freeBytes < archiveBytes) {
        return kDiskFullFailure;
    }
    return linksUnheld     ? kLinksUnheldFailure
           : listedCleanly ? kToolWritesRefusedFailure
                           : kExtractionFailure;
}

std::wstring ChooseExtractionRoot(const std::wstring& extractionDir,
                                  const std::vector<TopLevelEntry>& entries) {
    if (entries.size() == 1 && entries.front().isDirectory) {
        return extractionDir + L"\\" + entries.front().name;
    }
    return extractionDir;
}

bool IsInstallableRoot(const std::wstring& root, const std::wstring& extractionDir) {
    if (extractionDir.empty() || !root.starts_with(extractionDir)) {
        return false;
    }
    const std::wstring_view below = std::wstring_view(root).substr(extractionDir.size());
    return below.empty() ||
           (below.size() > 1 && below.front() == L'\\' && below.find(L'\\', 1) == below.npos);
}

ExtractionOutcome RunExtractionStage(const wchar_t* archivePath, const WorkingPaths& paths,
                                     ProgressState& progress) {
    ExtractionOutcome outcome;
    // Empty after every complete update, so cleaning tools and players remove it.
    CreateDirectoryW(paths.updateDir.c_str(), nullptr);
    if (!DeleteTree(paths.extractionDir)) {
        outcome.failureMessage = kStaleExtractionFailure;
        return outcome;
    }
    if (!CreateDirectoryW(paths.extractionDir.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        outcome.failureMessage = kExtractionDirFailure;
        return outcome;
    }
    SetStatus(progress, L"Extracting update...");
    const ArchiveListing listing = ListArchive(archivePath);
    std::vector<std::wstring> names;
    outcome.listedFiles = listing.files;
    if (listing.exitCode == kChildNotStarted) {
        // Missing, or refused by a policy or a scanner: no download will ever unpack.
        outcome.failureMessage = kToolFailure;
    } else if (listing.entries == 0) {
        // The tool reads an empty download as an empty archive and succeeds; installing nothing
        // and calling it done would leave the old version with the launcher offering it again.
        outcome.failureMessage = ArchiveOpenFailureMessage(listing.openError);
    } else if (const int code = ExtractArchive(archivePath, paths.toolDirectory.c_str(),
                                               listing.entries, progress, names);
               code != 0) {
        // Started once for the listing, the tool may still be refused the second time, by a
        // scanner that has judged it meanwhile: no archive is at fault then.
        outcome.failureMessage = code == kArchiveNotOpened
                                     ? ArchiveOpenFailureMessage(GetLastError())
                                 : code == kChildNotStarted
                                     ? kToolFailure
                                     : DiagnoseExtractionFailure(
                                           archivePath, paths.toolDirectory.c_str(), listing, code);
    } else if (const DWORD unwritten = FlushTree(paths.extractionDir)) {
        // The tool leaves its files to the cache; renamed into the game and recorded, they would
        // read as zeros after a power cut, with the archive, the one good copy, deleted.
        outcome.failureMessage = UnwrittenFailureMessage(unwritten);
    } else if (SetProgress(progress, kBandEnd); !EveryNamedFileThere(paths.extractionDir, names)) {
        outcome.failureMessage = kMissingFileFailure;
    } else {
        outcome.extractionRoot = FindExtractionRoot(paths.extractionDir);
    }
    // A partial extraction only takes space, on a disk that may be full.
    if (outcome.failureMessage != nullptr) {
        DeleteTree(paths.extractionDir);
    }
    return outcome;
}
