#include "update/roaming_folder.h"

#include <windows.h>
#include <shlobj.h>

std::wstring RoamingAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return {};
    }
    return folder;
}
