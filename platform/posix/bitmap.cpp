#include "platform/bitmap.h"

namespace tav::platform {

// No bitmaps are made on POSIX; there is nothing to delete.
void DeleteBitmap(BitmapHandle) {}

}  // namespace tav::platform
