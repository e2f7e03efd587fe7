#include "engine/keying.h"

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

}  // namespace tav
