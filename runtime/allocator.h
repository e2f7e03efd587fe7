// Large working buffers, the system's two-level handles and the host
// rectangle setter.
#pragma once

#include <cstdint>

#include "interface/host_interface.h"
#include "platform/file_mapping.h"

namespace tav {

// Blocks of this size or more live in memory-mapped temporary files.
constexpr uint64_t kFileBackedThreshold = 0x100000;
constexpr int kBufferSlotCount = 16;

struct BufferSlot {
    char path[platform::kMaxPath];
    void* view;  // null: the slot is free
    platform::FileHandle file;
    platform::MappingHandle mapping;
};

// A block of `size` bytes (not zero-filled), or null. Sizes are 64-bit so
// that an area too large to address is refused rather than wrapped.
void* AllocLargeBuffer(uint64_t size);
// The slot whose view is at `address`, or null.
BufferSlot* FindBufferSlot(const void* address);
// A hint that every byte of the block is about to be written (see
// platform::PrefaultView); small blocks and null are ignored.
void PrefaultLargeBuffer(void* address);
// Releases a block of either kind; null is ignored.
void FreeLargeBuffer(void* address);
// Index of `slot` in the table (for tests and diagnostics).
int BufferSlotIndex(const BufferSlot* slot);

// MacHandle: a master record {data address, 'FOTO'}; both blocks zero-filled.
struct MacMaster {
    void* data;
    uint32_t tag;
};
constexpr uint32_t kMacHandleTag = FourCC("FOTO");

Handle NewMacHandle(uint32_t size);

inline void* MacHandleData(Handle handle) { return handle ? *handle : nullptr; }

// Stores the four values into the host rectangle's places.
void SetHostRect(Rect* rect, int left, int top, int right, int bottom);

}  // namespace tav
