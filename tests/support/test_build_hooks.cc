// Linked into the test builds of the updater and into the test programs in place of the
// shipping per-user folder lookup. Everything here is driven by variables the tests set.
#include <windows.h>

#include <string>

#include "display/progress_state.h"
#include "update/roaming_folder.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(value);
}

// Holds the worker at a chosen point, so a test can press keys or end the process while the
// worker is exactly there instead of relying on timing:
//   MOSSHARBOR_TEST_HOLD_STATUS   the status text to stop at
//   MOSSHARBOR_TEST_HOLD_PERCENT  ...once the percentage has reached this value
//   MOSSHARBOR_TEST_HOLD_MARKER   a file created once the worker is held
//   MOSSHARBOR_TEST_HOLD_RELEASE  a file whose appearance lets the worker go on
struct HoldPoint {
    std::wstring status = Variable(L"MOSSHARBOR_TEST_HOLD_STATUS");
    int percent = _wtoi(Variable(L"MOSSHARBOR_TEST_HOLD_PERCENT").c_str());
    std::wstring marker = Variable(L"MOSSHARBOR_TEST_HOLD_MARKER");
    std::wstring release = Variable(L"MOSSHARBOR_TEST_HOLD_RELEASE");
    bool reached = false;
};

void HoldWorkerWhenReached(const ProgressState& state, void* context) {
    auto* hold = static_cast<HoldPoint*>(context);
    if (hold->reached || hold->status != state.statusText || state.percent.load() < hold->percent) {
        return;
    }
    hold->reached = true;
    HANDLE marker = CreateFileW(hold->marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
    }
    while (GetFileAttributesW(hold->release.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Sleep(20);
    }
}

const bool kHoldInstalled = [] {
    static HoldPoint hold;
    if (!hold.status.empty() && !hold.marker.empty() && !hold.release.empty()) {
        Progress().observer = HoldWorkerWhenReached;
        Progress().observerContext = &hold;
    }
    return true;
}();

}  // namespace

// Without the variable there is no roaming folder, so nothing is ever migrated into a real
// player's folder.
std::wstring RoamingAppDataFolder() {
    return Variable(L"MOSSHARBOR_TEST_ROAMING_FOLDER");
}
