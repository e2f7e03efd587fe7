// Plain reference implementations for the tests, written straight from the
// arithmetic the system defines, with no precomputation or scheduling.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/keying.h"

namespace tav::reference {

struct Keyed {
    uint8_t m, r, g, b;
};

// One pixel keyed with the settings `s` and the level table `table`.
Keyed KeyPixel(const MatteSettings& s, const int32_t* table, int r, int g, int b, bool inside);

// The level table: force black, force white, the dynamic-range stretch over
// [lo, hi], the gamma curve, clamped to a byte.
std::array<int32_t, 256> LevelTable(int forceBlack, int forceWhite, int gamma, bool dynamicRange, int lo,
                                    int hi);

using Matte = std::vector<uint8_t>;

// The separable blur of radius r: the column pass into bytes, then the row
// pass over its result.
Matte BlurColumns(const Matte& in, int width, int height, int r);
Matte Blur(const Matte& in, int width, int height, int r);

// The maximum (amount > 0) or minimum (amount < 0) over the clipped square.
Matte Choke(const Matte& in, int width, int height, int amount);

struct WorkerResult {
    std::vector<uint8_t> foreground;
    Matte raw;    // the matte before the choke
    Matte final;  // the delivered matte
};

// The whole worker run on an RGB image of the filtered area, with the
// content bounds given relative to the area and the level table `table`.
WorkerResult RunWorker(const MatteSettings& s, const int32_t* table, const std::vector<uint8_t>& rgb,
                       int width, int height, int contentLeft, int contentTop, int contentRight,
                       int contentBottom);

}  // namespace tav::reference
