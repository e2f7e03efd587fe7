#include "engine/worker.h"

#include "host/plugin_state.h"
#include "platform/thread.h"

namespace tav {

void WaitForWorker(PluginState* state) {
    intptr_t handle = LoadShared(state->workerHandle);
    if (handle == kNoWorker) return;
    platform::SetThreadPriority(handle, platform::ThreadPriority::AboveNormal);
    while (LoadShared(state->workerHandle) != kNoWorker) platform::YieldProcessor();
}

void StopWorker(PluginState* state) {
    if (LoadShared(state->workerHandle) == kNoWorker) return;
    StoreShared(state->cancelRequest, 1);
    WaitForWorker(state);
}

}  // namespace tav
