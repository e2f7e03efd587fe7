#include "platform/memory.h"

#include <windows.h>

namespace tav::platform {

MemoryHandle AllocMovable(size_t size, bool zeroFill) {
    return GlobalAlloc(GMEM_MOVEABLE | (zeroFill ? GMEM_ZEROINIT : 0), size);
}

void* LockMovable(MemoryHandle handle) { return handle ? GlobalLock(handle) : nullptr; }

void UnlockMovable(MemoryHandle handle) {
    if (handle) GlobalUnlock(handle);
}

void FreeMovable(MemoryHandle handle) {
    if (handle) GlobalFree(handle);
}

MemoryHandle MovableFromPointer(const void* pointer) {
    return pointer ? GlobalHandle(pointer) : nullptr;
}

size_t MovableSize(MemoryHandle handle) { return handle ? GlobalSize(handle) : 0; }

}  // namespace tav::platform
