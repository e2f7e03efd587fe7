#include "engine/worker.h"

#include "host/plugin_state.h"
#include "platform/thread.h"

namespace tav {

bool CancelRequested(PluginState* state) {
    return LoadShared(state->workerHandle) != kNoWorker && LoadShared(state->cancelRequest) != 0;
}

void ReportWorkerProgress(PluginState* state, int32_t done) {
    if (LoadShared(state->reportProgress) == 0) return;
    ProgressProc progress = state->filterRecord ? state->filterRecord->progressProc : nullptr;
    if (progress != nullptr) progress(done, state->progressTotal);
}

void WaitForWorker(PluginState* state) {
    intptr_t handle = LoadShared(state->workerHandle);
    if (handle == kNoWorker) return;
    platform::SetThreadPriority(handle, platform::ThreadPriority::AboveNormal);
    while (LoadShared(state->workerHandle) != kNoWorker) platform::YieldTimeSlice();
}

void StopWorker(PluginState* state) {
    if (LoadShared(state->workerHandle) == kNoWorker) return;
    StoreShared(state->cancelRequest, 1);
    WaitForWorker(state);
}

}  // namespace tav
