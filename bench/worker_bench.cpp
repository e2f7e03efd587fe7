// The matte worker on a 6000 x 4000 image: a whole background run, and how
// long a cancel request takes to stop it in each of its stages.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "bench/bench_scene.h"
#include "engine/matte_table.h"
#include "engine/worker.h"

namespace tav {
namespace {

// The step at which the stop latency is measured, and whether the worker has
// reported it: the controller sleeps until then, as the dialog's thread does
// between two changes of a setting (a controller that polls would keep a
// processor from the worker's threads).
std::atomic<int32_t> g_target{INT32_MAX};
std::atomic<int32_t> g_reached{0};

void RecordProgress(void*, int32_t done, int32_t) {
    if (done >= g_target.load(std::memory_order_relaxed) && g_reached.exchange(1) == 0) g_reached.notify_all();
}

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

// On one thread (threads:1) and on one a usable processor (threads:0).
void BM_WorkerWholeRunDefaults(benchmark::State& bm) {
    WorkerSetup setup(0, 0);
    setup.job.threads = int32_t(bm.range(0));
    for (auto _ : bm) {
        StartWorker(&setup.job);
        WaitForWorker(&setup.job);
        if (!setup.job.workerFinished) bm.SkipWithError("the worker did not finish");
    }
    bm.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6 *
                                                  double(bm.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WorkerWholeRunDefaults)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stage starts, in progress steps: keying 0..H, vertical blur H..H+W,
// horizontal blur H+W..H+W+H, choke after that.
enum Stage { kKeying, kBlurColumns, kBlurRows, kChoke };

void BM_WorkerStopLatency(benchmark::State& bm) {
    const Stage stage = Stage(bm.range(0));
    WorkerSetup setup(255, -128);
    const int32_t w = bench::kWidth, h = bench::kHeight;
    const int32_t targets[] = {h / 2, h + w / 2, h + w + h / 2, h + w + h + h / 2};
    double worst = 0;
    g_target.store(targets[stage]);
    for (auto _ : bm) {
        g_reached.store(0);
        StartWorker(&setup.job);
        g_reached.wait(0);
        auto start = std::chrono::steady_clock::now();
        StopWorker(&setup.job);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, seconds);
        bm.SetIterationTime(seconds);
    }
    bm.counters["worst_ms"] = worst * 1e3;
    g_target.store(INT32_MAX);
}
BENCHMARK(BM_WorkerStopLatency)
    ->ArgName("stage")
    ->DenseRange(kKeying, kChoke)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav
