#pragma once

#include <string>

#include "update/working_paths.h"

inline constexpr wchar_t kWritesRefusedFailure[] =
    L"Windows refused access to the game folder. Nothing was changed.";

// Windows may refuse the updater every change in the game's folders: ransomware protection
// (Controlled Folder Access) in Documents or on the Desktop, a game below Program Files with a
// launcher that is not elevated, permissions changed by hand. Found half way through the install,
// that would leave a half-updated game and send the player to close a game that is closed. So a
// short-lived file of the updater's own is created, replaced and deleted in `folder` first.
bool MayChangeFolder(const std::wstring& folder);

// The installation folder, its update folder and every preserved directory there is.
bool MayChangeInstallation(const WorkingPaths& paths);
