// The start selector: the filter run over the image.
#pragma once

namespace tav {

struct PluginState;

void StartRun(PluginState* state);

}  // namespace tav
