#include "platform/clipboard.h"

#include <windows.h>

#include <cstring>

namespace tav::platform {

static_assert(CF_DIB == kClipboardFormatDib);

namespace {

// Changing the clipboard's contents needs an owner window: after
// EmptyClipboard on a clipboard opened without one, SetClipboardData may
// refuse the data. A message-only window serves for the moment of the change;
// the data stays on the clipboard when the window is destroyed.
class ChangeOwner {
public:
    ChangeOwner()
        : window_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr)) {}
    ~ChangeOwner() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    ChangeOwner(const ChangeOwner&) = delete;
    ChangeOwner& operator=(const ChangeOwner&) = delete;
    HWND window() const { return window_; }

private:
    HWND window_;
};

}  // namespace

bool OpenClipboard(WindowHandle owner) {
    return ::OpenClipboard(reinterpret_cast<HWND>(owner)) != FALSE;
}

MemoryHandle GetClipboardDib() { return ::GetClipboardData(CF_DIB); }

void CloseClipboard() { ::CloseClipboard(); }

void SetClipboardDib(const void* bytes, size_t size) {
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | (bytes == nullptr ? GMEM_ZEROINIT : 0), size);
    if (copy == nullptr) return;
    if (bytes != nullptr && size > 0) {
        void* to = GlobalLock(copy);
        if (to == nullptr) {
            GlobalFree(copy);
            return;
        }
        std::memcpy(to, bytes, size);
        GlobalUnlock(copy);
    }
    ChangeOwner owner;
    if (!::OpenClipboard(owner.window())) {
        GlobalFree(copy);
        return;
    }
    EmptyClipboard();
    // On success the clipboard owns the block; otherwise it is still ours.
    if (SetClipboardData(CF_DIB, copy) == nullptr) GlobalFree(copy);
    ::CloseClipboard();
}

void ClearClipboard() {
    ChangeOwner owner;
    if (!::OpenClipboard(owner.window())) return;
    EmptyClipboard();
    ::CloseClipboard();
}

}  // namespace tav::platform
