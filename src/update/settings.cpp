#include "update/settings.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "tools/directory_listing.h"
#include "tools/directory_tree.h"
#include "tools/file_replacement.h"
#include "tools/unique_handle.h"
#include "tools/volume.h"

namespace {

// Written into a backup whose content is back in the installation, before it is deleted.
constexpr wchar_t kRestoredMark[] = L"restored.mark";
// A move into or out of the backup that has to copy (a preserved directory on another volume, or
// behind the player's link to one) returns only once the copy is on disk: the player's original
// is deleted by the move right after.
constexpr DWORD kDurableMove = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

// Whether anything is at `path`. What cannot be examined counts as there: a place that may hold
// the player's files is never passed over.
bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
           !IsMissing(GetLastError());
}

// Only what is seen for sure: a backup taken for restored is deleted unmerged, and a per-user
// copy taken for present makes the backup's copy go.
bool Seen(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Join(const std::wstring& parent, const std::wstring& name) {
    return parent + L"\\" + name;
}

// What is at `path`, as the system resolves the path (through a player's link, what is behind
// it): a file and its size, or no file (a folder, or nothing); the error when it cannot be told.
struct Examined {
    bool file = false;
    ULONGLONG bytes = 0;
    DWORD error = ERROR_SUCCESS;
};
Examined Examine(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA found = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &found)) {
        const DWORD error = GetLastError();
        return {false, 0, IsMissing(error) ? static_cast<DWORD>(ERROR_SUCCESS) : error};
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return {};
    }
    return {true, (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow};
}

// Calls `visit(relative, bytes)` for each of the player's files that the update below
// `extractionRoot` may overwrite: the configuration, and each file of a preserved directory that
// the update ships too.
// Returns the first error that left it unsure of one: such a file would be overwritten unkept.
template <typename Visit>
DWORD ForEachShippedSetting(const WorkingPaths& paths, const std::wstring& extractionRoot,
                            Visit visit) {
    DWORD firstError = ERROR_SUCCESS;
    const auto note = [&](DWORD error) {
        firstError = firstError != ERROR_SUCCESS ? firstError : error;
    };
    const auto offer = [&](const std::wstring& relative) {
        const Examined installed = Examine(Join(paths.installDir, relative));
        note(installed.error);
        if (installed.file) {
            visit(relative, installed.bytes);
        }
    };
    // Set aside whether the update ships one or not: it is renamed, which costs nothing, and it
    // is migrated from the backup either way. Not where the update brings a folder of that name:
    // the player's file is in its way, and the update does not go in.
    const DWORD shipped = GetFileAttributesW(Join(extractionRoot, kLauncherConfigFileName).c_str());
    if (shipped == INVALID_FILE_ATTRIBUTES || !(shipped & FILE_ATTRIBUTE_DIRECTORY)) {
        offer(kLauncherConfigFileName);
    }
    const auto walk = [&](const auto& self, const std::wstring& relative) -> void {
        const bool listed =
            ForEachEntry(Join(extractionRoot, relative), [&](const ListedEntry& entry) {
                const std::wstring below = Join(relative, entry.name);
                if (entry.kind == EntryKind::kDirectory) {
                    self(self, below);
                } else if (entry.kind == EntryKind::kFile) {
                    offer(below);
                }
            });
        // The update need not ship every preserved directory.
        if (const DWORD error = listed ? ERROR_SUCCESS : GetLastError(); !IsMissing(error)) {
            note(error);
        }
    };
    for (const wchar_t* relative : kPreservedDirectories) {
        walk(walk, relative);
    }
    return firstError;
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
// asked; how many files could not be moved, and why the first could not.
TreeMove MoveSettings(const std::wstring& from, const std::wstring& to, bool withConfig,
                      const std::wstring& asideFolder) {
    TreeMove moved;
    const auto note = [&moved](DWORD error, int failed = 1) {
        if (error != ERROR_SUCCESS && failed > 0) {
            moved.firstError = moved.failed == 0 ? error : moved.firstError;
            moved.failed += failed;
        }
    };
    const std::wstring config = Join(from, kLauncherConfigFileName);
    RetryBudget budget;
    if (withConfig && Exists(config)) {
        note(ReplaceByMove(config, Join(to, kLauncherConfigFileName), kDurableMove, asideFolder,
                           budget));
    }
    for (const wchar_t* relative : kPreservedDirectories) {
        const std::wstring source = Join(from, relative);
        // A folder that cannot be examined may hold the player's files: not moved, so the backup
        // stays, and nothing made in its place, where the player may have had no such folder.
        const DWORD attributes = GetFileAttributesW(source.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            note(IsMissing(error) ? static_cast<DWORD>(ERROR_SUCCESS) : error);
        } else {
            CreateIntermediateDirectories(to, relative);
            const TreeMove tree =
                MoveTree(source, Join(to, relative), nullptr, asideFolder, kDurableMove);
            note(tree.firstError, tree.failed);
        }
    }
    return moved;
}

struct LeftoverBackup {
    std::wstring path;
    FILETIME created;
    bool restored;
};

// Backups of other runs: a run killed during the install leaves the player's originals there.
// Nothing when they cannot all be listed: one left out of the merge would be deleted after it.
std::optional<std::vector<LeftoverBackup>> FindOtherBackups(const WorkingPaths& paths) {
    std::vector<LeftoverBackup> leftovers;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileW(Join(paths.updateDir, L"backup_*").c_str(), &entry));
    if (!search) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(leftovers) : std::nullopt;
    }
    do {
        const std::wstring path = Join(paths.updateDir, entry.cFileName);
        if (ToListedEntry(entry).kind == EntryKind::kDirectory &&
            _wcsicmp(path.c_str(), paths.backupDir.c_str()) != 0) {
            leftovers.push_back({path, entry.ftCreationTime, Seen(Join(path, kRestoredMark))});
        }
    } while (FindNextFileW(search.Get(), &entry));
    return GetLastError() == ERROR_NO_MORE_FILES ? std::optional(leftovers) : std::nullopt;
}

