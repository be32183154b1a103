#pragma once

#include <windows.h>

#include <functional>

#include "tools/unique_handle.h"
#include "update/working_paths.h"

inline constexpr wchar_t kWaitingForAnotherUpdate[] = L"Waiting for another update to finish...";

struct UpdateLock {
    UniqueFileHandle file;  // empty when the installation could not hold one
    bool waited = false;    // another updater held it first
};

// One updater per installation at a time: a launcher started twice starts two, and two would
// merge and delete each other's backups, the only copies of the player's files. The lock is a
// file in the update folder that nobody may share, deleted as it closes: Windows closes it as the
// process ends, however it ends, and a power cut leaves at most an empty file nobody holds. Named
// by the folder itself, it holds for every spelling of the installation's path. Waits as long as
// another updater holds it, calling `onWait` once. A folder that refuses the file gives no lock:
// the write check then tells the refusal.
UpdateLock TakeUpdateLock(const WorkingPaths& paths, const std::function<void()>& onWait);
