// The matte computation of a run, on the state block: the level table for
// the current settings, and the worker that keys the whole area with them.
#pragma once

#include "engine/keying.h"
#include "interface/parameter_record.h"

namespace tav {

struct PluginState;

// The settings the keying engine reads, from the Parameter record.
MatteSettings MatteSettingsOf(const ParameterRecord& parameters);

// Rewrites the state's level table from the Parameter record's settings.
// With dynamic range on, the key range of the captured image is measured
// first, once per run (not before the image is captured).
void BuildMatteTable(PluginState* state);

// Stops any worker, then starts one in the background on the state's
// buffers, content bounds, level table and settings. Nothing starts without
// a Parameter record.
void RestartWorker(PluginState* state);

// Waits until no worker runs. When the last one completed, its result is
// the state's: foregroundImage and finalMatte hold it (and rawMatte the
// matte before the choke).
void WaitForWorker(PluginState* state);

// Asks a running worker to stop and waits for it.
void StopWorker(PluginState* state);

}  // namespace tav
