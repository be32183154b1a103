#pragma once

#include <windows.h>

#include "display/progress_state.h"

// The taskbar button mirrors the bar, like the progress dialogs players know from Windows.
// Main thread only, with COM initialised there. Every call is a no-op where the taskbar
// interface is unavailable.
bool IsTaskbarButtonCreatedMessage(UINT message);
// Called when the button exists (again, after the shell restarts); shows the current state.
void AttachTaskbarProgress(HWND window, const ProgressState& state);
void UpdateTaskbarProgress(HWND window, const ProgressState& state);
// Releases the interface; called before the window goes.
void DetachTaskbarProgress();
