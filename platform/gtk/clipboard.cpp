// The clipboard of the library GIMP loads: the program's
// (platform/program_clipboard.h), found among the executable's dynamic
// symbols. The picture is copied into a movable block, once for each
// generation, and read behind the same open / get / close protocol as the
// system's clipboard.
#include "platform/clipboard.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "platform/program_clipboard.h"

namespace tav::platform {
namespace {

struct ClipboardSlot {
    std::mutex lock;
    bool open = false;
    MemoryHandle copy = nullptr;
    TavriskClipboardPicture copied{};
};

ClipboardSlot& Slot() {
    static ClipboardSlot slot;
    return slot;
}

ProgramClipboardReader Reader() {
    static const auto reader = reinterpret_cast<ProgramClipboardReader>(dlsym(RTLD_DEFAULT, kProgramClipboardSymbol));
    return reader;
}

void Forget(ClipboardSlot& slot) {
    FreeMovable(slot.copy);
    slot.copy = nullptr;
    slot.copied = TavriskClipboardPicture{};
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
    if (!slot.open) return nullptr;
    TavriskClipboardPicture picture{};
    const ProgramClipboardReader reader = Reader();
    if (reader == nullptr || !reader(&picture) || picture.bytes == nullptr || picture.size == 0) {
        Forget(slot);
        return nullptr;
    }
    const TavriskClipboardPicture& had = slot.copied;
    if (slot.copy == nullptr || had.bytes != picture.bytes || had.size != picture.size ||
        had.generation != picture.generation) {
        Forget(slot);
        slot.copy = AllocMovable(picture.size, false);
        if (slot.copy == nullptr) return nullptr;
        std::memcpy(LockMovable(slot.copy), picture.bytes, picture.size);
        UnlockMovable(slot.copy);
        slot.copied = picture;
    }
    return slot.copy;
}

void CloseClipboard() {
    ClipboardSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.open = false;
}

}  // namespace tav::platform
