// Movable blocks on POSIX: a header in front of the data records the handle,
// so that the handle can be found from the locked address. Blocks never move.
#include "platform/memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tav::platform {
namespace {

constexpr uint32_t kBlockTag = 0x544D4F56;  // "TMOV"

struct alignas(16) BlockHeader {
    uint32_t tag;
    uint32_t lockCount;
    size_t size;
};
static_assert(sizeof(BlockHeader) % 16 == 0);

BlockHeader* HeaderOf(MemoryHandle handle) { return static_cast<BlockHeader*>(handle); }

}  // namespace

MemoryHandle AllocMovable(size_t size, bool zeroFill) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    void* raw = zeroFill ? std::calloc(1, sizeof(BlockHeader) + size)
                         : std::malloc(sizeof(BlockHeader) + size);
    if (raw == nullptr) return nullptr;
    auto* header = new (raw) BlockHeader{kBlockTag, 0, size};
    return header;
}

void* LockMovable(MemoryHandle handle) {
    if (handle == nullptr) return nullptr;
    BlockHeader* header = HeaderOf(handle);
    ++header->lockCount;
    return header + 1;
}

void UnlockMovable(MemoryHandle handle) {
    if (handle == nullptr) return;
    BlockHeader* header = HeaderOf(handle);
    if (header->lockCount > 0) --header->lockCount;
}

void FreeMovable(MemoryHandle handle) {
    if (handle == nullptr) return;
    HeaderOf(handle)->tag = 0;
    std::free(handle);
}

MemoryHandle MovableFromPointer(const void* pointer) {
    if (pointer == nullptr) return nullptr;
    auto* header = const_cast<BlockHeader*>(static_cast<const BlockHeader*>(pointer) - 1);
    return header->tag == kBlockTag ? header : nullptr;
}

size_t MovableSize(MemoryHandle handle) {
    return handle == nullptr ? 0 : HeaderOf(handle)->size;
}

}  // namespace tav::platform
