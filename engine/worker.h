// Control of the matte worker thread.
#pragma once

#include <cstdint>

namespace tav {

struct PluginState;

// True when a recorded worker has been asked to stop. Stages of the worker
// test this between rows or samples and return early when it is set; the
// worker then takes its cancel exit.
bool CancelRequested(PluginState* state);

// Reports `done` of `progressTotal` steps to the host when the worker is to
// report progress.
void ReportWorkerProgress(PluginState* state, int32_t done);

// Waits until no worker runs, raising a running worker's priority first.
void WaitForWorker(PluginState* state);
// Asks a running worker to stop and waits for it.
void StopWorker(PluginState* state);

}  // namespace tav
