// Helpers of the engine's tests: test mattes and a keying scene, readable
// matte differences, stages run on guarded scratch memory, and a progress log
// that can stop or hold a worker.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "engine/worker.h"
#include "platform/thread.h"
#include "tests/support.h"

namespace tav::test {

using Matte = std::vector<uint8_t>;

enum class Pattern { Noise, Sparse, Spikes, SoftEdges, Bands };

// Uniform noise; opaque samples in a transparent field (one in 23); rare
// random spikes (one in 125) in a field of 0..40, where wide windows do not
// saturate; a soft-edged disc with stray keying noise; bands.
inline Matte MakeMatte(int width, int height, Pattern pattern, uint32_t seed) {
    std::mt19937 random(seed);
    Matte matte(size_t(width) * height);
    const double cx = width * 0.4, cy = height * 0.6, radius = std::max(width, height) * 0.3 + 1.0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t noise = random();
            const double disc = std::clamp(128.0 + (radius - std::hypot(x - cx, y - cy)) * 60.0, 0.0, 255.0);
            uint8_t& m = matte[size_t(y) * width + x];
            if (pattern == Pattern::Noise) m = uint8_t(noise);
            if (pattern == Pattern::Sparse) m = noise % 23 == 0 ? 255 : 0;
            if (pattern == Pattern::Spikes) m = uint8_t(noise % 125 == 0 ? noise >> 24 : (noise >> 8) % 41);
            if (pattern == Pattern::SoftEdges) m = noise % 50 == 0 ? uint8_t(noise >> 24) : uint8_t(disc);
            if (pattern == Pattern::Bands) m = ((x / 7 + y / 5) % 3 == 0 || (x + y) % 4 == 0) ? 255 : 0;
        }
    return matte;
}

// A blue- or green-screen scene and the buffers a worker writes, unwritten:
// a subject with a soft edge, a strand, a translucent patch and a pure white
// margin in the top three rows.
struct Scene {
    static constexpr uint8_t kUnwritten = 0xEE;

    Scene(int width, int height, bool green) : rgb(size_t(width) * height * 3) {
        const int screen[3] = {15, green ? 220 : 40, green ? 50 : 225}, r2 = (width / 3) * (width / 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int dx = x - width / 2, dy = y - height / 2, d2 = dx * dx + dy * dy;
                int mix = d2 < r2 ? 255 : d2 < r2 + 4 * width ? 255 - 255 * (d2 - r2) / (4 * width) : 0;
                if (x == width / 5) mix = 160;                          // a fine strand
                if (x > width * 3 / 4 && y > height * 3 / 4) mix = 90;  // translucent patch
                const int subject[3] = {190 + (x % 40), 140 + (y % 30), 100};
                for (int p = 0; p < 3; ++p)
                    rgb[(size_t(y) * width + x) * 3 + p] =
                        uint8_t(y < 3 ? 255 : screen[p] + (subject[p] - screen[p]) * mix / 255);
            }
        foreground.assign(rgb.size(), kUnwritten);
        raw.assign(size_t(width) * height, kUnwritten);
        final = raw;
    }
    bool Untouched() const {
        auto unwritten = [](uint8_t v) { return v == kUnwritten; };
        return std::all_of(foreground.begin(), foreground.end(), unwritten) &&
               std::all_of(raw.begin(), raw.end(), unwritten) && std::all_of(final.begin(), final.end(), unwritten);
    }

    std::vector<uint8_t> rgb, foreground;
    Matte raw, final;
};

struct StageOutcome {
    bool completed;
    Matte result;
};

// Runs a blur or choke stage, stage(matte, result, scratch), from a copy of
// `in` into a result of `unwritten` bytes, with `bytes` of scratch at an odd
// address between guard bytes (or no scratch), and checks that the stage left
// the input and the guards alone.
template <typename Stage>
StageOutcome RunStage(const Matte& in, uint8_t unwritten, size_t bytes, bool withScratch, Stage stage) {
    const Matte input = in;
    constexpr uint8_t kGuard = 0xC3;
    std::vector<uint8_t> memory(bytes + 65, kGuard);
    StageOutcome out{false, Matte(in.size(), unwritten)};
    out.completed = stage(input.data(), out.result.data(), withScratch ? memory.data() + 1 : nullptr);
    EXPECT_TRUE(input == in) << "the input matte was changed";
    EXPECT_TRUE(memory[0] == kGuard && std::all_of(memory.begin() + ptrdiff_t(bytes + 1), memory.end(),
                                                   [](uint8_t b) { return b == kGuard; }))
        << "written outside the scratch memory";
    return out;
}

using Steps = std::vector<std::pair<int32_t, int32_t>>;

// Steps first .. first + count - 1 of `total`.
inline Steps StepRange(int32_t first, int32_t count, int32_t total) {
    Steps steps;
    for (int32_t i = 0; i < count; ++i) steps.emplace_back(first + i, total);
    return steps;
}

// The progress a job reports. Each step is published to the controller as
// it is reported (before its row or line is worked). At `cancelAt` the log
// asks the job to stop; at `holdAt` it holds the worker until it is asked to.
struct ProgressLog {
    void Attach(MatteJob& worker) {
        job = &worker;
        worker.progress = Record;
        worker.progressContext = this;
    }
    // Waits until step `step` has been reported.
    void WaitFor(int32_t step) {
        for (int32_t seen; (seen = reported.load()) < step;) reported.wait(seen);
    }
    static void Record(void* context, int32_t done, int32_t total) {
        auto* self = static_cast<ProgressLog*>(context);
        self->calls.emplace_back(done, total);
        self->reported.store(done);
        self->reported.notify_all();
        if (done == self->cancelAt) StoreShared(self->job->cancelRequest, int32_t(1));
        if (done == self->holdAt)
            while (LoadShared(self->job->cancelRequest) == 0) platform::YieldTimeSlice();
    }

    MatteJob* job = nullptr;
    int32_t cancelAt = -1, holdAt = -1;
    Steps calls;
    std::atomic<int32_t> reported{-1};
};

// A recorded worker as the stages see one; the handle is never used as a
// thread's.
constexpr intptr_t kFakeWorker = 0x7ffffff0;

}  // namespace tav::test
