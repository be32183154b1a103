#include "display/taskbar_progress.h"

#include <shobjidl.h>

namespace {

// Held from the button's creation until the window is destroyed. A plain pointer, so nothing
// is released after COM has been uninitialised at exit.
ITaskbarList3* taskbarList = nullptr;

// Every file of the install posts a repaint request; only real changes go to the shell.
int shownPercent = -1;
bool shownFailed = false;

}  // namespace

bool IsTaskbarButtonCreatedMessage(UINT message) {
    static const UINT buttonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return buttonCreated != 0 && message == buttonCreated;
}

void AttachTaskbarProgress(HWND window, const ProgressState& state) {
    DetachTaskbarProgress();
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list)))) {
        return;
    }
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    taskbarList = list;
    UpdateTaskbarProgress(window, state);
}

void UpdateTaskbarProgress(HWND window, const ProgressState& state) {
    if (taskbarList == nullptr) {
        return;
    }
    const int percent = state.percent.load();
    const bool failed = state.failed.load();
    if (percent == shownPercent && failed == shownFailed) {
        return;
    }
    taskbarList->SetProgressValue(window, static_cast<ULONGLONG>(percent), 100);
    taskbarList->SetProgressState(window, failed ? TBPF_ERROR : TBPF_NORMAL);
    shownPercent = percent;
    shownFailed = failed;
}

void DetachTaskbarProgress() {
    if (taskbarList != nullptr) {
        taskbarList->Release();
        taskbarList = nullptr;
    }
    shownPercent = -1;
    shownFailed = false;
}