// What an interrupted run set aside is older than what the installation now holds, which may
// already be the update's files: the oldest backup is merged last so its copy wins. A restored
// backup's remnant holds nothing the installation lacks.
int MergeInterruptedBackups(const WorkingPaths& paths) {
    std::optional<std::vector<LeftoverBackup>> found = FindOtherBackups(paths);
    if (!found) {
        return 1;
    }
    std::vector<LeftoverBackup>& leftovers = *found;
    std::sort(leftovers.begin(), leftovers.end(), [](const auto& a, const auto& b) {
        return CompareFileTime(&a.created, &b.created) > 0;
    });
    int failures = 0;
    for (const LeftoverBackup& leftover : leftovers) {
        if (!leftover.restored) {
            failures += MoveSettings(leftover.path, paths.backupDir, true, {}).failed;
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
    if (Exists(backupDir) && !Seen(Join(backupDir, kRestoredMark))) {
        if (const DWORD error = RetryFileWhileHeld(
                [&] { return Outcome(MoveFileW(backupDir.c_str(), movedAside.c_str())); })) {
            return error;
        }
    }
    DeleteTree(backupDir);
    CreateDirectoryW(backupDir.c_str(), nullptr);
    DWORD error = ERROR_SUCCESS;
    RetryBudget budget;
    const DWORD walked =
        ForEachShippedSetting(paths, extractionRoot, [&](const std::wstring& relative, ULONGLONG) {
            if (error == ERROR_SUCCESS) {
                CreateIntermediateDirectories(backupDir, relative);
                error = ReplaceByMove(Join(paths.installDir, relative), Join(backupDir, relative),
                                      kDurableMove, {}, budget);
            }
        });
    error = error != ERROR_SUCCESS ? error : walked;
    if (error == ERROR_SUCCESS && MergeInterruptedBackups(paths) > 0) {
        error = ERROR_GEN_FAILURE;
    }
    // Nothing of the update is installed yet, so what was set aside simply goes back; what cannot
    // stays in a backup that the next run merges.
    if (error != ERROR_SUCCESS &&
        MoveSettings(backupDir, paths.installDir, true, paths.replacedDir).failed == 0) {
        DeleteRestoredBackup(backupDir);
    }
    return error;
}

RestoreOutcome RestoreSettings(const WorkingPaths& paths, const std::wstring& roamingFolder) {
    const std::wstring& backupDir = paths.backupDir;
    RestoreOutcome outcome;
    // Moved, not copied: what stays behind is exactly what could not be put back, so a backup
    // kept for it never brings an older copy of anything else over the player's later changes.
    const TreeMove restored = MoveSettings(backupDir, paths.installDir, false, paths.replacedDir);
    outcome.filesLeft = restored.failed;
    outcome.firstError = restored.firstError;

    // The player's configuration, always set aside: a migration that was due but failed keeps it
    // in the backup, and so does one that could not run for want of a per-user folder (a profile
    // redirected to a share that is offline, or broken), unless it can go back where it was.
    const std::wstring savedConfig = Join(backupDir, kLauncherConfigFileName);
    // Made even with nothing to migrate: the launcher saves the player's settings there.
    const std::wstring perUserConfig = GetLauncherConfigPath(roamingFolder);
    if (!Exists(savedConfig)) {
        return outcome;
    }
    const bool migrated = !perUserConfig.empty() &&
                          (Seen(perUserConfig) || CopyIntoPlace(savedConfig, perUserConfig));
    const std::wstring installedConfig = Join(paths.installDir, kLauncherConfigFileName);
    RetryBudget budget;
    if (!Exists(installedConfig)) {
        // The update brought none, or could not install its own: the player's goes back.
        outcome.configLeft = ReplaceByMove(savedConfig, installedConfig, kDurableMove,
                                           paths.replacedDir, budget) != ERROR_SUCCESS;
    } else if (migrated) {
        // The installation keeps the update's; the per-user copy, on disk, serves the player.
        DeleteTree(savedConfig);
    } else {
        outcome.configLeft = true;
    }
    return outcome;
}

std::wstring PlayersEntryInTheWay(const WorkingPaths& paths, const std::wstring& extractionRoot,
                                  DWORD& unexamined) {
    const auto same = [](std::wstring_view a, std::wstring_view b) {
        return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                    static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
    };
    const auto below = [&](std::wstring_view path, std::wstring_view folder) {
        return path.size() > folder.size() && path[folder.size()] == L'\\' &&
               same(path.substr(0, folder.size()), folder);
    };
    const auto players = [&](const std::wstring& relative) {
        return std::any_of(std::begin(kPreservedDirectories), std::end(kPreservedDirectories),
                           [&](std::wstring_view kept) {
                               return below(relative, kept) || below(kept, relative) ||
                                      same(relative, kept);
                           }) ||
               same(relative, kLauncherConfigFileName);
    };
    std::wstring found;
    unexamined = ERROR_SUCCESS;
    const auto walk = [&](const auto& self, const std::wstring& relative) -> void {
        const std::wstring folder =
            relative.empty() ? extractionRoot : Join(extractionRoot, relative);
        ForEachEntry(folder, [&](const ListedEntry& entry) {
            // The install passes over a link of the update's; one entry found is enough.
            if (entry.kind == EntryKind::kDirectoryLink || !found.empty()) {
                return;
            }
            const std::wstring path = relative.empty() ? entry.name : Join(relative, entry.name);
            const bool shipsFolder = entry.kind == EntryKind::kDirectory;
            const ListedEntry installed = ExaminePath(Join(paths.installDir, path));
            const DWORD error =
                installed.attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
            if (IsMissing(error)) {
                return;
            }
            // A link is a folder to the update's files.
            if (error != ERROR_SUCCESS || shipsFolder == (installed.kind == EntryKind::kFile)) {
                if (players(path)) {
                    found = path;
                    unexamined = error;
                }
            } else if (shipsFolder) {  // behind a link too: the player's files may be there
                self(self, path);
            }
        });
    };
    walk(walk, {});
    return found;
}

ULONGLONG BackupSpaceNeeded(const WorkingPaths& paths, const std::wstring& extractionRoot,
                            ULONGLONG clusterBytes) {
    ULONGLONG needed = 0;
    const std::optional<DWORD> backupVolume = VolumeSerial(paths.updateDir);
    ForEachShippedSetting(
        paths, extractionRoot, [&](const std::wstring& relative, ULONGLONG bytes) {
            const std::optional<DWORD> volume = VolumeSerial(Join(paths.installDir, relative));
            needed += !volume || volume != backupVolume ? SpaceTaken(bytes, clusterBytes) : 0;
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
    for (const LeftoverBackup& leftover :
         FindOtherBackups(paths).value_or(std::vector<LeftoverBackup>())) {
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
