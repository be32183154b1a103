#include "global_progress.h"

#include <gtest/gtest.h>

#include "display/progress_state.h"

namespace {

class GlobalProgressEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { InitializeCriticalSection(&Progress().lock); }
    void TearDown() override { DeleteCriticalSection(&Progress().lock); }
};

const ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new GlobalProgressEnvironment);

}  // namespace

void ResetGlobalProgress() {
    ProgressState& progress = Progress();
    progress.window = nullptr;
    progress.percent = 0;
    progress.failed = false;
    progress.phase = static_cast<int>(WorkerPhase::Interruptible);
    EnterCriticalSection(&progress.lock);
    wcscpy_s(progress.statusText, kStatusTextCapacity, L"Starting...");
    LeaveCriticalSection(&progress.lock);
}
