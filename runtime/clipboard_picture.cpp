#include "runtime/clipboard_picture.h"

#include <cstdint>

namespace tav {
namespace {

// The header's fields are little-endian and need not be aligned.
uint32_t LoadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Offsets within BITMAPINFOHEADER.
constexpr int kSizeField = 0;
constexpr int kWidthField = 4;
constexpr int kHeightField = 8;
constexpr int kBitCountField = 14;
constexpr int kCompressionField = 16;

}  // namespace

bool ReadDib(const void* block, size_t blockSize, int32_t width, int32_t height,
             DibPicture* picture) {
    if (block == nullptr || width <= 0 || height <= 0) return false;
    const uint64_t size = blockSize;
    if (size < kDibInfoHeaderSize) return false;

    const auto* header = static_cast<const uint8_t*>(block);
    const uint64_t headerSize = LoadU32(header + kSizeField);
    const int64_t dibWidth = int32_t(LoadU32(header + kWidthField));
    const int64_t dibHeight = int32_t(LoadU32(header + kHeightField));
    const uint32_t bitCount = LoadU16(header + kBitCountField);
    const uint32_t compression = LoadU32(header + kCompressionField);

    if (compression != kDibCompressionRgb) return false;
    if (bitCount != 24 && bitCount != 32) return false;
    if (dibWidth != width) return false;
    // In 64 bits the magnitude of the most negative height is representable.
    if ((dibHeight < 0 ? -dibHeight : dibHeight) != height) return false;
    if (headerSize < kDibInfoHeaderSize || headerSize > size) return false;

    // From here width and height are the caller's positive values.
    const uint64_t bytesPerPixel = bitCount / 8;
    const uint64_t rowBytes = (uint64_t(width) * bitCount + 31) / 32 * 4;
    const uint64_t lastRowBytes = uint64_t(width) * bytesPerPixel;
    const uint64_t available = size - headerSize;
    if (lastRowBytes > available) return false;
    // Rows 0 .. height - 2 at full length in front of the last one; divided
    // rather than multiplied so that nothing can overflow.
    if (height > 1 && rowBytes > (available - lastRowBytes) / uint64_t(height - 1)) return false;

    picture->bits = header + headerSize;
    picture->rowBytes = int64_t(rowBytes);
    picture->width = width;
    picture->height = height;
    picture->bytesPerPixel = int32_t(bytesPerPixel);
    picture->bottomUp = dibHeight > 0;
    return true;
}

bool ReadDibOfAnySize(const void* block, size_t blockSize, DibPicture* picture) {
    if (block == nullptr || blockSize < kDibInfoHeaderSize) return false;
    const auto* header = static_cast<const uint8_t*>(block);
    const int64_t width = int32_t(LoadU32(header + kWidthField));
    const int64_t height = int32_t(LoadU32(header + kHeightField));
    const int64_t rows = height < 0 ? -height : height;
    if (width <= 0 || width > INT32_MAX || rows <= 0 || rows > INT32_MAX) return false;
    return ReadDib(block, blockSize, int32_t(width), int32_t(rows), picture);
}

}  // namespace tav
