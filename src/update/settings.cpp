#include "update/settings.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/file_replacement.h"
#include "tools/unique_handle.h"

namespace {

// Written into a backup whose content is back in the installation, before it is deleted.
constexpr wchar_t kRestoredMark[] = L"restored.mark";
// A move into or out of the backup that has to copy (a preserved directory on another volume, or
// behind the player's link to one) returns only once the copy is on disk: the player's original
// is deleted by the move right after.
constexpr DWORD kDurableMove = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Join(const std::wstring& parent, const std::wstring& name) {
    return parent + L"\\" + name;
}

// The size of the file at `path`, as the system resolves the path (through a player's link, the
// file behind it); nothing for a folder or where there is no file.
std::optional<ULONGLONG> FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA found = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &found) ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// Calls `visit(relative, bytes)` for each of the player's files that the update below
// `extractionRoot` would overwrite: the configuration, and each file of a preserved directory.
template <typename Visit>
void ForEachShippedSetting(const WorkingPaths& paths, const std::wstring& extractionRoot,
                           Visit visit) {
    const auto offer = [&](const std::wstring& relative) {
        if (const auto bytes = FileBytes(Join(paths.installDir, relative))) {
            visit(relative, *bytes);
        }
    };
    if (FileBytes(Join(extractionRoot, kLauncherConfigFileName))) {
        offer(kLauncherConfigFileName);
    }
    const auto walk = [&](const auto& self, const std::wstring& relative) -> void {
        ForEachEntry(Join(extractionRoot, relative), [&](const ListedEntry& entry) {
            const std::wstring below = Join(relative, entry.name);
            if (entry.kind == EntryKind::kDirectory) {
                self(self, below);
            } else if (entry.kind == EntryKind::kFile) {
                offer(below);
            }
        });
    };
    for (const wchar_t* relative : kPreservedDirectories) {
        walk(walk, relative);
    }
}

// Creates the folders between `root` and `root\relative`, top down.
void CreateIntermediateDirectories(const std::wstring& root, const std::wstring& relative) {
    size_t separator = relative.find(L'\\');
    while (separator != std::wstring::npos) {
        CreateDirectoryW(Join(root, relative.substr(0, separator)).c_str(), nullptr);
        separator = relative.find(L'\\', separator + 1);
    }
}

// Moves the preserved directories found below `from` over `to`, and the configuration too when
// asked; returns the number of files that could not be moved.
int MoveSettings(const std::wstring& from, const std::wstring& to, bool withConfig,
                 const std::wstring& asideFolder) {
    int failures = 0;
    const std::wstring config = Join(from, kLauncherConfigFileName);
    RetryBudget budget;
    if (withConfig && Exists(config) &&
        ReplaceByMove(config, Join(to, kLauncherConfigFileName), kDurableMove, asideFolder,
                      budget) != ERROR_SUCCESS) {
        ++failures;
    }
    for (const wchar_t* relative : kPreservedDirectories) {
        const std::wstring source = Join(from, relative);
        if (Exists(source)) {
            CreateIntermediateDirectories(to, relative);
            failures +=
                MoveTree(source, Join(to, relative), nullptr, asideFolder, kDurableMove).failed;
        }
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

// What an interrupted run set aside is older than what the installation now holds, which may
// already be the update's files: the oldest backup is merged last so its copy wins. A restored
// backup's remnant holds nothing the installation lacks.
int MergeInterruptedBackups(const WorkingPaths& paths) {
    std::vector<LeftoverBackup> leftovers = FindOtherBackups(paths);
    std::sort(leftovers.begin(), leftovers.end(), [](const auto& a, const auto& b) {
        return CompareFileTime(&a.created, &b.created) > 0;
    });
    int failures = 0;
    for (const LeftoverBackup& leftover : leftovers) {
        if (!leftover.restored) {
            failures += MoveSettings(leftover.path, paths.backupDir, true, {});
        }
    }
    return failures;
}

}  // namespace

DWORD BackupSettings(const WorkingPaths& paths, const std::wstring& extractionRoot) {
    const std::wstring& backupDir = paths.backupDir;
    // An interrupted run for a client with this same id left the player's originals here: they
    // move aside, to be merged like any other run's, instead of being overwritten.
    const std::wstring movedAside = backupDir + L"_" + std::to_wstring(GetTickCount64());
    if (Exists(backupDir) && !Exists(Join(backupDir, kRestoredMark))) {
        if (const DWORD error = RetryFileWhileHeld(
                [&] { return Outcome(MoveFileW(backupDir.c_str(), movedAside.c_str())); })) {
            return error;
        }
    }
    DeleteTree(backupDir);
    CreateDirectoryW(backupDir.c_str(), nullptr);
    DWORD error = ERROR_SUCCESS;
    RetryBudget budget;
    ForEachShippedSetting(paths, extractionRoot, [&](const std::wstring& relative, ULONGLONG) {
        if (error == ERROR_SUCCESS) {
            CreateIntermediateDirectories(backupDir, relative);
            error = ReplaceByMove(Join(paths.installDir, relative), Join(backupDir, relative),
                                  kDurableMove, {}, budget);
        }
    });
    if (error == ERROR_SUCCESS && MergeInterruptedBackups(paths) > 0) {
        error = ERROR_GEN_FAILURE;
    }
    // Nothing of the update is installed yet, so what was set aside simply goes back; what cannot
    // stays in a backup that the next run merges.
    if (error != ERROR_SUCCESS &&
        MoveSettings(backupDir, paths.installDir, true, paths.replacedDir) == 0) {
        DeleteRestoredBackup(backupDir);
    }
    return error;
}

bool RestoreSettings(const WorkingPaths& paths, const std::wstring& roamingFolder) {
    const std::wstring& backupDir = paths.backupDir;
    // Moved, not copied: what stays behind is exactly what could not be put back, so a backup
    // kept for it never brings an older copy of anything else over the player's later changes.
    // The configuration is not put back: the installation keeps the update's.
    int failures = MoveSettings(backupDir, paths.installDir, false, paths.replacedDir);

    // The player's configuration: set aside when the update ships its own, else still installed.
    // Set aside, the backup holds the player's only copy, so a migration that was due but failed
    // keeps the backup too, and so does one that could not run for want of a per-user folder (a
    // profile redirected to a share that is offline, or broken).
    const std::wstring savedConfig = Join(backupDir, kLauncherConfigFileName);
    const bool setAside = Exists(savedConfig);
    const std::wstring config =
        setAside ? savedConfig : Join(paths.installDir, kLauncherConfigFileName);
    if (!Exists(config)) {
        return failures == 0;
    }
    const std::wstring perUserConfig = GetLauncherConfigPath(roamingFolder);
    const bool migrated =
        !perUserConfig.empty() && (Exists(perUserConfig) || CopyIntoPlace(config, perUserConfig));
    if (setAside && !migrated) {
        ++failures;
    } else if (setAside) {
        // The per-user copy serves now, and it is on disk: a kept backup holds what failed.
        DeleteTree(savedConfig);
    }
    return failures == 0;
}

ULONGLONG BackupSpaceNeeded(const WorkingPaths& paths, const std::wstring& extractionRoot,
                            ULONGLONG clusterBytes) {
    ULONGLONG needed = 0;
    ForEachShippedSetting(paths, extractionRoot, [&](const std::wstring&, ULONGLONG bytes) {
        needed += SpaceTaken(bytes, clusterBytes);
    });
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
