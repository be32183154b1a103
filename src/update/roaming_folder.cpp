#include "update/roaming_folder.h"

#include <windows.h>
#include <shlobj.h>

std::wstring RoamingAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    // A roaming folder that is merely missing (deleted by the player or a cleaning tool) is made
    // anew; one redirected to a share that is offline still fails, and the caller keeps the
    // player's settings in the backup.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, folder))) {
        return {};
    }
    return folder;
}
