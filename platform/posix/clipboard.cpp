// An in-process clipboard: one packed bitmap in a movable block, behind the
// same open / get / close protocol as the system's clipboard. Only one
// opener at a time; the block stays put until the clipboard is closed.
#include "platform/clipboard.h"
#include "platform/posix/in_process_clipboard.h"

#include <cstring>
#include <mutex>

namespace tav::platform {
namespace {

struct ClipboardSlot {
    std::mutex lock;
    bool open = false;
    MemoryHandle dib = nullptr;
};

ClipboardSlot& Slot() {
    static ClipboardSlot slot;
    return slot;
}

}  // namespace

bool OpenClipboard(WindowHandle) {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    if (slot.open) return false;
    slot.open = true;
    return true;
}

MemoryHandle GetClipboardDib() {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    return slot.open ? slot.dib : nullptr;
}

void CloseClipboard() {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.open = false;
}

void SetClipboardDib(const void* bytes, size_t size) {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    if (slot.open) return;
    // As on the system's clipboard, the old contents go first: when the copy
    // cannot be made the clipboard is left empty.
    FreeMovable(slot.dib);
    slot.dib = AllocMovable(size, bytes == nullptr);  // no bytes: zeros
    if (slot.dib != nullptr && bytes != nullptr && size > 0) {
        void* to = LockMovable(slot.dib);
        std::memcpy(to, bytes, size);
        UnlockMovable(slot.dib);
    }
}

void ClearClipboard() {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    if (slot.open) return;
    FreeMovable(slot.dib);
    slot.dib = nullptr;
}

}  // namespace tav::platform
