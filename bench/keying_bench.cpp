// The keying pass: every pixel of a 6000 x 4000 image through KeyPixel,
// writing the foreground and the raw matte, on one thread.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/bench_scene.h"
#include "engine/keying.h"
#include "engine/matte_table.h"
#include "engine/worker.h"
#include "host/plugin_state.h"

namespace tav {
namespace {

struct KeyingSetup {
    std::vector<uint8_t> source = bench::MakeBlueScreenScene();
    std::vector<uint8_t> foreground = std::vector<uint8_t>(source.size());
    std::vector<uint8_t> matte = std::vector<uint8_t>(source.size() / 3);
    std::vector<uint8_t> recordBlock = std::vector<uint8_t>(2048);
    PluginState state{};
    ParameterRecord parameters{};

    KeyingSetup() {
        SetParameterDefaults(&parameters);
        auto* record = reinterpret_cast<FilterRecord*>(recordBlock.data());
        record->filterRect = Rect{0, 0, int16_t(bench::kHeight), int16_t(bench::kWidth)};
        state.filterRecord = record;
        state.width = bench::kWidth;
        state.height = bench::kHeight;
        state.sourceImage = source.data();
        state.foregroundImage = foreground.data();
        state.rawMatte = matte.data();
        state.workerHandle = kNoWorker;
        state.contentLeft = 0;
        state.contentTop = 0;
        state.contentRight = bench::kWidth;
        state.contentBottom = bench::kHeight;
        ComputeMatteTable(MatteTable, 0, 0, 0, false, 0, 255);
    }
};

void Run(benchmark::State& bm, const KeySettings& settings, KeyingSetup& setup) {
    for (auto _ : bm) {
        KeyRows(&setup.state, settings, 0, bench::kHeight);
        benchmark::DoNotOptimize(setup.matte.data());
        benchmark::ClobberMemory();
    }
    bm.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6 *
                                                  double(bm.iterations()),
                                              benchmark::Counter::kIsRate);
}

void BM_KeyingPassDefaults(benchmark::State& bm) {
    static KeyingSetup setup;
    Run(bm, PrepareCorrection(setup.parameters), setup);
}
BENCHMARK(BM_KeyingPassDefaults)->Unit(benchmark::kMillisecond);

void BM_KeyingPassEverySetting(benchmark::State& bm) {
    static KeyingSetup setup;
    ParameterRecord p = setup.parameters;
    p.CorrectionR = 20;
    p.CorrectionG = 40;
    p.CorrectionB = -90;
    p.Protection = 30;
    p.RestoreR = 250;
    p.RestoreG = 240;
    p.RestoreB = 200;
    p.BlueRemoval = 200;
    Run(bm, PrepareCorrection(p), setup);
}
BENCHMARK(BM_KeyingPassEverySetting)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav
