#include "tests/reference.h"

namespace tav::reference {
namespace {

int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int Raw(int r, int g, int b, bool green) {
    int s = green ? g : b, o = green ? b : g;
    return 255 - Clamp((2 * s - o - r) / 2);
}

}  // namespace

Keyed KeyPixel(const ParameterRecord& p, const int32_t* table, int r, int g, int b, bool inside) {
    const bool green = p.ScreenColor != 0;
    if (!inside) {
        r = 0;
        g = green ? 255 : 0;
        b = green ? 0 : 255;
    }
    bool within = false;
    int ac = 0;
    if (p.CorrectionR + p.CorrectionG + p.CorrectionB != 0) {
        int rho = p.CorrectionR * p.CorrectionR + p.CorrectionG * p.CorrectionG +
                  p.CorrectionB * p.CorrectionB;
        int refG = green ? 255 : 0, refB = green ? 0 : 255;
        int d2 = (0 - r) * (0 - r) + (refG - g) * (refG - g) + (refB - b) * (refB - b);
        if (d2 <= rho) {
            within = true;
            ac = Raw(Clamp(r + p.CorrectionR), Clamp(g + p.CorrectionG), Clamp(b + p.CorrectionB), green);
        }
    }
    int m = table[Raw(r, g, b, green)];
    if (within) m = Clamp(m + ac - 128);
    if (!(p.Protection > 255 - m)) {
        int d = green ? g - b : b - g;
        if (green) g = b;
        else b = g;
        if (p.RestoreR + p.RestoreG + p.RestoreB != 0) {
            r = Clamp(r + (p.RestoreR * d) / 255);
            g = Clamp(g + (p.RestoreG * d) / 255);
            b = Clamp(b + (p.RestoreB * d) / 255);
        }
    }
    if (p.BlueRemoval != 0) {
        int f = (p.BlueRemoval * (m - 255)) / 255;
        r = r + (r * f) / 255;
        g = g + (g * f) / 255;
        b = b + (b * f) / 255;
    }
    return Keyed{uint8_t(m), uint8_t(r), uint8_t(g), uint8_t(b)};
}

}  // namespace tav::reference
