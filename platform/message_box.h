// Message boxes.
#pragma once

#include <cstdint>

namespace tav::platform {

using WindowHandle = intptr_t;  // 0: no window

enum class MessageIcon { Information, Stop };

// Shows a modal message box with an OK button and waits until it is closed.
// `caption` null means the system's default caption.
void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon);

}  // namespace tav::platform

