#include "platform/message_box.h"

#include <windows.h>

namespace tav::platform {

void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon) {
    UINT style = MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : MB_ICONINFORMATION);
    MessageBoxA(reinterpret_cast<HWND>(owner), text, caption, style);
}

}  // namespace tav::platform
