#include "engine/worker.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/blur.h"
#include "engine/choke.h"
#include "platform/thread.h"

namespace tav {
namespace {

// The worker's last act on a recorded thread: hand the job back to the
// controller. `finished` tells whether the run completed.
void EndWorker(MatteJob* job, bool finished) {
    intptr_t self = LoadShared(job->workerHandle);
    if (self == kNoWorker) return;
    StoreShared(job->cancelRequest, 0);
    if (finished) StoreShared(job->workerFinished, 1);
    StoreShared(job->workerHandle, kNoWorker);
    platform::EndCurrentThread(self);
}

void WorkerThread(void* argument) { MatteWorker(static_cast<MatteJob*>(argument)); }

// Runs before the new thread does: the handle is in place before the worker
// can test it, and the priority is lowered while the thread still waits.
void RecordWorker(platform::ThreadHandle handle, void* argument) {
    StoreShared(static_cast<MatteJob*>(argument)->workerHandle, intptr_t(handle));
    platform::SetThreadPriority(handle, platform::ThreadPriority::BelowNormal);
}

// Scratch memory of a stage, from the process's heap; none when it cannot
// be had.
std::unique_ptr<unsigned char[]> Scratch(size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

}  // namespace

MatteJob IdleMatteJob() {
    MatteJob job{};
    job.workerHandle = kNoWorker;
    return job;
}

bool CancelRequested(const MatteJob* job) {
    MatteJob* shared = const_cast<MatteJob*>(job);
    return LoadShared(shared->workerHandle) != kNoWorker && LoadShared(shared->cancelRequest) != 0;
}

void ReportWorkerProgress(MatteJob* job, int32_t done) {
    if (LoadShared(job->reportProgress) == 0 || job->progress == nullptr) return;
    job->progress(job->progressContext, done, job->progressTotal);
}

void KeyRows(const MatteJob& job, const KeySettings& settings, int32_t y0, int32_t y1) {
    const int32_t width = job.width;
    // The columns inside the content bounds.
    const int32_t insideBegin = std::clamp(job.insideLeft, 0, width);
    const int32_t insideEnd = std::clamp(job.insideRight, insideBegin, width);
    // Every pixel outside the bounds keys alike.
    const KeyedPixel outside = KeyPixel(0, 0, 0, false, settings, job.matteTable);

    for (int32_t y = y0; y < y1; ++y) {
        const int64_t offset = int64_t(y) * width;
        const uint8_t* in = job.sourceImage + 3 * offset;
        uint8_t* fg = job.foregroundImage + 3 * offset;
        uint8_t* matte = job.rawMatte + offset;
        const bool rowInside = job.insideTop <= y && y < job.insideBottom;
        const int32_t begin = rowInside ? insideBegin : width;
        const int32_t end = rowInside ? insideEnd : width;
        auto put = [&](int32_t x, const KeyedPixel& k) {
            matte[x] = k.matte;
            fg[3 * x] = k.r;
            fg[3 * x + 1] = k.g;
            fg[3 * x + 2] = k.b;
        };
        for (int32_t x = 0; x < begin; ++x) put(x, outside);
        for (int32_t x = begin; x < end; ++x)
            put(x, KeyPixel(in[3 * x], in[3 * x + 1], in[3 * x + 2], true, settings, job.matteTable));
        for (int32_t x = std::max(begin, end); x < width; ++x) put(x, outside);
    }
}

void MatteWorker(MatteJob* job) {
    job->mattesExchanged = 0;
    if (job->sourceImage == nullptr) {
        EndWorker(job, false);
        return;
    }
    const MatteSettings& s = job->settings;
    const int32_t width = job->width, height = job->height;
    job->progressBase = height;
    job->progressTotal = height + (s.matteBlur != 0 ? width + height : 0) + (s.matteChoke != 0 ? height : 0);
    const KeySettings settings = BuildKeySettings(s);

    for (int32_t y = 0; y < height; ++y) {
        if (CancelRequested(job)) {
            EndWorker(job, false);
            return;
        }
        ReportWorkerProgress(job, y);
        KeyRows(*job, settings, y, y + 1);
    }

    const size_t area = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    if (s.matteBlur != 0) {
        auto scratch = Scratch(BlurScratchBytes(width, height, s.matteBlur));
        if (!BlurMatte(job->rawMatte, job->finalMatte, width, height, s.matteBlur, scratch.get(), job)) {
            EndWorker(job, false);
            return;
        }
    } else if (area > 0) {
        std::memcpy(job->finalMatte, job->rawMatte, area);
    }
    if (s.matteChoke != 0) {
        // The matte before the choke stays in finalMatte; the choke goes to
        // rawMatte, and the controller exchanges the two.
        auto scratch = Scratch(ChokeScratchBytes(width, height, s.matteChoke));
        if (!ChokeMatte(job->finalMatte, job->rawMatte, width, height, s.matteChoke, scratch.get(), job)) {
            EndWorker(job, false);
            return;
        }
        job->mattesExchanged = 1;
    }
    EndWorker(job, true);
}

void WaitForWorker(MatteJob* job) {
    intptr_t handle = LoadShared(job->workerHandle);
    if (handle == kNoWorker) return;
    platform::SetThreadPriority(handle, platform::ThreadPriority::AboveNormal);
    while (LoadShared(job->workerHandle) != kNoWorker) platform::YieldTimeSlice();
}

void StopWorker(MatteJob* job) {
    if (LoadShared(job->workerHandle) == kNoWorker) return;
    StoreShared(job->cancelRequest, 1);
    WaitForWorker(job);
}

void StartWorker(MatteJob* job) {
    StoreShared(job->workerFinished, 0);
    StoreShared(job->cancelRequest, 0);
    job->mattesExchanged = 0;
    platform::ThreadHandle handle = platform::StartThread(WorkerThread, job, RecordWorker, job);
    if (handle == platform::kNoThread) StoreShared(job->workerHandle, kNoWorker);
}

}  // namespace tav
