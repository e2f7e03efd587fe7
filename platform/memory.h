// Movable global memory: blocks reached through a handle, locked to get their
// address. Mirrors the system's global-memory services.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav::platform {

using MemoryHandle = void*;

// A movable block of `size` bytes; zero-filled when `zeroFill` is set.
// Returns null when the memory cannot be had.
MemoryHandle AllocMovable(size_t size, bool zeroFill);
// The block's address while locked; null on failure.
void* LockMovable(MemoryHandle handle);
void UnlockMovable(MemoryHandle handle);
void FreeMovable(MemoryHandle handle);
// The handle of the block whose locked address is `pointer`; null if none.
MemoryHandle MovableFromPointer(const void* pointer);
// The usable size of the block in bytes (at least what was asked for); 0 for
// a null handle. Callers bound their reads of foreign blocks with it.
size_t MovableSize(MemoryHandle handle);

}  // namespace tav::platform
