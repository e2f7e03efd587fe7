#include "engine/matte_table.h"

#include <climits>
#include <cmath>

#include "engine/keying.h"

namespace tav {

KeyRange KeyRangeOf(int32_t least, int32_t most) {
    if (least > most) return kNoKeyRange;
    // The raw matte value falls as the numerator rises (the halving truncates
    // toward zero and the clamp keeps the order).
    return KeyRange{255 - Clamp255(most / 2), 255 - Clamp255(least / 2)};
}

void ComputeMatteTable(int32_t table[256], int fb, int fw, int gamma, bool dynamicRange,
                       int32_t lo, int32_t hi) {
    if (!dynamicRange) {
        lo = 0;
        hi = 255;
    }
    constexpr double kOneOver255 = 0.00392156862745098;
    const double exponent = 1.0 + gamma * kOneOver255;
    for (int32_t i = 0; i < 256; ++i) {
        int32_t entry;
        if (i <= fb) {
            entry = 0;
        } else if (i >= 255 - fw) {
            entry = 255;
        } else {
            int32_t v;
            if (!dynamicRange) v = i;
            else if (i <= lo) v = 0;
            else if (i >= hi) v = 255;
            else v = (255 * (i - lo)) / (hi - lo);
            int32_t x = ((v - fb) * 255) / (255 - fw - fb);
            if (gamma != 0) {
                x = x <= 0 ? 0 : int32_t(std::pow(x * kOneOver255, exponent) * 255);
            }
            entry = Clamp255(x);
        }
        table[i] = entry;
    }
}

}  // namespace tav
