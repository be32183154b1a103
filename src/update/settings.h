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

// Sets aside, by moving them into the run's backup directory, the launcher configuration and the
// player's files of the preserved directories that the update below `extractionRoot` ships too. A
// rename keeps the bytes already on disk, and every other file of the player's stays where it is,
// untouched. Then merges the backups of interrupted runs, oldest last. ERROR_SUCCESS, or the first
// error: then whatever was set aside is back in the installation, or in a backup that a later run
// merges.
DWORD BackupSettings(const WorkingPaths& paths, const std::wstring& extractionRoot);

// Where the update below `extractionRoot` brings a file and the installation has a folder, or the
// other way round, the install sets the game's old entry aside. Not the player's: the path,
// relative to the installation, of the first such entry that is a preserved directory, holds one or
// lies in one, or is the launcher configuration; empty when there is none. `unexamined`: the error
// of such a place that could not be examined, which may be in the way all the same.
std::wstring PlayersEntryInTheWay(const WorkingPaths& paths, const std::wstring& extractionRoot,
                                  DWORD& unexamined);

// The space the files BackupSettings sets aside take where the move has to copy them (a preserved
// directory, or what a link in one leads to, on another volume than the backup's, or one that
// cannot be told), in the backup volume's clusters; a rename takes none.
ULONGLONG BackupSpaceNeeded(const WorkingPaths& paths, const std::wstring& extractionRoot,
                            ULONGLONG clusterBytes);

// The failure to show when `freeBytes` cannot hold `neededBytes`, with how much more the player
// must free; empty when they fit.
std::wstring BackupSpaceFailure(ULONGLONG neededBytes, ULONGLONG freeBytes);

// Moves the set-aside files back over the installation and migrates the configuration to the
// per-user folder below `roamingFolder`; the configuration goes back too where the installation has
// none of the update's. What could not be put back stays in the backup, which must then be kept.
struct RestoreOutcome {
    int filesLeft = 0;        // of the preserved directories: the update is not complete without
    bool configLeft = false;  // the configuration, migrated later
    DWORD firstError = ERROR_SUCCESS;  // why the first of the files left could not be put back
    bool Complete() const { return filesLeft == 0 && !configLeft; }
};
RestoreOutcome RestoreSettings(const WorkingPaths& paths, const std::wstring& roamingFolder);

// Backups that interrupted earlier runs left behind, once the restore has put their content back
// in the installation; remnants of restored backups go too.
void DeleteInterruptedBackups(const WorkingPaths& paths);

// Deletes a backup whose content is back in the installation. It is marked as restored before
// anything of it goes, so whatever a held file keeps of it is deleted later, never merged again.
void DeleteRestoredBackup(const std::wstring& backup);

// "<roaming>\Norvane\norvane_launcher.cfg", creating the Norvane folder; empty when there is no
// roaming folder.
std::wstring GetLauncherConfigPath(const std::wstring& roamingFolder);
