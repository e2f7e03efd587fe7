// The plug-in's entry and selector dispatch.
#pragma once

#include <cstdint>

#include "interface/host_interface.h"
#include "platform/message_box.h"

namespace tav {

struct PluginState;

// Loads the optional three-dimensional dialog controls, once, at the first
// call of the entry point (never under the system's loader lock); they are
// released when the library is unloaded.
void LoadOptionalControls();

// Shows string `id` with the stop icon and no owner.
void ShowHostRequirementMessage(unsigned id);

// True when the host offers the callback; otherwise reports the missing
// advanceState to the user and returns false.
bool CheckHostCallback(const void* callback);

// The prepare selector's sizes: 64-bit, and 0 for an empty or inverted area.
struct AreaSizes {
    int32_t width;
    int32_t height;
    int64_t imageBytes;
    int64_t matteBytes;
    int32_t bufferSpace;
};
AreaSizes ComputeAreaSizes(const Rect& filterRect);

}  // namespace tav
