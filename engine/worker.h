// Control of the matte worker thread.
#pragma once

namespace tav {

struct PluginState;

// Waits until no worker runs, raising a running worker's priority first.
void WaitForWorker(PluginState* state);
// Asks a running worker to stop and waits for it.
void StopWorker(PluginState* state);

}  // namespace tav
