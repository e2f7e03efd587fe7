// The matte worker on a 6000 x 4000 image: a whole background run, and how
// long a cancel request takes to stop it in each of its stages.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "bench/bench_scene.h"
#include "engine/matte_table.h"
#include "engine/worker.h"

namespace tav {
namespace {

std::atomic<int32_t> g_lastDone{-1};

void RecordProgress(void*, int32_t done, int32_t) { g_lastDone.store(done, std::memory_order_relaxed); }

struct WorkerSetup {
    std::vector<uint8_t> source = bench::MakeBlueScreenScene();
    std::vector<uint8_t> foreground = std::vector<uint8_t>(source.size());
    std::vector<uint8_t> raw = std::vector<uint8_t>(source.size() / 3);
    std::vector<uint8_t> final = std::vector<uint8_t>(source.size() / 3);
    MatteJob job = IdleMatteJob();

    WorkerSetup(int blur, int choke) {
        job.sourceImage = source.data();
        job.foregroundImage = foreground.data();
        job.rawMatte = raw.data();
        job.finalMatte = final.data();
        job.width = bench::kWidth;
        job.height = bench::kHeight;
        job.insideRight = bench::kWidth;
        job.insideBottom = bench::kHeight;
        job.settings.blueRemoval = 255;
        job.settings.matteBlur = blur;
        job.settings.matteChoke = choke;
        job.progress = RecordProgress;
        job.reportProgress = 1;
        ComputeMatteTable(job.matteTable, 0, 0, 0, false, 0, 255);
    }
};

void BM_WorkerWholeRunDefaults(benchmark::State& bm) {
    WorkerSetup setup(0, 0);
    for (auto _ : bm) {
        StartWorker(&setup.job);
        WaitForWorker(&setup.job);
        if (!setup.job.workerFinished) bm.SkipWithError("the worker did not finish");
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
        StartWorker(&setup.job);
        while (g_lastDone.load(std::memory_order_relaxed) < targets[stage] &&
               LoadShared(setup.job.workerHandle) != kNoWorker) {
            std::this_thread::yield();
        }
        auto start = std::chrono::steady_clock::now();
        StopWorker(&setup.job);
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
