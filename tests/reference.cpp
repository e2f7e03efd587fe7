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

#include <algorithm>
#include <cmath>

#include "engine/portable_exp.h"

namespace tav::reference {

namespace {

// One output sample of a line, by the definition: clipped window, taps in
// order, double precision, truncation.
uint8_t BlurSample(const std::vector<uint8_t>& line, int p, int r) {
    const int n = int(line.size());
    const double s = double(r) * double(r) * 0.3333333333333333;
    auto w = [&](int i) { return i == 0 ? 1.0 : PortableExp(-double(i) * double(i) / s); };
    auto q = [&](int m) {
        double sum = 0.0;
        for (int i = 1; i <= m; ++i) sum = sum + w(i);
        return sum;
    };
    const int lo = -std::min(p, r), hi = std::min(r, n - 1 - p);
    double num = 0.0;
    for (int k = lo; k <= hi; ++k) num = num + double(line[size_t(p + k)]) * w(std::abs(k));
    const double den = (q(-lo) + q(hi)) + 1.0;
    return uint8_t(int(num / den));
}

}  // namespace

Matte Blur(const Matte& in, int width, int height, int r) {
    Matte mid(in.size()), out(in.size());
    std::vector<uint8_t> line;
    for (int x = 0; x < width; ++x) {
        line.clear();
        for (int y = 0; y < height; ++y) line.push_back(in[size_t(y) * width + x]);
        for (int y = 0; y < height; ++y) mid[size_t(y) * width + x] = BlurSample(line, y, r);
    }
    for (int y = 0; y < height; ++y) {
        line.assign(mid.begin() + ptrdiff_t(y) * width, mid.begin() + ptrdiff_t(y + 1) * width);
        for (int x = 0; x < width; ++x) out[size_t(y) * width + x] = BlurSample(line, x, r);
    }
    return out;
}

Matte Choke(const Matte& in, int width, int height, int amount) {
    const int n = std::abs(amount);
    Matte out(in.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int best = amount > 0 ? 0 : 255;
            for (int v = std::max(0, y - n); v <= std::min(height - 1, y + n); ++v)
                for (int u = std::max(0, x - n); u <= std::min(width - 1, x + n); ++u) {
                    int value = in[size_t(v) * width + u];
                    best = amount > 0 ? std::max(best, value) : std::min(best, value);
                }
            out[size_t(y) * width + x] = uint8_t(best);
        }
    return out;
}

WorkerResult RunWorker(const ParameterRecord& p, const int32_t* table, const std::vector<uint8_t>& rgb,
                       int width, int height, int cl, int ct, int cr, int cb) {
    WorkerResult result;
    result.foreground.resize(rgb.size());
    Matte keyed(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t i = size_t(y) * width + x;
            bool inside = cl <= x && x < cr && ct <= y && y < cb;
            Keyed k = KeyPixel(p, table, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], inside);
            keyed[i] = k.m;
            result.foreground[3 * i] = k.r;
            result.foreground[3 * i + 1] = k.g;
            result.foreground[3 * i + 2] = k.b;
        }
    Matte blurred = p.MatteBlur != 0 ? Blur(keyed, width, height, p.MatteBlur) : keyed;
    if (p.MatteChoke != 0) {
        result.raw = blurred;
        result.final = Choke(blurred, width, height, p.MatteChoke);
    } else {
        result.raw = keyed;
        result.final = blurred;
    }
    return result;
}

}  // namespace tav::reference
