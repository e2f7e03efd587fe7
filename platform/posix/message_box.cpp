// Message boxes on POSIX: there is no window system to show them in, so the
// message goes to standard error as "caption: text", or to the sink a test or
// a batch tool has set.
#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace tav::platform {
namespace {
std::atomic<MessageBoxSink> g_sink{nullptr};
}

void SetMessageBoxSink(MessageBoxSink sink) { g_sink.store(sink); }

void ShowMessageBox(WindowHandle, const char* text, const char* caption, MessageIcon icon) {
    if (caption == nullptr) caption = "Error";
    if (text == nullptr) text = "";
    if (MessageBoxSink sink = g_sink.load()) {
        sink(caption, text, icon);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace tav::platform
