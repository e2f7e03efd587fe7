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

namespace tav::platform {

// Tests and batch tools can take message boxes over: while a sink is set, a
// message box is handed to it instead of being shown, and returns at once.
using MessageBoxSink = void (*)(const char* caption, const char* text, MessageIcon icon);
void SetMessageBoxSink(MessageBoxSink sink);

}  // namespace tav::platform
