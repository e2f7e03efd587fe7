// The matte choke on a 6000 x 4000 matte: the worker's stage at several
// amounts in both directions. The cost should not depend on the amount.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/choke.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A keyed subject: an opaque figure with soft edges on a transparent screen,
// a few semi-transparent strands, and some noise left by the key.
std::vector<uint8_t> MakeSubjectMatte() {
    std::vector<uint8_t> matte(size_t(kWidth) * kHeight);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    const double cx = kWidth * 0.5, cy = kHeight * 0.55, rx = kWidth * 0.22, ry = kHeight * 0.4;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double dx = (x - cx) / rx, dy = (y - cy) / ry;
            const double inside = (1.0 - (dx * dx + dy * dy)) * 40.0;  // soft edge of a few pixels
            int value = int(std::clamp(inside * 255.0, 0.0, 255.0));
            if (value < 255 && (x * 31 + y * 17) % 97 < 3) value = std::max(value, 120);  // strands
            value += noise(random);
            matte[size_t(y) * kWidth + x] = uint8_t(std::clamp(value, 0, 255));
        }
    return matte;
}

const std::vector<uint8_t>& SubjectMatte() {
    static const std::vector<uint8_t> matte = MakeSubjectMatte();
    return matte;
}

void BM_ChokeMatte(benchmark::State& state) {
    const auto amount = int32_t(state.range(0));
    const std::vector<uint8_t>& source = SubjectMatte();
    std::vector<uint8_t> result(source.size());
    std::vector<unsigned char> scratch(tav::ChokeScratchBytes(kWidth, kHeight, amount));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tav::ChokeMatte(source.data(), result.data(), kWidth, kHeight, amount, scratch.data(), nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChokeMatte)
    ->ArgName("amount")
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Arg(128)
    ->Arg(-1)
    ->Arg(-8)
    ->Arg(-64)
    ->Arg(-128)
    ->Unit(benchmark::kMillisecond);

}  // namespace
