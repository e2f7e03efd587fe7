// The matte worker: keys every pixel of the filtered area, blurs and chokes
// the matte, on a thread of its own; and the operations with which the
// host's thread starts, stops and awaits it.
#pragma once

#include <cstdint>

namespace tav {

struct PluginState;
struct KeySettings;

// The worker's body. Run on a recorded thread (workerHandle set) it ends by
// storing -1 in workerHandle; called directly (workerHandle -1) it simply
// returns.
void MatteWorker(PluginState* state);

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
// Stops any worker and starts a new one in the background.
void RestartWorker(PluginState* state);

// Keys rows [y0, y1) of the filtered area (relative to its top) into
// foregroundImage and rawMatte. The worker's keying pass, row by row.
void KeyRows(PluginState* state, const KeySettings& settings, int32_t y0, int32_t y1);

}  // namespace tav
