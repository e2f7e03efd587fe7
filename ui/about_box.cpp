#include "ui/about_box.h"

#include "interface/host_interface.h"
#include "runtime/plugin_state.h"
#include "platform/module.h"
#include "resources/strings.h"

namespace tav {

void ShowAboutBox(PluginState* state, platform::WindowHandle owner) {
    if (owner == 0) {
        auto* about = reinterpret_cast<const AboutRecord*>(state->filterRecord);
        if (about != nullptr && about->platformData != nullptr)
            owner = static_cast<const PlatformData*>(about->platformData)->hwnd;
    }
    char text[256];
    char caption[60];
    platform::ModuleHandle module = platform::ThisModule();
    platform::LoadStringResource(module, IDS_ABOUT, text, sizeof text);
    platform::LoadStringResource(module, IDS_CAPTION, caption, sizeof caption);
    platform::ShowMessageBox(owner, text, caption, platform::MessageIcon::Information);
}

}  // namespace tav
