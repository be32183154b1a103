#include "update/working_paths.h"

#include <stdio.h>

WorkingPaths FormWorkingPaths(const UpdateJob& job) {
    WorkingPaths paths;
    _snwprintf_s(paths.extractionDir, kPathCapacity, _TRUNCATE, L"%ls\\update\\extract",
                 job.installDir);
    _snwprintf_s(paths.backupDir, kPathCapacity, _TRUNCATE, L"%ls\\update\\backup_%lu",
                 job.installDir, static_cast<unsigned long>(static_cast<uint32_t>(job.clientPid)));
    _snwprintf_s(paths.pendingVersionFile, kPathCapacity, _TRUNCATE,
                 L"%ls\\norvane_client_pending_version.txt", job.installDir);
    _snwprintf_s(paths.currentVersionFile, kPathCapacity, _TRUNCATE, L"%ls\\norvane_version.txt",
                 job.installDir);
    return paths;
}
