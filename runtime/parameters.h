// The Parameter record behind the host's `parameters` handle: reaching it,
// and making it with its defaults.
#pragma once

#include <cstdint>

#include "interface/host_interface.h"
#include "interface/parameter_record.h"

namespace tav {

struct PluginState;

// The record behind the host's `parameters` handle, or null.
ParameterRecord* GetParameters(const FilterRecord* record);

// The parameters selector: creates the record with its defaults when the host
// has none (memFullErr in the state's result when it cannot) and arms the
// dialog.
void CreateDefaultParameters(PluginState* state);

}  // namespace tav
