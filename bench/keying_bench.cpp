// The keying pass: every pixel of a 6000 x 4000 image through KeyPixel,
// writing the foreground and the raw matte, on one thread.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_scene.h"
#include "engine/keying.h"
#include "engine/matte_table.h"
#include "engine/worker.h"

namespace tav {
namespace {

struct KeyingSetup {
    std::vector<uint8_t> source = bench::MakeBlueScreenScene();
    std::vector<uint8_t> foreground = std::vector<uint8_t>(source.size());
    std::vector<uint8_t> matte = std::vector<uint8_t>(source.size() / 3);
    MatteJob job = IdleMatteJob();
    MatteSettings settings{};

    KeyingSetup() {
        settings.blueRemoval = 255;
        job.sourceImage = source.data();
        job.foregroundImage = foreground.data();
        job.rawMatte = matte.data();
        job.width = bench::kWidth;
        job.height = bench::kHeight;
        job.insideRight = bench::kWidth;
        job.insideBottom = bench::kHeight;
        ComputeMatteTable(job.matteTable, 0, 0, 0, false, 0, 255);
    }
};

void Run(benchmark::State& bm, const KeySettings& settings, KeyingSetup& setup) {
    for (auto _ : bm) {
        KeyRows(setup.job, settings, 0, bench::kHeight);
        benchmark::DoNotOptimize(setup.matte.data());
        benchmark::ClobberMemory();
    }
    bm.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6 *
                                                  double(bm.iterations()),
                                              benchmark::Counter::kIsRate);
}

void BM_KeyingPassDefaults(benchmark::State& bm) {
    static KeyingSetup setup;
    Run(bm, BuildKeySettings(setup.settings), setup);
}
BENCHMARK(BM_KeyingPassDefaults)->Unit(benchmark::kMillisecond);

void BM_KeyingPassEverySetting(benchmark::State& bm) {
    static KeyingSetup setup;
    MatteSettings p = setup.settings;
    p.correctionR = 20;
    p.correctionG = 40;
    p.correctionB = -90;
    p.protection = 30;
    p.restoreR = 250;
    p.restoreG = 240;
    p.restoreB = 200;
    p.blueRemoval = 200;
    Run(bm, BuildKeySettings(p), setup);
}
BENCHMARK(BM_KeyingPassEverySetting)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav
