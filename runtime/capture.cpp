#include "runtime/capture.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/screen.h"
#include "engine/worker.h"
#include "runtime/allocator.h"
#include "runtime/handoff.h"
#include "runtime/plugin_state.h"
#include "platform/thread.h"

namespace tav {
namespace {

// The statistics of no pixel: every figure a pixel's can only raise or lower.
constexpr CaptureStatistics kNoPixels{0, 0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};

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

// A tile's bytes: `rect` of the image, its rows `rowBytes` apart from `data`.
struct TileBytes {
    const uint8_t* data;
    int32_t rowBytes;
    Rect rect;
};

void CopyTile(PluginState* state, const TileBytes& tile) {
    const Rect& in = tile.rect;
    const Rect& area = state->filterRecord->filterRect;
    const int planes = state->filterRecord->planes;
    const uint8_t* rowStart = tile.data;
    const int64_t width = state->width;
    for (int y = in.top; y < in.bottom; ++y, rowStart += tile.rowBytes) {
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
void CopyAndGatherWideTile(PluginState* state, const TileBytes& tile, CaptureStatistics& s) {
    const Rect& in = tile.rect;
    const Rect& area = state->filterRecord->filterRect;
    const int columns = in.right - in.left, grouped = columns & ~3;
    const __m128i lowByte = _mm_set1_epi32(0xFF), lowPixel = _mm_set1_epi64x(0xFFFFFF),
                  highPixel = _mm_set1_epi64x(0xFFFFFF000000);
    __m128i green = _mm_setzero_si128(), blue = green;
    __m128i least = _mm_set1_epi16(INT16_MAX), most = _mm_set1_epi16(INT16_MIN);
    uint64_t tailGreen = 0, tailBlue = 0;
    int32_t keys[4] = {s.leastGreenKey, s.mostGreenKey, s.leastBlueKey, s.mostBlueKey};
    const uint8_t* rowStart = tile.data;
    for (int y = in.top; y < in.bottom; ++y, rowStart += tile.rowBytes) {
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

// Adds the tile just copied to the statistics, reading the tile while it is
// still in the cache.
void GatherTileStatistics(int planes, const TileBytes& tile, CaptureStatistics& s) {
    const Rect& in = tile.rect;
    const int columns = in.right - in.left;
    uint64_t green = 0, blue = 0;
    int32_t keys[4] = {s.leastGreenKey, s.mostGreenKey, s.leastBlueKey, s.mostBlueKey};
    const uint8_t* row = tile.data;
    for (int y = in.top; y < in.bottom; ++y, row += tile.rowBytes) {
        if (planes == 4) GatherRow<true>(row, columns, 4, green, blue, keys);
        else GatherRow<false>(row, columns, planes, green, blue, keys);
    }
    s.greenSum += green;
    s.blueSum += blue;
    s.leastGreenKey = keys[0], s.mostGreenKey = keys[1];
    s.leastBlueKey = keys[2], s.mostBlueKey = keys[3];
}

// Copies a tile into the source image and adds it to `statistics`.
void PackTile(PluginState* state, const TileBytes& tile, CaptureStatistics& statistics) {
#if defined(__SSE2__)
    if (state->filterRecord->planes == 4) {
        CopyAndGatherWideTile(state, tile, statistics);
        return;
    }
#endif
    CopyTile(state, tile);
    GatherTileStatistics(state->filterRecord->planes, tile, statistics);
}

// ---- Packing beside the host's thread ---------------------------------------------

// The host's thread asks for the tiles and copies each, as the host hands it
// out, into a ring of slots; a helper packs them from there into the source
// image and counts them. Two processors then share the walk: the host's
// requests and copies on one, the packing on the other.
constexpr intptr_t kQueueSlots = 32;  // tiles in flight: 512 KiB of four-byte pixels
constexpr intptr_t kHandOver = 8;     // tiles handed over at a time

struct CaptureQueue {
    PluginState* state;
    uint8_t* slots;
    size_t slotBytes;
    TileBytes tiles[kQueueSlots];
    intptr_t published;  // tiles handed to the helper
    intptr_t packed;     // tiles it has packed
    intptr_t stop;       // set by the host's thread: the helper ends
    CaptureStatistics statistics;  // of the tiles the helper has packed
    platform::ThreadHandle helper;
};

void PackQueuedTiles(void* argument) {
    CaptureQueue& q = *static_cast<CaptureQueue*>(argument);
    for (intptr_t done = 0;;) {
        WaitUntilAtLeast(&q.published, done + 1, &q.stop);
        const intptr_t ready = LoadShared(q.published);
        if (ready <= done) return;  // stopped
        for (; done < ready; ++done) PackTile(q.state, q.tiles[done % kQueueSlots], q.statistics);
        StoreShared(q.packed, done);
        platform::WakeWordWaiters(&q.packed);
    }
}

// Starts the helper for a walk of more than one tile when another processor
// is there; false (and nothing to end) otherwise.
bool StartCaptureQueue(CaptureQueue* q, PluginState* state) {
    *q = CaptureQueue{};
    const FilterRecord* record = state->filterRecord;
    if (int64_t(state->width) * state->height <= int64_t(kTileSize) * kTileSize || record->planes < 1 ||
        platform::UsableProcessorCount() < 2)
        return false;
    q->state = state;
    q->slotBytes = size_t(kTileSize) * kTileSize * size_t(record->planes);
    q->slots = new (std::nothrow) uint8_t[size_t(kQueueSlots) * q->slotBytes];
    if (q->slots == nullptr) return false;
    q->statistics = kNoPixels;
    q->helper = platform::StartHelperThread(PackQueuedTiles, q);
    if (q->helper != platform::kNoThread) return true;
    delete[] q->slots;
    return false;
}

// Copies the tile `index` of the walk, which the host has just handed out,
// into its slot, once the helper is done with the tile there before.
void QueueTile(CaptureQueue* q, intptr_t index) {
    const FilterRecord* record = q->state->filterRecord;
    WaitUntilAtLeast(&q->packed, index - kQueueSlots + 1, nullptr);
    const Rect& in = record->inRect;
    const size_t rowBytes = size_t(in.right - in.left) * size_t(record->planes);
    uint8_t* slot = q->slots + size_t(index % kQueueSlots) * q->slotBytes;
    const auto* from = static_cast<const uint8_t*>(record->inData);
    for (int y = in.top; y < in.bottom; ++y, from += record->inRowBytes)
        std::memcpy(slot + size_t(y - in.top) * rowBytes, from, rowBytes);
    q->tiles[index % kQueueSlots] = TileBytes{slot, int32_t(rowBytes), in};
    if ((index + 1) % kHandOver == 0) {
        StoreShared(q->published, index + 1);
        platform::WakeWordWaiters(&q->published);
    }
}

// Ends the helper: after it has packed the walk's `count` tiles when the
// walk is complete, at once when it is not. Adds its statistics to the
// capture's.
void EndCaptureQueue(CaptureQueue* q, intptr_t count, bool complete) {
    if (complete) {
        StoreShared(q->published, count);
        platform::WakeWordWaiters(&q->published);
        WaitUntilAtLeast(&q->packed, count, nullptr);
    }
    StoreShared(q->stop, intptr_t(1));
    platform::WakeWordWaiters(&q->published);
    platform::JoinHelperThread(q->helper);
    delete[] q->slots;
    CaptureStatistics& s = q->state->captured;
    const CaptureStatistics& h = q->statistics;
    s.greenSum += h.greenSum;
    s.blueSum += h.blueSum;
    s.leastGreenKey = std::min(s.leastGreenKey, h.leastGreenKey);
    s.mostGreenKey = std::max(s.mostGreenKey, h.mostGreenKey);
    s.leastBlueKey = std::min(s.leastBlueKey, h.leastBlueKey);
    s.mostBlueKey = std::max(s.mostBlueKey, h.mostBlueKey);
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
    state->captured = kNoPixels;
    if (state->width > 0 && state->height > 0) {
        CaptureQueue queue;
        const bool queued = StartCaptureQueue(&queue, state);
        intptr_t tiles = 0;
        FirstTile(state);
        do {
            OSErr code = record->advanceState ? record->advanceState() : OSErr(filterBadParameters);
            if (code != noErr) {
                if (queued) EndCaptureQueue(&queue, tiles, false);
                state->captureIncomplete = code;
                return false;
            }
            if (queued) {
                QueueTile(&queue, tiles);
            } else {
                const TileBytes tile{static_cast<const uint8_t*>(record->inData), record->inRowBytes, record->inRect};
                PackTile(state, tile, state->captured);
            }
            ++tiles;
        } while (NextTile(state));
        if (queued) EndCaptureQueue(&queue, tiles, true);
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
