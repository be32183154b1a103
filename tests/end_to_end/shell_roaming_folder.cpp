// Kept apart: the shell header declares a type named Folder, as the archive writer does.
#include <windows.h>
#include <shlobj.h>

#include <string>

std::wstring ShellRoamingFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return {};
    }
    return folder;
}
