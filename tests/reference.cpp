#include "tests/reference.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "engine/exp.h"

namespace tav::reference {
namespace {

int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int Raw(int r, int g, int b, bool green) {
    int s = green ? g : b, o = green ? b : g;
    return 255 - Clamp((2 * s - o - r) / 2);
}

}  // namespace

Keyed KeyPixel(const MatteSettings& p, const int32_t* table, int r, int g, int b, bool inside) {
    const bool green = p.screenColor != 0;
    if (!inside) {
        r = 0;
        g = green ? 255 : 0;
        b = green ? 0 : 255;
    }
    bool within = false;
    int ac = 0;
    if (p.correctionR + p.correctionG + p.correctionB != 0) {
        int rho = p.correctionR * p.correctionR + p.correctionG * p.correctionG +
                  p.correctionB * p.correctionB;
        int refG = green ? 255 : 0, refB = green ? 0 : 255;
        int d2 = (0 - r) * (0 - r) + (refG - g) * (refG - g) + (refB - b) * (refB - b);
        if (d2 <= rho) {
            within = true;
            ac = Raw(Clamp(r + p.correctionR), Clamp(g + p.correctionG), Clamp(b + p.correctionB), green);
        }
    }
    int m = table[Raw(r, g, b, green)];
    if (within) m = Clamp(m + ac - 128);
    if (!(p.protection > 255 - m)) {
        int d = green ? g - b : b - g;
        if (green) g = b;
        else b = g;
        if (p.restoreR + p.restoreG + p.restoreB != 0) {
            r = Clamp(r + (p.restoreR * d) / 255);
            g = Clamp(g + (p.restoreG * d) / 255);
            b = Clamp(b + (p.restoreB * d) / 255);
        }
    }
    if (p.blueRemoval != 0) {
        int f = (p.blueRemoval * (m - 255)) / 255;
        r = r + (r * f) / 255;
        g = g + (g * f) / 255;
        b = b + (b * f) / 255;
    }
    return Keyed{uint8_t(m), uint8_t(r), uint8_t(g), uint8_t(b)};
}

std::array<int32_t, 256> LevelTable(int fb, int fw, int gamma, bool dynamicRange, int lo, int hi) {
    std::array<int32_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        if (i <= fb) continue;  // forced black
        if (i >= 255 - fw) {    // forced white
            table[size_t(i)] = 255;
            continue;
        }
        int level = i;
        if (dynamicRange) level = i <= lo ? 0 : i >= hi ? 255 : 255 * (i - lo) / (hi - lo);
        int x = (level - fb) * 255 / (255 - fw - fb);
        if (gamma != 0) x = x <= 0 ? 0 : int(std::pow(x / 255.0, 1.0 + gamma / 255.0) * 255.0);
        table[size_t(i)] = Clamp(x);
    }
    return table;
}

// The blur sample by sample, straight from its definition.
namespace {

struct PlainKernel {
    explicit PlainKernel(int radius) : r(radius), w(size_t(radius) + 1), q(size_t(radius) + 1) {
        const double s = double(radius * radius) * 0.3333333333333333;
        w[0] = 1.0;
        q[0] = 0.0;
        for (int i = 1; i <= radius; ++i) {
            w[size_t(i)] = CorrectlyRoundedExp(-double(i * i) / s);
            q[size_t(i)] = q[size_t(i) - 1] + w[size_t(i)];
        }
    }
    // Output at position p of a line of n samples, value(i) giving sample i.
    template <typename F>
    uint8_t Sample(F value, int n, int p) const {
        const int lo = -std::min(p, r);
        const int hi = std::min(r, n - 1 - p);
        double num = 0.0;
        for (int k = lo; k <= hi; ++k) num = num + double(value(p + k)) * w[size_t(std::abs(k))];
        const double den = (q[size_t(-lo)] + q[size_t(hi)]) + 1.0;
        return uint8_t(int(num / den));
    }
    int r;
    std::vector<double> w, q;
};

Matte BlurRows(Matte matte, int width, int height, int radius) {
    const PlainKernel kernel(radius);
    Matte row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        std::copy_n(matte.begin() + ptrdiff_t(y) * width, width, row.begin());
        for (int x = 0; x < width; ++x)
            matte[size_t(y) * width + x] = kernel.Sample([&](int i) { return row[size_t(i)]; }, width, x);
    }
    return matte;
}

}  // namespace

Matte BlurColumns(const Matte& in, int width, int height, int radius) {
    const PlainKernel kernel(radius);
    Matte out(in.size());
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            out[size_t(y) * width + x] =
                kernel.Sample([&](int i) { return in[size_t(i) * width + x]; }, height, y);
    return out;
}

Matte Blur(const Matte& in, int width, int height, int radius) {
    return BlurRows(BlurColumns(in, width, height, radius), width, height, radius);
}

// The choke as the system defines it, pixel by pixel: start from 0 (grow) or
// 255 (shrink) and visit the square of radius |amount| clipped at the edges,
// keeping the largest (grow) or smallest (shrink) value.
Matte Choke(const Matte& matte, int width, int height, int amount) {
    const int64_t n = amount < 0 ? -int64_t(amount) : int64_t(amount);
    Matte out(matte.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int64_t left = std::max<int64_t>(0, x - n), right = std::min<int64_t>(width - 1, x + n);
            const int64_t top = std::max<int64_t>(0, y - n), bottom = std::min<int64_t>(height - 1, y + n);
            int value = amount < 0 ? 255 : 0;
            for (int64_t row = top; row <= bottom; ++row)
                for (int64_t column = left; column <= right; ++column) {
                    const int sample = matte[size_t(row * width + column)];
                    value = amount < 0 ? std::min(value, sample) : std::max(value, sample);
                }
            out[size_t(y) * width + x] = uint8_t(value);
        }
    return out;
}

WorkerResult RunWorker(const MatteSettings& p, const int32_t* table, const std::vector<uint8_t>& rgb,
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
    Matte blurred = p.matteBlur != 0 ? Blur(keyed, width, height, p.matteBlur) : keyed;
    if (p.matteChoke != 0) {
        result.raw = blurred;
        result.final = Choke(blurred, width, height, p.matteChoke);
    } else {
        result.raw = keyed;
        result.final = blurred;
    }
    return result;
}

}  // namespace tav::reference
