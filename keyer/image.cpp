#include "keyer/image.h"

#include <sys/mman.h>

#include <cstring>

namespace tav::cli {

void RgbToRgba(const uint8_t* rgb, size_t pixels, uint8_t* rgba) {
    for (size_t p = 0; p < pixels; ++p, rgba += 4, rgb += 3) {
        rgba[0] = rgb[0];
        rgba[1] = rgb[1];
        rgba[2] = rgb[2];
        rgba[3] = 255;
    }
}

// "No space left on device (ENOSPC)".
std::string SystemError(int error) {
    std::string text = std::strerror(error);
    if (const char* name = strerrorname_np(error)) text += std::string(" (") + name + ")";
    return text;
}

// Large buffers are asked for in huge pages: where the system gives them only
// when asked (transparent huge pages in "madvise" mode), faulting a buffer in
// 4 KiB page by page can cost more than decoding or compressing into it.
void PreferHugePages(const void* start, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    const uintptr_t first = (uintptr_t(start) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (uintptr_t(start) + bytes) & ~(kHuge - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)start, (void)bytes;
#endif
}

bool CheckSize(int64_t width, int64_t height, const ReadOptions& options, std::string* error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        *error = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1..32767";
        return false;
    }
    if (width * height > options.maxPixels) {
        *error = "the image's " + std::to_string(width) + " x " + std::to_string(height) + " pixels exceed the budget of " +
                 std::to_string(options.maxPixels) + " (--max-pixels)";
        return false;
    }
    return true;
}

}  // namespace tav::cli
