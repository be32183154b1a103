// Linked into the test build of the updater in place of the shipping per-user folder lookup.
// Everything here is driven by environment variables that the tests set.
#include <windows.h>

#include <cstdio>
#include <string>

#include "display/progress_state.h"
#include "update/roaming_folder.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(value);
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// MOSSHARBOR_TEST_PROGRESS_LOG: every repaint request is appended as "percent failed status",
// one line each, in UTF-16.
// MOSSHARBOR_TEST_HOLD_STATUS / _PERCENT: the worker stops once both are reached, creates the
// file "<log>.held" and waits until "<log>.release" exists, so a test can press keys or kill the
// process exactly there instead of relying on timing.
void OnRepaintRequest(const ProgressState& state, void*) {
    static const std::wstring log = Variable(L"MOSSHARBOR_TEST_PROGRESS_LOG");
    static const std::wstring holdStatus = Variable(L"MOSSHARBOR_TEST_HOLD_STATUS");
    static const int holdPercent = _wtoi(Variable(L"MOSSHARBOR_TEST_HOLD_PERCENT").c_str());
    if (FILE* file = _wfopen(log.c_str(), L"ab")) {
        const std::wstring line = std::to_wstring(state.percent.load()) +
                                  (state.failed.load() ? L" 1 " : L" 0 ") + state.statusText +
                                  L"\n";
        fwrite(line.data(), sizeof(wchar_t), line.size(), file);
        fclose(file);
    }
    if (holdStatus.empty() || holdStatus != state.statusText ||
        state.percent.load() < holdPercent || Exists(log + L".held")) {
        return;
    }
    if (FILE* marker = _wfopen((log + L".held").c_str(), L"w")) {
        fclose(marker);
    }
    while (!Exists(log + L".release")) {
        Sleep(20);
    }
}

const bool kHooksInstalled = (Progress().observer = OnRepaintRequest, true);

}  // namespace

// Without the variable there is no roaming folder, so nothing is ever migrated into a real
// player's folder.
std::wstring RoamingAppDataFolder() {
    return Variable(L"MOSSHARBOR_TEST_ROAMING_FOLDER");
}
