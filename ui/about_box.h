// The about box: string 1 with the caption string 2 and the information icon.
#pragma once

#include "platform/message_box.h"

namespace tav {

struct PluginState;

// Owned by `owner`, or by the host's window when 0.
void ShowAboutBox(PluginState* state, platform::WindowHandle owner);

}  // namespace tav
