#pragma once

#include <string>

#include "update/update_job.h"

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
// not be touched, because the backup would not hold the player's only copy.
bool BackupSettings(const UpdateJob& job);

// Copies the preserved directories back over the installation and migrates the configuration
// to the per-user folder below `roamingFolder`. False when any file could not be put back, in
// which case the backup must be kept.
bool RestoreSettings(const UpdateJob& job, const std::wstring& roamingFolder);

// Backups that an interrupted earlier run left behind; the worker removes them once their
// content is safely back in the installation.
void DeleteInterruptedBackups(const UpdateJob& job);

// "<roaming>\Norvane\norvane_launcher.cfg", creating the Norvane folder; empty when there is no
// roaming folder.
std::wstring GetLauncherConfigPath(const std::wstring& roamingFolder);
