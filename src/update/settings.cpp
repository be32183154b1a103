#include "update/settings.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "tools/directory_tree.h"
#include "tools/held_file_retry.h"
#include "tools/unique_handle.h"
#include "update/working_paths.h"

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The configuration is one file, so it gets one file's share of the retry for held files.
bool CopyFileWithRetry(const std::wstring& from, const std::wstring& to) {
    RetryBudget budget;
    return CopyFileRetryingWhileHeld(from, to, budget);
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

std::wstring UpdateFolder(const UpdateJob& job) {
    return Join(job.installDir, L"update");
}

struct LeftoverBackup {
    std::wstring path;
    FILETIME created;
};

// Backups of other runs: a run killed during the install leaves the player's originals there.
std::vector<LeftoverBackup> FindInterruptedBackups(const UpdateJob& job) {
    const std::wstring ownBackup = FormWorkingPaths(job).backupDir;
    std::vector<LeftoverBackup> leftovers;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileW(Join(UpdateFolder(job), L"backup_*").c_str(), &entry));
    if (!search) {
        return leftovers;
    }
    do {
        const std::wstring path = Join(UpdateFolder(job), entry.cFileName);
        const bool isPlainDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                      !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (isPlainDirectory && _wcsicmp(path.c_str(), ownBackup.c_str()) != 0) {
            leftovers.push_back({path, entry.ftCreationTime});
        }
    } while (FindNextFileW(search.Get(), &entry));
    return leftovers;
}

}  // namespace

bool BackupSettings(const UpdateJob& job) {
    const std::wstring backupDir = FormWorkingPaths(job).backupDir;
    DeleteTree(backupDir);
    CreateDirectoryW(backupDir.c_str(), nullptr);
    int failures = CopySettings(job.installDir, backupDir);

    // What an interrupted run backed up is older than what the installation now holds, which
    // may already be the update's files: the oldest backup is merged last so its copy wins.
    std::vector<LeftoverBackup> leftovers = FindInterruptedBackups(job);
    std::sort(leftovers.begin(), leftovers.end(), [](const auto& a, const auto& b) {
        return CompareFileTime(&a.created, &b.created) > 0;
    });
    for (const LeftoverBackup& leftover : leftovers) {
        failures += CopySettings(leftover.path, backupDir);
    }
    return failures == 0;
}

bool RestoreSettings(const UpdateJob& job, const std::wstring& roamingFolder) {
    const std::wstring backupDir = FormWorkingPaths(job).backupDir;
    int failures = 0;
    for (const wchar_t* relative : kPreservedDirectories) {
        const std::wstring saved = Join(backupDir, relative);
        if (Exists(saved)) {
            failures += CopyTree(saved, Join(job.installDir, relative), nullptr);
        }
    }

    // The backup may hold the player's only copy of the configuration (the update can ship its
    // own), so a migration that was due but failed keeps the backup too.
    const std::wstring perUserConfig = GetLauncherConfigPath(roamingFolder);
    const std::wstring savedConfig = Join(backupDir, kLauncherConfigFileName);
    if (!perUserConfig.empty() && !Exists(perUserConfig) && Exists(savedConfig) &&
        !CopyFileWithRetry(savedConfig, perUserConfig)) {
        ++failures;
    }
    return failures == 0;
}

void DeleteInterruptedBackups(const UpdateJob& job) {
    for (const LeftoverBackup& leftover : FindInterruptedBackups(job)) {
        DeleteTree(leftover.path);
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
