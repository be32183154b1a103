#include "update/roaming_folder.h"

#include <windows.h>

// Test builds take the roaming folder from the environment the test harness sets; without
// it they have none, so nothing is ever migrated into a real player's folder.
std::wstring RoamingAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length =
        GetEnvironmentVariableW(L"MOSSHARBOR_TEST_ROAMING_FOLDER", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return folder;
}
