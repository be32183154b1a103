#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "display/progress_state.h"
#include "update/update_job.h"

// Thread procedure: takes ownership of the UpdateJob passed as its argument. Returns 0 after a
// complete update and 1 after a failure.
DWORD WINAPI WorkerThread(void* job);

// The whole update, with its shared state and per-user folder passed in so that tests can run
// it in-process against their own folders.
DWORD RunUpdate(std::unique_ptr<UpdateJob> job, ProgressState& progress,
                const std::wstring& roamingFolder);

// Starts WorkerThread detached; false when the thread could not be created.
bool StartWorker(std::unique_ptr<UpdateJob> job);
