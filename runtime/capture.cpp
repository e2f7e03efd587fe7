#include "runtime/capture.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/screen.h"
#include "runtime/allocator.h"
#include "runtime/plugin_state.h"

namespace tav {
namespace {

int16_t Lower(int value, int16_t limit) { return int16_t(value > limit ? limit : value); }

void ReleaseBuffer(uint8_t*& buffer) {
    FreeLargeBuffer(buffer);
    buffer = nullptr;
}

bool AllocateWorkingBuffers(PluginState* state) {
    if (state->imageBytes < 0 || state->matteBytes < 0) return false;
    auto alloc = [](int64_t size) { return static_cast<uint8_t*>(AllocLargeBuffer(uint64_t(size))); };
    state->sourceImage = alloc(state->imageBytes);
    if (state->sourceImage == nullptr) return false;
    state->foregroundImage = alloc(state->imageBytes);
    if (state->foregroundImage == nullptr) {
        ReleaseBuffer(state->sourceImage);
        return false;
    }
    state->rawMatte = alloc(state->matteBytes);
    if (state->rawMatte == nullptr) {
        ReleaseBuffer(state->sourceImage);
        ReleaseBuffer(state->foregroundImage);
        return false;
    }
    state->finalMatte = alloc(state->matteBytes);
    if (state->finalMatte == nullptr) {
        ReleaseBuffer(state->rawMatte);
        ReleaseBuffer(state->sourceImage);
        ReleaseBuffer(state->foregroundImage);
        return false;
    }
    return true;
}

// Packs the first three bytes of `count` pixels, `planes` bytes apart at
// `from`, to `to`.
inline void PackPixels(const uint8_t* from, int planes, int count, uint8_t* to) {
    for (int i = 0; i < count; ++i, from += planes, to += 3) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
    }
}

void CopyTile(PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    const Rect& in = record->inRect;
    const Rect& area = record->filterRect;
    const int planes = record->planes;
    const auto* rowStart = static_cast<const uint8_t*>(record->inData);
    const int64_t width = state->width;
    for (int y = in.top; y < in.bottom; ++y, rowStart += record->inRowBytes) {
        const uint8_t* from = rowStart;
        uint8_t* to = state->sourceImage + 3 * ((y - area.top) * width + (in.left - area.left));
        int x = in.left;
        if (planes == 4) {
            // Four bytes at a time; the fourth lands where the next pixel's
            // red goes and is overwritten by it. The last pixel copies three.
            for (; x < in.right - 1; ++x, from += 4, to += 3) std::memcpy(to, from, 4);
        }
        PackPixels(from, planes, in.right - x, to);
    }
}

// The statistics of one row of pixels, `stride` bytes apart. With four bytes
// a pixel each is read as one little-endian word, which lets the compiler
// vectorise the loop; other layouts read bytes.
template <bool fourPlanes>
void GatherRow(const uint8_t* p, int columns, int stride, uint64_t& green, uint64_t& blue, int32_t (&keys)[4]) {
    uint32_t rowGreen = 0, rowBlue = 0;
    int32_t leastGreen = keys[0], mostGreen = keys[1], leastBlue = keys[2], mostBlue = keys[3];
    for (int x = 0; x < columns; ++x) {
        int32_t r, g, b;
        if constexpr (fourPlanes) {
            static_assert(std::endian::native == std::endian::little);
            uint32_t word;
            std::memcpy(&word, p + 4 * x, 4);
            r = int32_t(word & 255), g = int32_t((word >> 8) & 255), b = int32_t((word >> 16) & 255);
        } else {
            const uint8_t* pixel = p + int64_t(stride) * x;
            r = pixel[0], g = pixel[1], b = pixel[2];
        }
        rowGreen += uint32_t(g);
        rowBlue += uint32_t(b);
        const int32_t greenKey = 2 * g - b - r, blueKey = 2 * b - g - r;
        leastGreen = std::min(leastGreen, greenKey);
        mostGreen = std::max(mostGreen, greenKey);
        leastBlue = std::min(leastBlue, blueKey);
        mostBlue = std::max(mostBlue, blueKey);
    }
    green += rowGreen;
    blue += rowBlue;
    keys[0] = leastGreen, keys[1] = mostGreen, keys[2] = leastBlue, keys[3] = mostBlue;
}

#if defined(__SSE2__)
// Copies a tile of four-byte pixels and adds it to the statistics in one pass:
// four pixels at a time, packed to twelve bytes and, for the keys, held as
// 16-bit pairs (the green key in the even half, the blue key in the odd one;
// both lie in -510..510). The few pixels left at a row's end go the plain
// way. The same bytes and figures as CopyTile and GatherTileStatistics.
void CopyAndGatherWideTile(PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    const Rect& in = record->inRect;
    const Rect& area = record->filterRect;
    CaptureStatistics& s = state->captured;
    const int columns = in.right - in.left, grouped = columns & ~3;
    const __m128i lowByte = _mm_set1_epi32(0xFF), lowPixel = _mm_set1_epi64x(0xFFFFFF),
                  highPixel = _mm_set1_epi64x(0xFFFFFF000000);
    __m128i green = _mm_setzero_si128(), blue = green;
    __m128i least = _mm_set1_epi16(INT16_MAX), most = _mm_set1_epi16(INT16_MIN);
    uint64_t tailGreen = 0, tailBlue = 0;
    int32_t keys[4] = {s.leastGreenKey, s.mostGreenKey, s.leastBlueKey, s.mostBlueKey};
    const auto* rowStart = static_cast<const uint8_t*>(record->inData);
    for (int y = in.top; y < in.bottom; ++y, rowStart += record->inRowBytes) {
        const uint8_t* from = rowStart;
        uint8_t* to = state->sourceImage + 3 * ((y - area.top) * int64_t(state->width) + (in.left - area.left));
        for (int x = 0; x < grouped; x += 4, from += 16, to += 12) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            // Two pixels in each 64-bit half become six bytes at its start;
            // the upper half's six then follow the lower half's.
            const __m128i pairs = _mm_or_si128(_mm_and_si128(v, lowPixel),
                                               _mm_and_si128(_mm_srli_epi64(v, 8), highPixel));
            const __m128i packed = _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to), packed);
            const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
            std::memcpy(to + 8, &last, 4);

