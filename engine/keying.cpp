#include "engine/keying.h"

#if defined(__x86_64__) || defined(__i386__)
#include "engine/keying_avx2.h"
#define TAV_HAVE_VECTOR_KEYING 1
#endif

namespace tav {

KeySettings BuildKeySettings(const MatteSettings& p) {
    KeySettings s{};
    s.green = p.screenColor != 0;
    // The switch is the sum of the components, as stored settings have always
    // been read: a vector whose components cancel out corrects nothing.
    s.correctionOn = p.correctionR + p.correctionG + p.correctionB != 0;
    s.correctionR = p.correctionR;
    s.correctionG = p.correctionG;
    s.correctionB = p.correctionB;
    s.correctionRadius2 =
        p.correctionR * p.correctionR + p.correctionG * p.correctionG + p.correctionB * p.correctionB;
    s.protection = p.protection;
    s.restoreR = p.restoreR;
    s.restoreG = p.restoreG;
    s.restoreB = p.restoreB;
    s.restoreOn = p.restoreR + p.restoreG + p.restoreB != 0;
    s.removal = p.blueRemoval;
    const int32_t restore[3] = {s.restoreR, s.restoreG, s.restoreB};
    for (int c = 0; c < 3; ++c)
        for (int32_t d = -255; d <= 255; ++d) s.restoreAdd[c][d + 255] = int16_t((restore[c] * d) / 255);
    for (int32_t m = 0; m < 256; ++m) {
        const int32_t f = (s.removal * (m - 255)) / 255;
        for (int32_t x = 0; x < 256; ++x) s.removed[m][x] = uint8_t(x + (x * f) / 255);
    }
    return s;
}

namespace {

// The vector path computes the restore and removal tables' entries from
// their settings, for the ranges the settings have (0 to 255), and keeps the
// correction's sums in 32 bits (components up to 4096 either way).
[[maybe_unused]] bool VectorKeyingFits(const KeySettings& s) {
    auto within = [](int32_t v, int32_t low, int32_t high) { return low <= v && v <= high; };
    const bool correctionFits = !s.correctionOn || (within(s.correctionR, -4096, 4096) &&
                                                    within(s.correctionG, -4096, 4096) &&
                                                    within(s.correctionB, -4096, 4096));
    return correctionFits && within(s.restoreR, 0, 255) && within(s.restoreG, 0, 255) &&
           within(s.restoreB, 0, 255) && within(s.removal, 0, 255);
}

}  // namespace

void KeyInsideRun(const uint8_t* in, int32_t count, const KeySettings& s, const int32_t* table, uint8_t* matte,
                  uint8_t* foreground) {
    int32_t x = 0;
#if defined(TAV_HAVE_VECTOR_KEYING)
    static const bool vectorUnit = HaveAvx2();
    if (vectorUnit && VectorKeyingFits(s)) x = KeyInsideRunAvx2(in, count, s, table, matte, foreground);
#endif
    for (; x < count; ++x) {
        const uint8_t* p = in + 3 * x;
        const KeyedPixel k = KeyPixel(p[0], p[1], p[2], true, s, table);
        matte[x] = k.matte;
        foreground[3 * x] = k.r;
        foreground[3 * x + 1] = k.g;
        foreground[3 * x + 2] = k.b;
    }
}

}  // namespace tav
