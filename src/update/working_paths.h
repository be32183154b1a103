#pragma once

#include "update/update_job.h"

// The paths the worker forms below installDir. The command line refuses an installDir too long
// for the longest of them, so none of these is ever cut.
struct WorkingPaths {
    wchar_t extractionDir[kPathCapacity] = {};
    wchar_t backupDir[kPathCapacity] = {};
    wchar_t pendingVersionFile[kPathCapacity] = {};
    wchar_t currentVersionFile[kPathCapacity] = {};
};

WorkingPaths FormWorkingPaths(const UpdateJob& job);
