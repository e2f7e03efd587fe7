#include "platform/message_box.h"

#include <windows.h>

#include <atomic>

namespace tav::platform {
namespace {
std::atomic<MessageBoxSink> g_sink{nullptr};
}

void SetMessageBoxSink(MessageBoxSink sink) { g_sink.store(sink); }

void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon) {
    if (MessageBoxSink sink = g_sink.load()) {
        sink(caption ? caption : "Error", text ? text : "", icon);
        return;
    }
    UINT style = MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : MB_ICONINFORMATION);
    MessageBoxA(reinterpret_cast<HWND>(owner), text, caption, style);
}

}  // namespace tav::platform
