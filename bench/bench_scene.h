// Synthetic scenes for the benchmarks: a subject with soft edges on a
// backing screen, at the size of a 24-megapixel photograph.
#pragma once

#include <cstdint>
#include <vector>

namespace tav::bench {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// RGB bytes: a blue screen with lighting falloff, a warm disc (the subject)
// whose edge blends into the screen over 40 pixels, and grain.
std::vector<uint8_t> MakeBlueScreenScene(int width = kWidth, int height = kHeight);

// A matte of the same scene: 0 outside, 255 inside, a ramp between.
std::vector<uint8_t> MakeSceneMatte(int width = kWidth, int height = kHeight);

}  // namespace tav::bench
