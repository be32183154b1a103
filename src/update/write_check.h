#pragma once

#include <windows.h>

#include <string>

#include "update/working_paths.h"

inline constexpr wchar_t kWritesRefusedFailure[] =
    L"Windows refused access to the game folder. Nothing was changed.";

// Windows may refuse the updater every change in the game's folders: ransomware protection
// (Controlled Folder Access) in Documents or on the Desktop, a game below Program Files with a
// launcher that is not elevated, permissions changed by hand. Found half way through the install,
// that would leave a half-updated game and send the player to close a game that is closed. So a
// short-lived file of the updater's own is created, replaced and deleted in `folder` first.
// Returns the error of the first step that failed, ERROR_SUCCESS when all went.
DWORD TryChangingFolder(const std::wstring& folder);

// The same for the installation folder, its update folder and every preserved directory there is:
// the failure to show, or null. A disk too full for an empty file is told as a full disk.
const wchar_t* WriteCheckFailure(const WorkingPaths& paths);
