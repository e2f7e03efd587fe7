// The POSIX clipboard is held in the process: what a program puts on it is
// what the plug-in reads back (the keyer puts its background picture there).
#pragma once

#include <cstddef>

namespace tav::platform {

// Replaces the clipboard's contents with a copy of the `size` bytes at
// `bytes` (null: zeros) as a packed bitmap, or empties the clipboard. Both do
// nothing while the clipboard is held open by a reader.
void SetClipboardDib(const void* bytes, size_t size);
void ClearClipboard();

}  // namespace tav::platform
