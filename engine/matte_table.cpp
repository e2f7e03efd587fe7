#include "engine/matte_table.h"

#include <cmath>

#include "engine/keying.h"
#include "host/capture.h"
#include "host/parameters.h"
#include "host/plugin_state.h"

namespace tav {

int32_t MatteTable[256];
KeyRange g_keyRange{255, 0};

void ScanKeyRange(PluginState* state) {
    if (state->keyRangeScanned) return;
    g_keyRange = KeyRange{255, 0};
    if (!CaptureImage(state)) return;  // tried again at the next build
    const ParameterRecord* p = GetParameters(state->filterRecord);
    bool green = p != nullptr && p->ScreenColor != 0;
    const uint8_t* pixel = state->sourceImage;
    int64_t count = int64_t(state->width > 0 ? state->width : 0) * (state->height > 0 ? state->height : 0);
    int32_t lo = 255, hi = 0;
    for (int64_t i = 0; i < count; ++i, pixel += 3) {
        int32_t a = RawMatteValue(pixel[0], pixel[1], pixel[2], green);
        if (a < lo) lo = a;
        if (a > hi) hi = a;
    }
    g_keyRange = KeyRange{lo, hi};
    state->keyRangeScanned = 1;
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

void BuildMatteTable(PluginState* state) {
    const ParameterRecord* p = GetParameters(state->filterRecord);
    if (p == nullptr) return;
    if (p->DynamicRange) ScanKeyRange(state);
    ComputeMatteTable(MatteTable, p->ForceBlack, p->ForceWhite, p->Gamma, p->DynamicRange != 0,
                      g_keyRange.minimum, g_keyRange.maximum);
}

}  // namespace tav
