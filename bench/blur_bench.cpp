// The matte blur on a full-size matte: 6000 x 4000 pixels, the worker's form.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/blur.h"
#include "engine/worker.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A matte as the keying leaves it: screen (0) and subject (255), with edges a
// few pixels soft around a handful of overlapping blobs and a ragged outline.
std::vector<uint8_t> MakeRealisticMatte() {
    struct Blob {
        double cx, cy, rx, ry;
    };
    const Blob blobs[] = {
        {3000, 2600, 1400, 1500}, {2300, 1100, 520, 620}, {3900, 1300, 380, 700},
        {1200, 3300, 500, 300},   {4900, 3000, 420, 900},
    };
    std::vector<uint8_t> matte(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double inside = -1e9;  // distance inside the nearest outline, in pixels
            for (const Blob& b : blobs) {
                const double dx = (x - b.cx) / b.rx, dy = (y - b.cy) / b.ry;
                const double ragged = 1.0 + 0.02 * std::sin(x * 0.05) * std::cos(y * 0.07);
                inside = std::max(inside, (ragged - std::sqrt(dx * dx + dy * dy)) * std::min(b.rx, b.ry));
            }
            const double value = 128.0 + inside * 48.0;  // about 5 pixels of soft edge
            matte[size_t(y) * kWidth + x] = uint8_t(std::clamp(value, 0.0, 255.0));
        }
    }
    return matte;
}

const std::vector<uint8_t>& RealisticMatte() {
    static const std::vector<uint8_t> matte = MakeRealisticMatte();
    return matte;
}

// A matte, the buffer it is blurred into, the scratch, and a job for the
// worker's progress and cancel handshake.
struct BenchRun {
    explicit BenchRun(int r)
        : radius(r), raw(RealisticMatte()), blurred(raw.size()), scratch(tav::BlurScratchBytes(kWidth, kHeight, r)),
          job(tav::IdleMatteJob()) {}
    int radius;
    std::vector<uint8_t> raw, blurred;
    std::vector<unsigned char> scratch;
    tav::MatteJob job;
    bool Blur(tav::MatteJob* with) {
        return tav::BlurMatte(raw.data(), blurred.data(), kWidth, kHeight, radius, scratch.data(), with);
    }
};

void BM_BlurMatte(benchmark::State& state) {
    BenchRun run(int(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(run.Blur(nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BlurMatte)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BlurMatte)->Arg(255)->Unit(benchmark::kMillisecond)->Iterations(1);

// How long a recorded worker at radius 255 takes to notice a cancel request
// made while it is deep in a pass (the time from the request to the return).
std::atomic<int32_t> g_progressSeen{-1};
void NoteProgress(void*, int32_t done, int32_t) { g_progressSeen.store(done, std::memory_order_relaxed); }

void BM_BlurCancelLatency(benchmark::State& state) {
    BenchRun run(255);
    run.job.progress = NoteProgress;
    const int32_t wantedStep = int32_t(state.range(0));
    for (auto _ : state) {
        run.job.progressBase = 0;
        run.job.reportProgress = 1;
        run.job.progressTotal = kWidth + kHeight;
        run.job.workerHandle = 1;
        run.job.cancelRequest = 0;
        g_progressSeen.store(-1);
        std::chrono::steady_clock::time_point end;
        std::thread worker([&] {
            run.Blur(&run.job);
            end = std::chrono::steady_clock::now();
        });
        while (g_progressSeen.load(std::memory_order_relaxed) < wantedStep) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(3));  // well inside the strip's work
        const auto start = std::chrono::steady_clock::now();
        tav::StoreShared(run.job.cancelRequest, int32_t(1));
        worker.join();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
// Step 100: in the column pass; step 6100: in the row pass.
BENCHMARK(BM_BlurCancelLatency)->Arg(100)->Arg(6100)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(3);

}  // namespace
