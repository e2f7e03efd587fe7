// Message boxes on POSIX: there is no window system to show them in, so the
// message goes to standard error as "caption: text".
#include "platform/message_box.h"

#include <cstdio>

namespace tav::platform {

void ShowMessageBox(WindowHandle, const char* text, const char* caption, MessageIcon) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
}

}  // namespace tav::platform
