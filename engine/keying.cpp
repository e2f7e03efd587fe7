#include "engine/keying.h"

namespace tav {

KeySettings PrepareCorrection(const ParameterRecord& p) {
    KeySettings s{};
    s.green = p.ScreenColor != 0;
    // The switch is the sum of the components, as stored settings have always
    // been read: a vector whose components cancel out corrects nothing.
    s.correctionOn = p.CorrectionR + p.CorrectionG + p.CorrectionB != 0;
    s.correctionR = p.CorrectionR;
    s.correctionG = p.CorrectionG;
    s.correctionB = p.CorrectionB;
    s.correctionRadius2 =
        p.CorrectionR * p.CorrectionR + p.CorrectionG * p.CorrectionG + p.CorrectionB * p.CorrectionB;
    s.protection = p.Protection;
    s.restoreR = p.RestoreR;
    s.restoreG = p.RestoreG;
    s.restoreB = p.RestoreB;
    s.restoreOn = p.RestoreR + p.RestoreG + p.RestoreB != 0;
    s.removal = p.BlueRemoval;
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
