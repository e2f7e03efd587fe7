// The yardstick for the other figures: copying a 6000 x 4000 RGB image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

void BM_MemcpyRgbImage(benchmark::State& state) {
    std::vector<unsigned char> from(size_t(kWidth) * kHeight * 3, 7), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MemcpyRgbImage)->Unit(benchmark::kMillisecond);

}  // namespace
