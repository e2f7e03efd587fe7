#include "platform/bitmap.h"

#include <windows.h>

namespace tav::platform {

void DeleteBitmap(BitmapHandle bitmap) {
    if (bitmap) DeleteObject(reinterpret_cast<HGDIOBJ>(bitmap));
}

}  // namespace tav::platform
