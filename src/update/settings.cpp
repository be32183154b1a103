#include "update/settings.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/file_replacement.h"
#include "tools/unique_handle.h"

namespace {

// Written into a backup whose content is back in the installation, before it is deleted.
constexpr wchar_t kRestoredMark[] = L"restored.mark";

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The configuration is one file, so it gets one file's share of the retry for held files.
bool CopyFileWithRetry(const std::wstring& from, const std::wstring& to) {
    RetryBudget budget;
    return ReplaceByCopy(from, GetFileAttributesW(from.c_str()), to, budget);
}

std::wstring Join(const std::wstring& parent, const std::wstring& name) {
    return parent + L"\\" + name;
}

// Creates the folders between `root` and `root\relative`, top down, so the tree copy (which
// creates one level only) has a parent to create its destination in.
void CreateIntermediateDirectories(const std::wstring& root, const std::wstring& relative) {
    size_t separator = relative.find(L'\\');
    while (separator != std::wstring::npos) {
        CreateDirectoryW(Join(root, relative.substr(0, separator)).c_str(), nullptr);
        separator = relative.find(L'\\', separator + 1);
    }
}

// Copies the configuration and every preserved directory found below `from` into `to`;
// returns the number of files that could not be copied.
int CopySettings(const std::wstring& from, const std::wstring& to) {
    int failures = 0;
    const std::wstring config = Join(from, kLauncherConfigFileName);
    if (Exists(config) && !CopyFileWithRetry(config, Join(to, kLauncherConfigFileName))) {
        ++failures;
    }
    for (const wchar_t* relative : kPreservedDirectories) {
        const std::wstring source = Join(from, relative);
        if (!Exists(source)) {
            continue;
        }
        CreateIntermediateDirectories(to, relative);
        failures += CopyTree(source, Join(to, relative), nullptr);
    }
    return failures;
}

struct LeftoverBackup {
    std::wstring path;
    FILETIME created;
    bool restored;
};

// Backups of other runs: a run killed during the install leaves the player's originals there.
std::vector<LeftoverBackup> FindOtherBackups(const WorkingPaths& paths) {
    std::vector<LeftoverBackup> leftovers;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileW(Join(paths.updateDir, L"backup_*").c_str(), &entry));
    if (!search) {
        return leftovers;
    }
    do {
        const std::wstring path = Join(paths.updateDir, entry.cFileName);
        if (ToListedEntry(entry).kind == EntryKind::kDirectory &&
            _wcsicmp(path.c_str(), paths.backupDir.c_str()) != 0) {
            leftovers.push_back({path, entry.ftCreationTime, Exists(Join(path, kRestoredMark))});
        }
    } while (FindNextFileW(search.Get(), &entry));
    return leftovers;
}

}  // namespace

bool BackupSettings(const WorkingPaths& paths) {
    const std::wstring& backupDir = paths.backupDir;
    // An interrupted run for a client with this same id left the player's originals here: they
    // move aside, to be merged like any other run's, instead of being overwritten.
    if (Exists(backupDir) && !Exists(Join(backupDir, kRestoredMark)) &&
        !MoveFileW(backupDir.c_str(),
                   (backupDir + L"_" + std::to_wstring(GetTickCount64())).c_str())) {
        return false;
    }
    DeleteTree(backupDir);
    CreateDirectoryW(backupDir.c_str(), nullptr);
    int failures = CopySettings(paths.installDir, backupDir);

    // What an interrupted run backed up is older than what the installation now holds, which
    // may already be the update's files: the oldest backup is merged last so its copy wins.
    // A restored backup's remnant holds nothing the installation lacks.
    std::vector<LeftoverBackup> leftovers = FindOtherBackups(paths);
    std::sort(leftovers.begin(), leftovers.end(), [](const auto& a, const auto& b) {
        return CompareFileTime(&a.created, &b.created) > 0;
    });
    for (const LeftoverBackup& leftover : leftovers) {
        if (!leftover.restored) {
            failures += CopySettings(leftover.path, backupDir);
        }
    }
    if (failures > 0) {
        DeleteTree(backupDir);  // the originals are untouched, so the partial copy can go
    }
    return failures == 0;
}

