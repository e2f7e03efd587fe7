#include "bench/bench_scene.h"

#include <algorithm>
#include <cmath>

namespace tav::bench {
namespace {

// 0 outside the subject, 1 inside, linear across the edge.
double Coverage(int x, int y, int width, int height) {
    double dx = x - width * 0.5, dy = y - height * 0.55;
    double distance = std::sqrt(dx * dx + dy * dy);
    double radius = std::min(width, height) * 0.35;
    return std::clamp((radius - distance) / 40.0 + 0.5, 0.0, 1.0);
}

}  // namespace

std::vector<uint8_t> MakeBlueScreenScene(int width, int height) {
    std::vector<uint8_t> image(size_t(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            int grain = int(noise >> 28) - 8;
            double c = Coverage(x, y, width, height);
            double light = 0.8 + 0.2 * double(x) / width;
            double screen[3] = {20 * light, 40 * light, 230 * light};
            double subject[3] = {200.0 + (x & 31), 150.0 + (y & 15), 110.0};
            uint8_t* p = &image[(size_t(y) * width + x) * 3];
            for (int k = 0; k < 3; ++k)
                p[k] = uint8_t(std::clamp(int(screen[k] + (subject[k] - screen[k]) * c) + grain, 0, 255));
        }
    }
    return image;
}

std::vector<uint8_t> MakeSceneMatte(int width, int height) {
    std::vector<uint8_t> matte(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            matte[size_t(y) * width + x] = uint8_t(Coverage(x, y, width, height) * 255.0);
    return matte;
}

}  // namespace tav::bench
