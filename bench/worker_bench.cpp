// The matte worker on a 6000 x 4000 image: a whole background run, and how
// long a cancel request takes to stop it in each of its stages.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/bench_scene.h"
#include "engine/matte_table.h"
#include "engine/worker.h"
#include "host/allocator.h"
#include "host/plugin_state.h"

namespace tav {
namespace {

std::atomic<int32_t> g_lastDone{-1};

extern "C" void RecordProgress(int32_t done, int32_t) { g_lastDone.store(done, std::memory_order_relaxed); }

struct WorkerSetup {
    std::vector<uint8_t> source = bench::MakeBlueScreenScene();
    std::vector<uint8_t> foreground = std::vector<uint8_t>(source.size());
    std::vector<uint8_t> raw = std::vector<uint8_t>(source.size() / 3);
    std::vector<uint8_t> final = std::vector<uint8_t>(source.size() / 3);
    std::vector<uint8_t> recordBlock = std::vector<uint8_t>(2048);
    PluginState state{};

    WorkerSetup(int blur, int choke) {
        auto* record = reinterpret_cast<FilterRecord*>(recordBlock.data());
        record->filterRect = Rect{0, 0, int16_t(bench::kHeight), int16_t(bench::kWidth)};
        record->parameters = NewMacHandle(sizeof(ParameterRecord));
        record->progressProc = RecordProgress;
        auto* p = static_cast<ParameterRecord*>(MacHandleData(record->parameters));
        SetParameterDefaults(p);
        p->MatteBlur = uint8_t(blur);
        p->MatteChoke = choke;
        state.filterRecord = record;
        state.width = bench::kWidth;
        state.height = bench::kHeight;
        state.matteBytes = int64_t(bench::kWidth) * bench::kHeight;
        state.imageBytes = 3 * state.matteBytes;
        state.sourceImage = source.data();
        state.foregroundImage = foreground.data();
        state.rawMatte = raw.data();
        state.finalMatte = final.data();
        state.workerHandle = kNoWorker;
        state.contentRight = bench::kWidth;
        state.contentBottom = bench::kHeight;
        state.reportProgress = 1;
        ComputeMatteTable(MatteTable, 0, 0, 0, false, 0, 255);
    }
    ~WorkerSetup() { DisposeMacHandle(state.filterRecord->parameters); }
};

void BM_WorkerWholeRunDefaults(benchmark::State& bm) {
    WorkerSetup setup(0, 0);
    for (auto _ : bm) {
        RestartWorker(&setup.state);
        WaitForWorker(&setup.state);
        if (!setup.state.workerFinished) bm.SkipWithError("the worker did not finish");
    }
    bm.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6 *
                                                  double(bm.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WorkerWholeRunDefaults)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stage starts, in progress steps: keying 0..H, vertical blur H..H+W,
// horizontal blur H+W..H+W+H, choke after that.
enum Stage { kKeying, kBlurColumns, kBlurRows, kChoke };

void BM_WorkerStopLatency(benchmark::State& bm) {
    const Stage stage = Stage(bm.range(0));
    WorkerSetup setup(255, -128);
    const int32_t w = bench::kWidth, h = bench::kHeight;
    const int32_t targets[] = {h / 2, h + w / 2, h + w + h / 2, h + w + h + h / 2};
    double worst = 0;
    for (auto _ : bm) {
        g_lastDone.store(-1);
        RestartWorker(&setup.state);
        while (g_lastDone.load(std::memory_order_relaxed) < targets[stage] &&
               LoadShared(setup.state.workerHandle) != kNoWorker) {
            std::this_thread::yield();
        }
        auto start = std::chrono::steady_clock::now();
        StopWorker(&setup.state);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, seconds);
        bm.SetIterationTime(seconds);
    }
    bm.counters["worst_ms"] = worst * 1e3;
}
BENCHMARK(BM_WorkerStopLatency)
    ->ArgName("stage")
    ->DenseRange(kKeying, kChoke)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav
