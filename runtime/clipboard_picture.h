// Packed device-independent bitmaps, as the clipboard holds them: a
// BITMAPINFOHEADER followed directly by the pixel bits. The reader trusts
// nothing in the header: a picture it accepts can be read at every pixel of
// its stated size without leaving the block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

constexpr uint32_t kDibInfoHeaderSize = 40;  // sizeof(BITMAPINFOHEADER)
constexpr uint32_t kDibCompressionRgb = 0;   // BI_RGB: uncompressed

struct DibColor {
    uint8_t r, g, b;
};

// A picture accepted by ReadDib. Rows and columns count from the picture's
// top-left pixel, whichever way its rows are stored.
struct DibPicture {
    const uint8_t* bits;    // the first stored row
    int64_t rowBytes;       // distance between stored rows (a multiple of 4)
    int32_t width;
    int32_t height;
    int32_t bytesPerPixel;  // 3 or 4; the bytes are B, G, R and, with 4, one unused
    bool bottomUp;          // positive biHeight: the top row is stored last

    // The first byte of picture row `row`. The top-down rule maps row r to
    // stored row r, the bottom-up rule to height - 1 - r; a stored row that
    // would fall outside the picture is taken as the nearest one.
    const uint8_t* Row(int32_t row) const {
        int64_t stored = bottomUp ? int64_t(height) - 1 - row : int64_t(row);
        if (stored < 0) stored = 0;
        if (stored >= height) stored = int64_t(height) - 1;
        return bits + stored * rowBytes;
    }
    // The colour of picture pixel (column, row); column must be below width.
    DibColor ColorAt(int32_t column, int32_t row) const {
        const uint8_t* pixel = Row(row) + int64_t(column) * bytesPerPixel;
        return {pixel[2], pixel[1], pixel[0]};
    }
};

// True, with `picture` filled in, when the `blockSize` bytes at `block` are a
// packed bitmap usable as a `width` x `height` picture:
//   - biCompression is BI_RGB and biBitCount is 24 or 32;
//   - biWidth equals `width` and the absolute value of biHeight equals
//     `height` (both positive);
//   - biSize is at least 40 and the pixel bits, which begin biSize bytes
//     after the header's start, lie within the block: every stored row but
//     the last at its full padded length, the last at least as far as its
//     last pixel.
// False otherwise; `picture` is then left as it was. All size arithmetic is
// 64-bit, so no header can make it wrap.
bool ReadDib(const void* block, size_t blockSize, int32_t width, int32_t height,
             DibPicture* picture);

// The same for a picture of whatever size its header states (at least one
// pixel each way): for readers that lay any picture over an area and stop
// where it ends.
bool ReadDibOfAnySize(const void* block, size_t blockSize, DibPicture* picture);

}  // namespace tav
