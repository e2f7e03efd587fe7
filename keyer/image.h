// The keyer's images in memory, and what its readers and writers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tav::cli {

// An 8-bit RGBA image, rows top to bottom.
struct Image {
    int width = 0;
    int height = 0;
    bool hadAlpha = false;  // the file carried transparency
    std::vector<uint8_t> rgba;
};

// Larger than any photograph, small enough to refuse a file that only
// claims a huge size.
constexpr int64_t kDefaultMaxPixels = 600'000'000;

struct ReadOptions {
    int64_t maxPixels = kDefaultMaxPixels;
    // Key JPEG files that libjpeg decodes only with warnings (the damaged
    // part comes out grey) instead of refusing them.
    bool acceptJpegWarnings = false;
    // Told the image's size once the file's header has given it and it lies
    // within the budget, before the pixels are decoded: the caller can make
    // ready for the image (on another thread) meanwhile.
    std::function<void(int width, int height)> sizeKnown;
};

// Widens `pixels` packed RGB pixels to opaque RGBA. The RGB pixels may lie
// in the RGBA ones' place, as far on as the last pixel's end.
void RgbToRgba(const uint8_t* rgb, size_t pixels, uint8_t* rgba);

// For the readers and writers ----------------------------------------------------

constexpr int64_t kMaxSide = 32767;  // the host's coordinates are 16-bit

// "No space left on device (ENOSPC)".
std::string SystemError(int error);

// A hint that the `bytes` at `start` are best held in huge pages.
void PreferHugePages(const void* start, size_t bytes);

// `bytes` becomes `size` zeros, in huge pages when that is large.
template <typename T>
void AssignZeros(std::vector<T>* bytes, size_t size) {
    if (bytes->capacity() < size) {
        std::vector<T> fresh;
        fresh.reserve(size);
        PreferHugePages(fresh.data(), size * sizeof(T));
        bytes->swap(fresh);
    }
    bytes->assign(size, 0);
}

// False, saying why, for a size outside 1..32767 either way or beyond the
// budget.
bool CheckSize(int64_t width, int64_t height, const ReadOptions& options, std::string* error);

}  // namespace tav::cli
