// The matte worker: keys every pixel of the filtered area, blurs and chokes
// the matte, on a thread of its own with helper threads for each pass (see
// engine/split.h); and the operations with which the controlling thread
// starts, stops and awaits it. Everything the worker reads and writes is in
// its job.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/keying.h"

namespace tav {

constexpr intptr_t kNoWorker = -1;

struct MatteJob {
    // The filtered area: sourceImage is read, the others are written. RGB
    // images of 3 bytes a pixel and mattes of 1, rows packed.
    const uint8_t* sourceImage;
    uint8_t* foregroundImage;
    uint8_t* rawMatte;
    uint8_t* finalMatte;
    int32_t width;
    int32_t height;
    // The content bounds relative to the area's top-left corner (right and
    // bottom exclusive): pixels outside are keyed as pure screen.
    int32_t insideLeft, insideTop, insideRight, insideBottom;
    MatteSettings settings;
    int32_t matteTable[256];  // the job's own copy of the level table
    // Told of progress on the worker's thread while reportProgress is set.
    void (*progress)(void* context, int32_t done, int32_t total);
    void* progressContext;
    // The most threads a pass of the run uses, the worker's included; 0: one
    // a processor the process may run on.
    int32_t threads;

    // Shared with the controller without a lock: read and written through
    // LoadShared and StoreShared only.
    intptr_t workerHandle;  // kNoWorker: no worker runs
    int32_t cancelRequest;
    int32_t workerFinished;  // the last run completed for these settings
    int32_t reportProgress;
    int32_t progressBase;
    int32_t progressTotal;
    // Set by a completed run that choked: the delivered matte went into
    // rawMatte and the matte before the choke stayed in finalMatte. The
    // controller exchanges its buffers accordingly.
    int32_t mattesExchanged;
    // The worker's priority (a platform::ThreadPriority), which its helpers
    // take on: lowered when it starts, raised while the controller waits.
    int32_t workerPriority;
    // The worker's helper threads that have not ended yet: 0 whenever no pass
    // is under way, and so whenever no worker runs.
    int32_t helperThreads;
};

// The words shared by two threads without a lock go through these.
template <typename T>
inline T LoadShared(T& word) {
    return std::atomic_ref<T>(word).load(std::memory_order_acquire);
}
template <typename T>
inline void StoreShared(T& word, T value) {
    std::atomic_ref<T>(word).store(value, std::memory_order_release);
}

// A job with no worker and nothing to key.
MatteJob IdleMatteJob();

// The worker's body. Run on a recorded thread (workerHandle set) it ends by
// storing kNoWorker in workerHandle; called directly (workerHandle
// kNoWorker) it simply returns.
void MatteWorker(MatteJob* job);

// True when a recorded worker has been asked to stop. The pass driver tests
// this between the parts of a pass and stops it when it is set.
bool CancelRequested(const MatteJob* job);

// Reports `done` of progressTotal steps when the worker is to report progress.
void ReportWorkerProgress(MatteJob* job, int32_t done);

// Waits until no worker runs, raising a running worker's priority (and its
// helpers') first. The waiting thread sleeps until the worker ends.
void WaitForWorker(MatteJob* job);
// Asks a running worker to stop and waits for it.
void StopWorker(MatteJob* job);
// Starts a worker in the background on the job as it stands; no worker may be
// running. workerFinished is cleared; a thread that cannot be made leaves
// workerHandle at kNoWorker.
void StartWorker(MatteJob* job);

// Keys rows [y0, y1) of the area into foregroundImage and rawMatte.
void KeyRows(const MatteJob& job, const KeySettings& settings, int32_t y0, int32_t y1);

}  // namespace tav
