// The whole repeated-filter run through the entry point with the in-process
// host, on a 6000 x 4000 layer with default settings: capture, worker and
// composition of every tile (no file input or output). With inPlace:0 the
// host hands out tiles of its own and copies them back, as hosts with tile
// caches do; with inPlace:1 the tiles are the layer's bytes, as the keyer
// serves them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_scene.h"
#include "interface/host_interface.h"
#include "runtime/parameters.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav {
namespace {

void BM_DirectRunThroughEntryPoint(benchmark::State& bm) {
    std::vector<uint8_t> rgb = bench::MakeBlueScreenScene();
    std::vector<uint8_t> layer(size_t(bench::kWidth) * bench::kHeight * 4);
    for (size_t i = 0, n = size_t(bench::kWidth) * bench::kHeight; i < n; ++i) {
        std::memcpy(&layer[4 * i], &rgb[3 * i], 3);
        layer[4 * i + 3] = 255;
    }
    for (auto _ : bm) {
        bm.PauseTiming();
        auto host = std::make_unique<inprocess::InProcessHost>(ENTRYPOINT);
        host->SetImage(bench::kWidth, bench::kHeight, 4, layer);
        host->SetFilterCase(filterCaseEditableTransparencyNoSelection);
        host->inPlace = bm.range(0) != 0;
        host->Call(filterSelectorParameters);
        GetParameters(&host->record())->ShowDialog = 0;
        bm.ResumeTiming();
        if (host->RunFilter(false) != 0) bm.SkipWithError("the run failed");
        // The host's own teardown (its copy of the layer) is not the run's.
        bm.PauseTiming();
        host.reset();
        bm.ResumeTiming();
    }
    bm.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6 *
                                                  double(bm.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DirectRunThroughEntryPoint)->ArgName("inPlace")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace tav
