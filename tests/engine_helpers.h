// Helpers of the engine's tests: readable matte differences, scratch memory
// with guard bytes, a job that records its progress and can ask itself to
// stop, and a keying scene.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/worker.h"

namespace tav::test {

using Matte = std::vector<uint8_t>;

// Where two mattes first differ; empty when they are equal.
inline std::string FirstDifference(const Matte& got, const Matte& want, int width) {
    if (got.size() != want.size()) return "sizes differ";
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i])
            return "first difference at x=" + std::to_string(i % size_t(width)) +
                   " y=" + std::to_string(i / size_t(width)) + ": got " + std::to_string(got[i]) +
                   ", want " + std::to_string(want[i]);
    return "";
}

// Scratch memory at an odd address, with guard bytes on both sides that a
// stage writing outside its scratch would change.
class GuardedScratch {
public:
    explicit GuardedScratch(size_t bytes) : bytes_(bytes), memory_(bytes + 1 + kGuard, kFill) {}
    void* get() { return memory_.data() + 1; }
    bool GuardIntact() const {
        return memory_[0] == kFill &&
               std::all_of(memory_.begin() + ptrdiff_t(1 + bytes_), memory_.end(),
                           [](uint8_t b) { return b == kFill; });
    }

private:
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kFill = 0xC3;
    size_t bytes_;
    std::vector<uint8_t> memory_;
};

// A job that records the progress it is told of, and asks itself to stop
// when step `cancelAt` is reported.
struct RecordingJob {
    RecordingJob() : job(IdleMatteJob()) {
        job.progress = Record;
        job.progressContext = this;
    }
    RecordingJob(const RecordingJob&) = delete;
    RecordingJob& operator=(const RecordingJob&) = delete;

    static void Record(void* context, int32_t done, int32_t total) {
        auto* self = static_cast<RecordingJob*>(context);
        self->calls.emplace_back(done, total);
        if (done == self->cancelAt) StoreShared(self->job.cancelRequest, int32_t(1));
    }

    MatteJob job;
    std::vector<std::pair<int32_t, int32_t>> calls;
    int32_t cancelAt = -1;
};

// A blue- or green-screen scene: a subject with a soft edge, a strand, a
// translucent patch and a pure white margin in the top three rows.
inline std::vector<uint8_t> Scene(int width, int height, bool green) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int p = 0; p < 3; ++p) {
                const int screen[3] = {15, green ? 220 : 40, green ? 50 : 225};
                const int subject[3] = {190 + (x % 40), 140 + (y % 30), 100};
                const int dx = x - width / 2, dy = y - height / 2, d2 = dx * dx + dy * dy;
                const int r2 = (width / 3) * (width / 3);
                int mix = d2 < r2 ? 255 : d2 < r2 + 4 * width ? 255 - 255 * (d2 - r2) / (4 * width) : 0;
                if (x == width / 5) mix = 160;                          // a fine strand
                if (x > width * 3 / 4 && y > height * 3 / 4) mix = 90;  // translucent patch
                rgb[(size_t(y) * width + x) * 3 + p] =
                    uint8_t(y < 3 ? 255 : screen[p] + (subject[p] - screen[p]) * mix / 255);
            }
    return rgb;
}

// A recorded worker as the stages see one; the handle is never used as a
// thread's.
constexpr intptr_t kFakeWorker = 0x7ffffff0;

}  // namespace tav::test
