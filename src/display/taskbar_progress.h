#pragma once

#include <windows.h>

#include "display/progress_state.h"

// The taskbar button mirrors the bar, like the progress dialogs players know from Windows.
// Every call is a no-op where the taskbar interface is unavailable.
bool IsTaskbarButtonCreatedMessage(UINT message);
void AttachTaskbarProgress(HWND window);
void UpdateTaskbarProgress(HWND window, const ProgressState& state);
void DetachTaskbarProgress();
