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
// short-lived file of the updater's own is created, replaced and deleted in `folder` first, named
// with `extension`. Returns the error of the first step that failed, ERROR_SUCCESS when all went.
DWORD TryChangingFolder(const std::wstring& folder, const std::wstring& extension = L".tmp");

// The extension of a file's name as a shield judges it, lower-cased with its dot; empty for none.
std::wstring ProbeExtension(std::wstring_view name);

// The same for the installation folder, its update folder and every preserved directory there is:
// the failure to show, or null. A disk too full for an empty file is told as a full disk.
const wchar_t* WriteCheckFailure(const WorkingPaths& paths);

// Ransomware shields guard kinds of file, not folders (Avast's protects "some common file types"):
// one lets a probe of one kind through and refuses the game's .png and .ogg half way through the
// install. So the check is tried again in the installation with a probe of each kind of file the
// extracted update brings, before anything of the game changes.
const wchar_t* ShippedKindsRefused(const WorkingPaths& paths, const std::wstring& extractionRoot);
