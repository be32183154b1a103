#pragma once

#include <windows.h>

#include <string>

#include "update/working_paths.h"

// The player's data directories, relative to the installation and to the backup alike.
inline constexpr const wchar_t* kPreservedDirectories[] = {
    L"data\\assets\\arrow",
    L"data\\assets\\arrows",
    L"data\\assets\\audio",
    L"data\\audio",
};
inline constexpr wchar_t kLauncherConfigFileName[] = L"norvane_launcher.cfg";

// Copies the launcher configuration and the preserved directories into the run's backup
// directory. False when any existing file could not be backed up: then the installation must
// not be touched, because the backup would not hold the player's only copy, and the partial
// copy is gone again.
bool BackupSettings(const WorkingPaths& paths);

// The space a backup of the configuration and the preserved directories takes, file by file as
// the disk rounds them up.
ULONGLONG BackupSpaceNeeded(const WorkingPaths& paths);

// The failure to show when `freeBytes` cannot hold `neededBytes`, with how much more the player
// must free; empty when they fit.
std::wstring BackupSpaceFailure(ULONGLONG neededBytes, ULONGLONG freeBytes);

// Moves the preserved directories back over the installation and migrates the configuration
// to the per-user folder below `roamingFolder`. False when any file could not be put back: the
// backup must then be kept, and it holds exactly those files.
bool RestoreSettings(const WorkingPaths& paths, const std::wstring& roamingFolder);

// Backups that interrupted earlier runs left behind, once the restore has put their content back
// in the installation; remnants of restored backups go too.
void DeleteInterruptedBackups(const WorkingPaths& paths);

// Deletes a backup whose content is back in the installation. It is marked as restored before
// anything of it goes, so whatever a held file keeps of it is deleted later, never merged again.
void DeleteRestoredBackup(const std::wstring& backup);

// "<roaming>\Norvane\norvane_launcher.cfg", creating the Norvane folder; empty when there is no
// roaming folder.
std::wstring GetLauncherConfigPath(const std::wstring& roamingFolder);