bool RestoreSettings(const WorkingPaths& paths, const std::wstring& roamingFolder) {
    const std::wstring& backupDir = paths.backupDir;
    int failures = 0;
    // Moved, not copied: what stays behind is exactly what could not be put back, so a backup
    // kept for it never brings an older copy of anything else over the player's later changes.
    for (const wchar_t* relative : kPreservedDirectories) {
        const std::wstring saved = Join(backupDir, relative);
        if (Exists(saved)) {
            failures +=
                MoveTree(saved, Join(paths.installDir, relative), nullptr, paths.replacedDir);
        }
    }

    // The backup may hold the player's only copy of the configuration (the update can ship its
    // own), so a migration that was due but failed keeps the backup too, and so does one that
    // could not run for want of a per-user folder (a profile redirected to a share that is
    // offline, or broken).
    const std::wstring savedConfig = Join(backupDir, kLauncherConfigFileName);
    if (Exists(savedConfig)) {
        const std::wstring perUserConfig = GetLauncherConfigPath(roamingFolder);
        if (perUserConfig.empty() ||
            (!Exists(perUserConfig) && !CopyFileWithRetry(savedConfig, perUserConfig))) {
            ++failures;
        } else {
            // The per-user copy serves now: a kept backup holds what failed.
            DeleteTree(savedConfig);
        }
    }
    return failures == 0;
}

ULONGLONG BackupSpaceNeeded(const WorkingPaths& paths) {
    WIN32_FILE_ATTRIBUTE_DATA config = {};
    ULONGLONG needed = 0;
    if (GetFileAttributesExW(Join(paths.installDir, kLauncherConfigFileName).c_str(),
                             GetFileExInfoStandard, &config)) {
        needed +=
            SpaceTaken((static_cast<ULONGLONG>(config.nFileSizeHigh) << 32) | config.nFileSizeLow);
    }
    for (const wchar_t* relative : kPreservedDirectories) {
        needed += TreeSpace(Join(paths.installDir, relative));
    }
    return needed;
}

std::wstring BackupSpaceFailure(ULONGLONG neededBytes, ULONGLONG freeBytes) {
    if (freeBytes >= neededBytes) {
        return {};
    }
    constexpr ULONGLONG kMegabyte = 1 << 20;
    const ULONGLONG missingMegabytes = (neededBytes - freeBytes + kMegabyte - 1) / kMegabyte;
    return L"Not enough disk space to back up settings: " + std::to_wstring(missingMegabytes) +
           L" MB more needed.";
}

void DeleteInterruptedBackups(const WorkingPaths& paths) {
    for (const LeftoverBackup& leftover : FindOtherBackups(paths)) {
        DeleteRestoredBackup(leftover.path);
    }
}

// The mark goes last, once nothing else is left, so a remnant always keeps it.
void DeleteRestoredBackup(const std::wstring& backup) {
    const std::wstring mark = Join(backup, kRestoredMark);
    UniqueFileHandle(CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));  // closed at once
    bool emptied = true;
    ForEachEntry(backup, [&](const ListedEntry& entry) {
        if (entry.name != kRestoredMark) {
            emptied = DeleteTree(Join(backup, entry.name)) && emptied;
        }
    });
    if (emptied) {
        DeleteTree(backup);
    }
}

std::wstring GetLauncherConfigPath(const std::wstring& roamingFolder) {
    if (roamingFolder.empty()) {
        return {};
    }
    const std::wstring folder = Join(roamingFolder, L"Norvane");
    CreateDirectoryW(folder.c_str(), nullptr);
    return Join(folder, kLauncherConfigFileName);
}
