// The matte level curve: a 256-entry table from raw matte value to matte
// value, built from force black, force white, gamma and, with dynamic range
// on, the key range measured on the image.
#pragma once

#include <cstdint>

namespace tav {

// The smallest and largest raw matte value of an image; {255, 0} for none.
struct KeyRange {
    int32_t minimum;
    int32_t maximum;
};
constexpr KeyRange kNoKeyRange{255, 0};

// The key range of pixels whose screen key numerators 2S - O - R lie in
// [least, most] (least > most: no pixels).
KeyRange KeyRangeOf(int32_t least, int32_t most);

// The table for the given settings and key range (lo, hi are used only with
// dynamic range on).
void ComputeMatteTable(int32_t table[256], int forceBlack, int forceWhite, int gamma,
                       bool dynamicRange, int32_t lo, int32_t hi);

}  // namespace tav
