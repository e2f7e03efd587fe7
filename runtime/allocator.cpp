#include "runtime/allocator.h"

#include <cstring>

#include "platform/memory.h"

namespace tav {
namespace {

// All allocations and releases happen on the host's thread: no lock.
BufferSlot g_slots[kBufferSlotCount];
char g_tempFolder[platform::kMaxPath];

void* AllocGlobalLocked(size_t size, bool zeroFill) {
    platform::MemoryHandle block = platform::AllocMovable(size, zeroFill);
    if (block == nullptr) return nullptr;
    void* address = platform::LockMovable(block);
    if (address == nullptr) platform::FreeMovable(block);
    return address;
}

void FreeGlobalLocked(void* address) {
    platform::MemoryHandle block = platform::MovableFromPointer(address);
    if (block == nullptr) return;
    platform::UnlockMovable(block);
    platform::FreeMovable(block);
}

void* AllocFileBacked(uint64_t size) {
    int index = 0;
    while (index < kBufferSlotCount && g_slots[index].view != nullptr) ++index;
    if (index == kBufferSlotCount) return nullptr;
    if (size > uint64_t(SIZE_MAX)) return nullptr;  // cannot be mapped in this process
    BufferSlot& slot = g_slots[index];

    if (g_tempFolder[0] == '\0' && !platform::GetTempFolder(g_tempFolder, sizeof g_tempFolder)) {
        g_tempFolder[0] = '\0';
        return nullptr;
    }
    if (!platform::MakeTempFileName(g_tempFolder, "tav", unsigned(index + 1), slot.path))
        return nullptr;
    platform::FileHandle file = platform::CreateTempFile(slot.path);
    if (file == platform::kNoFile) return nullptr;
    platform::MappingHandle mapping = platform::CreateMapping(file, size);
    if (mapping == platform::kNoMapping) {
        platform::CloseTempFile(file);
        return nullptr;
    }
    void* view = platform::MapWholeView(mapping);
    if (view == nullptr) {
        platform::CloseMapping(mapping);
        platform::CloseTempFile(file);
        return nullptr;
    }
    slot.file = file;
    slot.mapping = mapping;
    slot.view = view;
    return view;
}

}  // namespace

void* AllocLargeBuffer(uint64_t size) {
    if (size < kFileBackedThreshold) return AllocGlobalLocked(size_t(size), false);
    return AllocFileBacked(size);
}

BufferSlot* FindBufferSlot(const void* address) {
    if (address == nullptr) return nullptr;
    for (BufferSlot& slot : g_slots)
        if (slot.view == address) return &slot;
    return nullptr;
}

int BufferSlotIndex(const BufferSlot* slot) {
    return slot == nullptr ? -1 : int(slot - g_slots);
}

void PrefaultLargeBuffer(void* address) {
    if (const BufferSlot* slot = FindBufferSlot(address)) platform::PrefaultView(slot->view, slot->mapping);
}

void FreeLargeBuffer(void* address) {
    if (address == nullptr) return;
    if (BufferSlot* slot = FindBufferSlot(address)) {
        platform::UnmapView(slot->view, slot->mapping);
        platform::CloseMapping(slot->mapping);
        platform::CloseTempFile(slot->file);  // deletes the file
        slot->view = nullptr;
        slot->mapping = platform::kNoMapping;
        slot->file = platform::kNoFile;
        return;
    }
    FreeGlobalLocked(address);
}

Handle NewMacHandle(uint32_t size) {
    auto* master = static_cast<MacMaster*>(AllocGlobalLocked(sizeof(MacMaster), true));
    if (master == nullptr) return nullptr;
    void* data = AllocGlobalLocked(size, true);
    if (data == nullptr) {
        FreeGlobalLocked(master);
        return nullptr;
    }
    master->data = data;
    master->tag = kMacHandleTag;
    return reinterpret_cast<Handle>(master);
}

void SetHostRect(Rect* rect, int left, int top, int right, int bottom) {
    rect->top = int16_t(top);
    rect->left = int16_t(left);
    rect->bottom = int16_t(bottom);
    rect->right = int16_t(right);
}

}  // namespace tav
