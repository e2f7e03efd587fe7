// The matte choke on a 6000 x 4000 matte: the worker's stage at several
// amounts in both directions. The cost should not depend on the amount.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/choke.h"
#include "host/allocator.h"
#include "host/parameters.h"
#include "host/plugin_state.h"

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
    std::vector<uint8_t> first(source.size()), second(source.size());
    std::vector<uint64_t> recordMemory(2048 / sizeof(uint64_t), 0);
    auto* record = reinterpret_cast<tav::FilterRecord*>(recordMemory.data());
    record->parameters = tav::NewMacHandle(sizeof(tav::ParameterRecord));
    tav::GetParameters(record)->MatteChoke = amount;

    tav::PluginState plugin{};
    plugin.width = kWidth;
    plugin.height = kHeight;
    plugin.matteBytes = int64_t(source.size());
    plugin.workerHandle = tav::kNoWorker;
    plugin.filterRecord = record;
    plugin.rawMatte = first.data();
    plugin.finalMatte = second.data();

    for (auto _ : state) {
        // The stage exchanges the buffers: put the source back where it reads.
        state.PauseTiming();
        std::memcpy(plugin.finalMatte, source.data(), source.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(tav::ChokeMatte(&plugin));
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);

    auto* master = reinterpret_cast<tav::MacMaster*>(record->parameters);
    tav::FreeLargeBuffer(master->data);
    tav::FreeLargeBuffer(master);
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
