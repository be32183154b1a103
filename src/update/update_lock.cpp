#include "update/update_lock.h"

#include "tools/held_file_retry.h"

namespace {

constexpr DWORD kPollMs = 250;
// A lock being deleted as its holder ends is refused for a moment, as a real refusal is for good.
constexpr int kRefusalsWaitedFor = 8;

}  // namespace

UpdateLock TakeUpdateLock(const WorkingPaths& paths, const std::function<void()>& onWait) {
    CreateDirectoryW(paths.updateDir.c_str(), nullptr);
    const std::wstring path = paths.updateDir + L"\\updater.lock";
    UpdateLock lock;
    for (int refusals = 0;;) {
        lock.file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        const DWORD error = lock.file ? ERROR_SUCCESS : GetLastError();
        const bool refused = error == ERROR_ACCESS_DENIED && ++refusals <= kRefusalsWaitedFor;
        if (!IsHeldByAnotherProcess(error) && !refused) {
            return lock;
        }
        if (!lock.waited && !refused) {
            lock.waited = true;
            onWait();
        }
        Sleep(kPollMs);
    }
}
