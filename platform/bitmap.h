// Bitmaps owned by the plug-in (the pick buttons' picture).
#pragma once

#include <cstdint>

namespace tav::platform {

using BitmapHandle = intptr_t;  // 0: none

void DeleteBitmap(BitmapHandle bitmap);

}  // namespace tav::platform
