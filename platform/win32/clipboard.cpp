#include "platform/clipboard.h"

#include <windows.h>

namespace tav::platform {

static_assert(CF_DIB == kClipboardFormatDib);

bool OpenClipboard(WindowHandle owner) {
    return ::OpenClipboard(reinterpret_cast<HWND>(owner)) != FALSE;
}

MemoryHandle GetClipboardDib() { return ::GetClipboardData(CF_DIB); }

void CloseClipboard() { ::CloseClipboard(); }

}  // namespace tav::platform
