// Helpers of the engine's tests: readable matte differences, scratch memory
// with guard bytes, and a job that records its progress and can ask itself
// to stop.
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

// A recorded worker as the stages see one; the handle is never used as a
// thread's.
constexpr intptr_t kFakeWorker = 0x7ffffff0;

}  // namespace tav::test
