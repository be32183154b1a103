#include "update/worker.h"

#include "tools/unique_handle.h"
#include "update/roaming_folder.h"

DWORD RunUpdate(std::unique_ptr<UpdateJob> job, ProgressState& progress,
                const std::wstring& roamingFolder) {
    (void)roamingFolder;
    job.reset();
    MarkWorkerEnded(progress);
    return 0;
}

DWORD WINAPI WorkerThread(void* job) {
    return RunUpdate(std::unique_ptr<UpdateJob>(static_cast<UpdateJob*>(job)), Progress(),
                     RoamingAppDataFolder());
}

bool StartWorker(std::unique_ptr<UpdateJob> job) {
    UniqueHandle thread(CreateThread(nullptr, 0, WorkerThread, job.get(), 0, nullptr));
    if (!thread) {
        return false;
    }
    job.release();  // the worker owns it now
    return true;
}