            const __m128i r = _mm_and_si128(v, lowByte), g = _mm_and_si128(_mm_srli_epi32(v, 8), lowByte),
                          b = _mm_and_si128(_mm_srli_epi32(v, 16), lowByte);
            green = _mm_add_epi32(green, g);
            blue = _mm_add_epi32(blue, b);
            const __m128i screen = _mm_or_si128(g, _mm_slli_epi32(b, 16));  // (G, B)
            const __m128i other = _mm_or_si128(b, _mm_slli_epi32(g, 16));   // (B, G)
            const __m128i key = _mm_sub_epi16(_mm_sub_epi16(_mm_add_epi16(screen, screen), other),
                                              _mm_or_si128(r, _mm_slli_epi32(r, 16)));
            least = _mm_min_epi16(least, key);
            most = _mm_max_epi16(most, key);
        }
        PackPixels(from, 4, columns - grouped, to);
        if (grouped < columns) GatherRow<true>(rowStart + 4 * grouped, columns - grouped, 4, tailGreen, tailBlue, keys);
    }
    alignas(16) uint32_t sums[2][4];
    alignas(16) int16_t extremes[2][8];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums[0]), green);
    _mm_store_si128(reinterpret_cast<__m128i*>(sums[1]), blue);
    _mm_store_si128(reinterpret_cast<__m128i*>(extremes[0]), least);
    _mm_store_si128(reinterpret_cast<__m128i*>(extremes[1]), most);
    for (int i = 0; i < 4; ++i) {
        tailGreen += sums[0][i];
        tailBlue += sums[1][i];
        if (grouped == 0) continue;  // the extremes hold no pixel
        keys[0] = std::min<int32_t>(keys[0], extremes[0][2 * i]);
        keys[1] = std::max<int32_t>(keys[1], extremes[1][2 * i]);
        keys[2] = std::min<int32_t>(keys[2], extremes[0][2 * i + 1]);
        keys[3] = std::max<int32_t>(keys[3], extremes[1][2 * i + 1]);
    }
    s.greenSum += tailGreen;
    s.blueSum += tailBlue;
    s.leastGreenKey = keys[0], s.mostGreenKey = keys[1];
    s.leastBlueKey = keys[2], s.mostBlueKey = keys[3];
}
#endif

// Adds the tile just copied to the capture's statistics, reading the host's
// tile while it is still in the cache.
void GatherTileStatistics(PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    const Rect& in = record->inRect;
    CaptureStatistics& s = state->captured;
    const int columns = in.right - in.left;
    uint64_t green = 0, blue = 0;
    int32_t keys[4] = {s.leastGreenKey, s.mostGreenKey, s.leastBlueKey, s.mostBlueKey};
    const auto* row = static_cast<const uint8_t*>(record->inData);
    for (int y = in.top; y < in.bottom; ++y, row += record->inRowBytes) {
        if (record->planes == 4) GatherRow<true>(row, columns, 4, green, blue, keys);
        else GatherRow<false>(row, columns, record->planes, green, blue, keys);
    }
    s.greenSum += green;
    s.blueSum += blue;
    s.leastGreenKey = keys[0], s.mostGreenKey = keys[1];
    s.leastBlueKey = keys[2], s.mostBlueKey = keys[3];
}

}  // namespace

