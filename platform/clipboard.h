// The clipboard, for the one format the plug-in reads: a packed
// device-independent bitmap (CF_DIB). The data is the system's movable
// memory; lock it with LockMovable, and find its handle again from the locked
// address with MovableFromPointer, while the clipboard is open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"

namespace tav::platform {

using WindowHandle = intptr_t;  // 0: no window (as in platform/message_box.h)

// The clipboard format number of a packed device-independent bitmap.
constexpr unsigned kClipboardFormatDib = 8;

// Opens the clipboard for reading, with `owner` as its owner window (0: none).
// False when it cannot be opened, for instance while it is already open.
bool OpenClipboard(WindowHandle owner);
// The packed bitmap on the open clipboard, or null when there is none or the
// clipboard is not open. The block belongs to the clipboard: it is only read,
// and only until CloseClipboard.
MemoryHandle GetClipboardDib();
// Closes the clipboard; nothing happens when it is not open.
void CloseClipboard();

}  // namespace tav::platform
