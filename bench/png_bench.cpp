// Reading a 24-megapixel PNG as the keyer reads its inputs: 8-bit RGB and
// RGBA files, as the keyer's own writer makes them, read from the file (in
// the page cache after the first time) and decoded into fresh 8-bit RGBA.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "keyer/image_file.h"
#include "keyer/png_writer.h"

namespace {

std::vector<uint8_t> SceneFile(bool alpha) {
    const std::vector<uint8_t> rgb = tav::bench::MakeBlueScreenScene();
    tav::cli::Image image{tav::bench::kWidth, tav::bench::kHeight, alpha, {}};
    image.rgba.resize(rgb.size() / 3 * 4);
    tav::cli::RgbToRgba(rgb.data(), rgb.size() / 3, image.rgba.data());
    // A soft alpha ramp across the image, so that RGBA files carry one.
    if (alpha)
        for (size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = uint8_t(i / 4 % 6000 * 255 / 5999);
    std::vector<uint8_t> file;
    std::string error;
    tav::cli::EncodePng(image, {}, [&](const uint8_t* bytes, size_t size) {
        file.insert(file.end(), bytes, bytes + size);
        return true;
    }, &error);
    return file;
}

void BM_ReadPng24MP(benchmark::State& state) {
    const std::vector<uint8_t> file = SceneFile(state.range(0) != 0);
    char path[] = "/tmp/tavrisk-bench-XXXXXX.png";
    const int fd = mkstemps(path, 4);
    if (fd < 0 || write(fd, file.data(), file.size()) != ssize_t(file.size())) state.SkipWithError("no file");
    close(fd);
    std::string error;
    for (auto _ : state) {
        tav::cli::Image image;
        if (!tav::cli::ReadImage(path, {}, &image, &error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(image.rgba.data());
    }
    unlink(path);
    state.SetBytesProcessed(int64_t(state.iterations()) * tav::bench::kWidth * tav::bench::kHeight * 4);
}
// 0: RGB, 1: RGBA.
BENCHMARK(BM_ReadPng24MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
