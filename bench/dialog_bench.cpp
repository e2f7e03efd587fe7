// The parameters dialog on a 6000 x 4000 layer, opened through the entry
// point as a host's first run opens it: the opening up to the first paint,
// a full refresh after a change, a render at 1 : 1 with the largest blur and
// choke, and OK once the background worker has finished.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/bench_scene.h"
#include "runtime/allocator.h"
#include "runtime/matte_run.h"
#include "runtime/plugin_state.h"
#include "output/preview.h"
#include "platform/posix/dialog_driver.h"
#include "resources/dialog_template.h"
#include "hosts/inprocess/inprocess_host.h"
#include "runtime/parameters.h"

namespace tav {
namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

const std::vector<uint8_t>& Layer() {
    static const std::vector<uint8_t> layer = [] {
        const std::vector<uint8_t> rgb = bench::MakeBlueScreenScene();
        std::vector<uint8_t> out(size_t(bench::kWidth) * bench::kHeight * 4);
        for (size_t i = 0, n = size_t(bench::kWidth) * bench::kHeight; i < n; ++i) {
            std::memcpy(&out[4 * i], &rgb[3 * i], 3);
            out[4 * i + 3] = 255;
        }
        return out;
    }();
    return layer;
}

std::function<void(platform::WindowHandle, PluginState*)> g_drive;
void Drive(platform::WindowHandle dialog, void*) {
    g_drive(dialog, reinterpret_cast<PluginState*>(platform::DialogParameter(dialog)));
}

// A host's first run with the dialog worked by `drive`.
int16_t RunWithDialog(const std::function<void(platform::WindowHandle, PluginState*)>& drive) {
    inprocess::InProcessHost host(ENTRYPOINT);
    host.SetImage(bench::kWidth, bench::kHeight, 4, Layer());
    host.SetFilterCase(filterCaseEditableTransparencyNoSelection);
    g_drive = drive;
    platform::SetDialogDriver(Drive, nullptr);
    const int16_t result = host.RunFilter(true);
    platform::SetDialogDriver(nullptr, nullptr);
    return result;
}

// From the start selector to the dialog's first paint: capture, screen
// detection, fit, layout (the host reducing the image), first render, worker.
void BM_DialogOpening(benchmark::State& bm) {
    for (auto _ : bm) {
        Clock::time_point start;
        double opened = 0;
        inprocess::InProcessHost host(ENTRYPOINT);
        host.SetImage(bench::kWidth, bench::kHeight, 4, Layer());
        host.Call(filterSelectorParameters);
        host.Call(filterSelectorPrepare);
        g_drive = [&](platform::WindowHandle, PluginState*) { opened = Seconds(start); };
        platform::SetDialogDriver(Drive, nullptr);
        start = Clock::now();
        host.Call(filterSelectorStart);
        host.Call(filterSelectorFinish);
        platform::SetDialogDriver(nullptr, nullptr);
        bm.SetIterationTime(opened);
    }
}
BENCHMARK(BM_DialogOpening)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// A typed value: level table, render at the fit zoom, paint, worker restart.
void BM_DialogFullRefresh(benchmark::State& bm) {
    std::vector<double> times;
    RunWithDialog([&](platform::WindowHandle dialog, PluginState*) {
        for (int i = 0; i < 40; ++i) {
            const auto start = Clock::now();
            platform::TypeText(dialog, IDC_GAMMA, std::to_string(10 + i % 2));
            times.push_back(Seconds(start));
        }
    });
    size_t i = 0;
    for (auto _ : bm) bm.SetIterationTime(times[i++ % times.size()]);
}
BENCHMARK(BM_DialogFullRefresh)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// RenderPreview of the matte at 1 : 1 with blur 255 and choke 128.
void BM_PreviewRenderLargestBlurAndChoke(benchmark::State& bm) {
    std::vector<double> times;
    RunWithDialog([&](platform::WindowHandle, PluginState* state) {
        ParameterRecord* p = GetParameters(state->filterRecord);
        p->PreviewZoom = 1;
        p->MatteBlur = 255;
        p->MatteChoke = 128;
        p->ShowMatte = 1;  // the blur and the choke show in the matte
        LayOutPreview(state);
        BuildMatteTable(state);
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            RenderPreview(state);
            times.push_back(Seconds(start));
        }
    });
    size_t i = 0;
    for (auto _ : bm) bm.SetIterationTime(times[i++ % times.size()]);
}
BENCHMARK(BM_PreviewRenderLargestBlurAndChoke)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// OK after the background worker finished: the output alone, no keying.
void BM_DialogOkAfterTheWorkerFinished(benchmark::State& bm) {
    for (auto _ : bm) {
        Clock::time_point pressed;
        RunWithDialog([&](platform::WindowHandle dialog, PluginState* state) {
            WaitForWorker(state);
            pressed = Clock::now();
            platform::PressEnter(dialog);
        });
        bm.SetIterationTime(Seconds(pressed));
    }
}
BENCHMARK(BM_DialogOkAfterTheWorkerFinished)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace tav
