// The output composer over a 6000 x 4000 area in the run's 64 x 64 tiles, 4
// planes: the foreground with the matte as transparency (method 0), and the
// foreground over a 24-bit clipboard picture (method 5). The scene's matte is
// mostly fully foreground or fully screen, as keyed mattes are; softMatte
// puts a half matte everywhere, the composite's dearest case. With helpers,
// they compose the bands ahead of the tiles where the method allows (method
// 0 here) and the tiles are copied out of them; the time is the host's
// thread's (real time).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_scene.h"
#include "runtime/allocator.h"
#include "runtime/capture.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "output/compose_ahead.h"
#include "platform/posix/in_process_clipboard.h"
#include "hosts/inprocess/inprocess_host.h"

namespace {

using tav::bench::kHeight;
using tav::bench::kWidth;
constexpr int kPlanes = 4;

struct Scene {
    std::vector<uint8_t> foreground = tav::bench::MakeBlueScreenScene();
    std::vector<uint8_t> matte = tav::bench::MakeSceneMatte();
    std::vector<uint8_t> input;

    Scene() {
        // The host's image: the scene's colours with a transparency that is
        // opaque except for a band.
        input.resize(size_t(kWidth) * kHeight * kPlanes);
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
            for (int c = 0; c < 3; ++c) input[i * kPlanes + c] = foreground[i * 3 + c];
            input[i * kPlanes + 3] = (i / kWidth) % 400 < 40 ? 128 : 255;
        }
    }
};

const Scene& TheScene() {
    static const Scene scene;
    return scene;
}

// A packed 24-bit bottom-up picture of the area's size: a gradient.
void PutPictureOnClipboard() {
    const size_t rowBytes = (size_t(kWidth) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> dib(40 + rowBytes * kHeight, 0);
    auto put32 = [&](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) dib[offset + i] = uint8_t(value >> (8 * i));
    };
    put32(0, 40);
    put32(4, uint32_t(kWidth));
    put32(8, uint32_t(kHeight));
    dib[12] = 1;
    dib[14] = 24;
    for (int row = 0; row < kHeight; ++row) {
        uint8_t* p = dib.data() + 40 + rowBytes * size_t(kHeight - 1 - row);
        for (int column = 0; column < kWidth; ++column, p += 3) {
            p[0] = uint8_t(column / 24);
            p[1] = uint8_t(row / 16);
            p[2] = uint8_t((column + row) / 40);
        }
    }
    tav::platform::SetClipboardDib(dib.data(), dib.size());
}

void BM_ComposeTiles(benchmark::State& state) {
    const int method = int(state.range(0));
    const bool softMatte = state.range(1) != 0;
    const int32_t helpers = int32_t(state.range(2));
    const Scene& scene = TheScene();
    std::vector<uint8_t> halfMatte;
    if (softMatte) halfMatte.assign(scene.matte.size(), 128);
    std::vector<uint8_t> output(scene.input.size());

    std::vector<uint64_t> recordMemory(2048 / sizeof(uint64_t), 0);
    auto* record = reinterpret_cast<tav::FilterRecord*>(recordMemory.data());
    record->parameters = tav::NewMacHandle(sizeof(tav::ParameterRecord));
    tav::GetParameters(record)->OutputMethod = uint8_t(method);
    record->planes = kPlanes;
    record->filterCase = tav::filterCaseEditableTransparencyNoSelection;
    tav::SetHostRect(&record->filterRect, 0, 0, kWidth, kHeight);

    tav::PluginState plugin{};
    plugin.width = kWidth;
    plugin.height = kHeight;
    tav::ResetRunStartValues(&plugin);
    plugin.filterRecord = record;
    plugin.foregroundImage = const_cast<uint8_t*>(scene.foreground.data());
    plugin.finalMatte = softMatte ? halfMatte.data() : const_cast<uint8_t*>(scene.matte.data());

    if (method == tav::kOutputBackground) {
        PutPictureOnClipboard();
        if (tav::ProbeClipboardImage(&plugin, 0) != 1) state.SkipWithError("no usable picture");
        tav::ReadBackgroundPicture(&plugin);
    }

    // The host hands out each tile inside its own image, rows a whole image
    // row apart.
    const int32_t rowBytes = kWidth * kPlanes;
    record->inRowBytes = rowBytes;
    record->outRowBytes = rowBytes;
    for (auto _ : state) {
        tav::ComposeAhead ahead;
        if (helpers > 0) tav::StartComposeAhead(&ahead, &plugin, helpers);
        tav::FirstTile(&plugin);
        do {
            const size_t first = (size_t(record->inRect.top) * kWidth + record->inRect.left) * kPlanes;
            record->inData = const_cast<uint8_t*>(scene.input.data()) + first;
            record->outData = output.data() + first;
            if (helpers > 0)
                tav::ComposeTile(&plugin, &ahead);
            else
                tav::ComposeTile(&plugin);
        } while (tav::NextTile(&plugin));
        if (helpers > 0) tav::EndComposeAhead(&ahead);
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(
        double(kWidth) * kHeight / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);

    tav::platform::ClearClipboard();
    tav::ReleaseRunBuffers(&plugin);
    tav::inprocess::DisposeSystemHandle(record->parameters);
}
BENCHMARK(BM_ComposeTiles)
    ->ArgNames({"method", "softMatte", "helpers"})
    ->Args({0, 0, 0})
    ->Args({5, 0, 0})
    ->Args({0, 1, 0})
    ->Args({5, 1, 0})
    ->Args({0, 0, 1})
    ->Args({0, 1, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
