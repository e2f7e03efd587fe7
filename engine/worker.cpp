#include "engine/worker.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/blur.h"
#include "engine/choke.h"
#include "engine/split.h"
#include "platform/thread.h"

namespace tav {
namespace {

// The worker's last act on a recorded thread: hand the job back to the
// controller. `finished` tells whether the run completed.
//
// Every pass has joined its helper threads before it returned, so none is
// left when the worker gets here: the moment workerHandle says that no worker
// runs, the controller may read the result, release the buffers, start the
// next worker on the same job, or return from ENTRYPOINT, where the job's
// block is copied back to the host's and its stack frame goes away (and a
// host may then unload the plug-in). A helper still running then would write
// into buffers that are gone or already the next run's, and would race the
// next run's threads. So a finished run means finished by every thread, and
// the store of kNoWorker is the last access to the job; the wake-up that
// follows passes only the word's address.
void EndWorker(MatteJob* job, bool finished) {
    intptr_t self = LoadShared(job->workerHandle);
    if (self == kNoWorker) return;
    StoreShared(job->cancelRequest, 0);
    if (finished) StoreShared(job->workerFinished, 1);
    StoreShared(job->workerHandle, kNoWorker);
    platform::WakeWordWaiters(&job->workerHandle);
    platform::EndCurrentThread(self);
}

void WorkerThread(void* argument) { MatteWorker(static_cast<MatteJob*>(argument)); }

// Runs before the new thread does: the handle is in place before the worker
// can test it, and the priority is lowered while the thread still waits.
void RecordWorker(platform::ThreadHandle handle, void* argument) {
    auto* job = static_cast<MatteJob*>(argument);
    StoreShared(job->workerPriority, int32_t(platform::ThreadPriority::BelowNormal));
    StoreShared(job->workerHandle, intptr_t(handle));
    platform::SetThreadPriority(handle, platform::ThreadPriority::BelowNormal);
}

// Scratch memory of a stage for `*threads` threads, from the process's heap;
// for one thread when there is not enough for more (*threads is then 1), and
// none when even that cannot be had.
std::unique_ptr<unsigned char[]> Scratch(size_t (*bytes)(int32_t threads, const MatteJob& job), const MatteJob& job,
                                         int32_t* threads) {
    std::unique_ptr<unsigned char[]> memory(new (std::nothrow) unsigned char[bytes(*threads, job)]);
    if (memory == nullptr && *threads > 1) {
        *threads = 1;
        memory.reset(new (std::nothrow) unsigned char[bytes(1, job)]);
    }
    return memory;
}

size_t BlurBytes(int32_t threads, const MatteJob& job) {
    return BlurScratchBytes(job.width, job.height, job.settings.matteBlur, threads);
}
size_t ChokeBytes(int32_t threads, const MatteJob& job) {
    return ChokeScratchBytes(job.width, job.height, job.settings.matteChoke, threads);
}

// The keying pass: a piece a row, one progress step each. Without a blur the
// keyed matte is also the delivered one, and each row of it is copied into
// finalMatte while it is still in the cache.
struct KeyingKernel {
    const MatteJob* job;
    const KeySettings* settings;
    bool deliver;
};

PieceShape BeginKeyingRow(void*, int32_t, int32_t) { return PieceShape{1, 0, 1}; }

void KeyRow(void* kernel, int32_t, int32_t y, int32_t) {
    const KeyingKernel& k = *static_cast<const KeyingKernel*>(kernel);
    KeyRows(*k.job, *k.settings, y, y + 1);
    if (!k.deliver) return;
    const size_t offset = size_t(y) * size_t(k.job->width);
    std::memcpy(k.job->finalMatte + offset, k.job->rawMatte + offset, size_t(k.job->width));
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
        if (begin < end)
            KeyInsideRun(in + 3 * begin, end - begin, settings, job.matteTable, matte + begin, fg + 3 * begin);
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
    const int32_t limit = job->threads;

    KeyingKernel keying{job, &settings, s.matteBlur == 0};
    const SplitPass pass{std::max(height, 0), &keying, BeginKeyingRow, KeyRow};
    if (!RunPass(pass, PassThreads(limit, height), job, 0)) {
        EndWorker(job, false);
        return;
    }

    if (s.matteBlur != 0) {
        int32_t threads = BlurThreads(limit, width, height);
        auto scratch = Scratch(BlurBytes, *job, &threads);
        if (!BlurMatte(job->rawMatte, job->finalMatte, width, height, s.matteBlur, scratch.get(), job, threads)) {
            EndWorker(job, false);
            return;
        }
    }
    if (s.matteChoke != 0) {
        // The matte before the choke stays in finalMatte; the choke goes to
        // rawMatte, and the controller exchanges the two.
        int32_t threads = PassThreads(limit, height);
        auto scratch = Scratch(ChokeBytes, *job, &threads);
        if (!ChokeMatte(job->finalMatte, job->rawMatte, width, height, s.matteChoke, scratch.get(), job, threads)) {
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
    // The worker passes the raise on to its helpers.
    StoreShared(job->workerPriority, int32_t(platform::ThreadPriority::AboveNormal));
    platform::SetThreadPriority(handle, platform::ThreadPriority::AboveNormal);
    // Asleep rather than polling: the worker and its helpers want every
    // processor.
    while ((handle = LoadShared(job->workerHandle)) != kNoWorker) platform::WaitWhileEqual(&job->workerHandle, handle);
}

void StopWorker(MatteJob* job) {
    if (LoadShared(job->workerHandle) == kNoWorker) return;
    // Raised before the request: a worker that sees the request has seen the
    // raise, and gives it to its helpers before it waits for them.
    StoreShared(job->workerPriority, int32_t(platform::ThreadPriority::AboveNormal));
    StoreShared(job->cancelRequest, 1);
    // A stopped worker ends within a part of a pass: waiting for it awake
    // spares the wake-up from a sleep, which can take a scheduler's period.
    for (int i = 0; i < 2000 && LoadShared(job->workerHandle) != kNoWorker; ++i) platform::YieldTimeSlice();
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
