#include "display/taskbar_progress.h"

bool IsTaskbarButtonCreatedMessage(UINT) { return false; }
void AttachTaskbarProgress(HWND) {}
void UpdateTaskbarProgress(HWND, const ProgressState&) {}
void DetachTaskbarProgress() {}