void FirstTile(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    const Rect& area = record->filterRect;
    Rect& in = record->inRect;
    in.top = area.top;
    in.left = area.left;
    in.bottom = Lower(area.top + kTileSize, area.bottom);
    in.right = Lower(area.left + kTileSize, area.right);
    record->inLoPlane = 0;
    record->inHiPlane = int16_t(record->planes - 1);
    record->outRect = in;
    record->outLoPlane = record->inLoPlane;
    record->outHiPlane = record->inHiPlane;
    record->inputRate = kFixedOne;
    record->maskRate = kFixedOne;
}

bool NextTile(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    const Rect& area = record->filterRect;
    Rect& in = record->inRect;
    // In 32 bits: near the end of the 16-bit range, one more tile step would
    // wrap to a negative coordinate. Every value stored back lies inside the
    // area, so it fits.
    int32_t left = int32_t(in.left) + kTileSize;
    int32_t top = in.top;
    if (left >= area.right) {
        left = area.left;
        top += kTileSize;
    }
    in.left = int16_t(left);
    in.right = Lower(left + kTileSize, area.right);
    if (top >= area.bottom) {
        // The walk is over: inRect lies below the area (held at the largest
        // coordinate when the next row would not fit), outRect is unchanged.
        in.top = Lower(top, INT16_MAX);
        in.bottom = Lower(top + kTileSize, INT16_MAX);
        return false;
    }
    in.top = int16_t(top);
    in.bottom = Lower(top + kTileSize, area.bottom);
    record->outRect = in;
    return true;
}

bool CaptureImage(PluginState* state) {
    if (state->sourceImage != nullptr && !state->captureIncomplete) return true;
    if (state->sourceImage == nullptr) {
        if (!AllocateWorkingBuffers(state)) return false;
        PrefaultLargeBuffer(state->sourceImage);
    }
    FilterRecord* record = state->filterRecord;
    state->captured = CaptureStatistics{0, 0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    if (state->width > 0 && state->height > 0) {
        FirstTile(state);
        do {
            OSErr code = record->advanceState ? record->advanceState() : OSErr(filterBadParameters);
            if (code != noErr) {
                state->captureIncomplete = code;
                return false;
            }
#if defined(__SSE2__)
            if (record->planes == 4) {
                CopyAndGatherWideTile(state);
                continue;
            }
#endif
            CopyTile(state);
            GatherTileStatistics(state);
        } while (NextTile(state));
    }
    state->captureIncomplete = 0;
    ComputeContentBounds(state);
    return true;
}

void PrefaultWorkerBuffers(PluginState* state) {
    PrefaultLargeBuffer(state->foregroundImage);
    PrefaultLargeBuffer(state->rawMatte);
    PrefaultLargeBuffer(state->finalMatte);
}

void ComputeContentBounds(PluginState* state) {
    const Rect& area = state->filterRecord->filterRect;
    const int64_t width = std::max(state->width, 0);
    const int64_t height = std::max(state->height, 0);
    auto white = [](const uint8_t* p) { return (p[0] & p[1] & p[2]) == 255; };
    auto row = [&](int64_t y) { return state->sourceImage + 3 * y * width; };
    auto rowHasContent = [&](int64_t y) {
        const uint8_t* p = row(y);
        for (int64_t x = 0; x < width; ++x, p += 3)
            if (!white(p)) return true;
        return false;
    };

    int64_t top = 0;
    while (top < height && !rowHasContent(top)) ++top;
    int64_t bottom = height;
    while (bottom > top && !rowHasContent(bottom - 1)) --bottom;
    // Rows outside top..bottom are white: the columns need only those rows.
    int64_t left = width, right = left;
    if (top < bottom) {
        right = 0;
        for (int64_t y = top; y < bottom; ++y) {
            const uint8_t* p = row(y);
            int64_t x = 0;
            while (x < left && white(p + 3 * x)) ++x;
            left = std::min(left, x);
            int64_t last = width;
            while (last > right && white(p + 3 * (last - 1))) --last;
            right = std::max(right, last);
        }
    }

    state->contentTop = int32_t(area.top + top);
    state->contentBottom = int32_t(area.top + bottom);
    state->contentLeft = int32_t(area.left + left);
    state->contentRight = int32_t(area.left + right);
}

int DetectScreenColor(PluginState* state) {
    if (!CaptureImage(state)) return 0;
    // The capture added the bytes up as it copied them.
    return ScreenColorOfSums(state->captured.greenSum, state->captured.blueSum);
}

}  // namespace tav
