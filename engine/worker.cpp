#include "engine/worker.h"

#include <algorithm>
#include <cstring>

#include "engine/blur.h"
#include "engine/choke.h"
#include "engine/keying.h"
#include "engine/matte_table.h"
#include "host/plugin_state.h"
#include "platform/thread.h"

namespace tav {
namespace {

// The worker's last act on a recorded thread: hand the state back to the
// controller. `finished` tells whether the run completed.
void EndWorker(PluginState* state, bool finished) {
    intptr_t self = LoadShared(state->workerHandle);
    if (self == kNoWorker) return;
    StoreShared(state->cancelRequest, 0);
    if (finished) StoreShared(state->workerFinished, 1);
    StoreShared(state->workerHandle, kNoWorker);
    platform::EndCurrentThread(self);
}

void WorkerThread(void* argument) { MatteWorker(static_cast<PluginState*>(argument)); }

// Runs before the new thread does: the handle is in place before the worker
// can test it, and the priority is lowered while the thread still waits.
void RecordWorker(platform::ThreadHandle handle, void* argument) {
    StoreShared(static_cast<PluginState*>(argument)->workerHandle, intptr_t(handle));
    platform::SetThreadPriority(handle, platform::ThreadPriority::BelowNormal);
}

}  // namespace

bool CancelRequested(PluginState* state) {
    return LoadShared(state->workerHandle) != kNoWorker && LoadShared(state->cancelRequest) != 0;
}

void ReportWorkerProgress(PluginState* state, int32_t done) {
    if (LoadShared(state->reportProgress) == 0) return;
    ProgressProc progress = state->filterRecord ? state->filterRecord->progressProc : nullptr;
    if (progress != nullptr) progress(done, state->progressTotal);
}

void KeyRows(PluginState* state, const KeySettings& settings, int32_t y0, int32_t y1) {
    const FilterRecord* record = state->filterRecord;
    const int32_t width = state->width;
    const int32_t left = record->filterRect.left;
    const int32_t top = record->filterRect.top;
    // The columns inside the content bounds, relative to the area's left.
    const int32_t insideBegin = std::clamp(state->contentLeft - left, 0, width);
    const int32_t insideEnd = std::clamp(state->contentRight - left, insideBegin, width);
    // Every pixel outside the bounds keys alike.
    const KeyedPixel outside = KeyPixel(0, 0, 0, false, settings, MatteTable);

    for (int32_t y = y0; y < y1; ++y) {
        const int64_t offset = int64_t(y) * width;
        const uint8_t* in = state->sourceImage + 3 * offset;
        uint8_t* fg = state->foregroundImage + 3 * offset;
        uint8_t* matte = state->rawMatte + offset;
        const bool rowInside = state->contentTop <= top + y && top + y < state->contentBottom;
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
            put(x, KeyPixel(in[3 * x], in[3 * x + 1], in[3 * x + 2], true, settings, MatteTable));
        for (int32_t x = std::max(begin, end); x < width; ++x) put(x, outside);
    }
}

void MatteWorker(PluginState* state) {
    if (state->sourceImage == nullptr || state->captureIncomplete != 0) {
        EndWorker(state, false);
        return;
    }
    const ParameterRecord* p = GetParameters(state->filterRecord);
    const int32_t width = state->width, height = state->height;
    state->progressBase = height;
    state->progressTotal = height + (p->MatteBlur != 0 ? width + height : 0) +
                           (p->MatteChoke != 0 ? height : 0);
    const KeySettings settings = PrepareCorrection(*p);

    for (int32_t y = 0; y < height; ++y) {
        if (CancelRequested(state)) {
            EndWorker(state, false);
            return;
        }
        ReportWorkerProgress(state, y);
        KeyRows(state, settings, y, y + 1);
    }

    if (p->MatteBlur != 0) {
        if (!BlurMatte(state)) {
            EndWorker(state, false);
            return;
        }
    } else if (state->matteBytes > 0) {
        std::memcpy(state->finalMatte, state->rawMatte, size_t(state->matteBytes));
    }
    if (p->MatteChoke != 0 && !ChokeMatte(state)) {
        EndWorker(state, false);
        return;
    }
    EndWorker(state, true);
}

void WaitForWorker(PluginState* state) {
    intptr_t handle = LoadShared(state->workerHandle);
    if (handle == kNoWorker) return;
    platform::SetThreadPriority(handle, platform::ThreadPriority::AboveNormal);
    while (LoadShared(state->workerHandle) != kNoWorker) platform::YieldTimeSlice();
}

void StopWorker(PluginState* state) {
    if (LoadShared(state->workerHandle) == kNoWorker) return;
    StoreShared(state->cancelRequest, 1);
    WaitForWorker(state);
}

void RestartWorker(PluginState* state) {
    StopWorker(state);
    StoreShared(state->workerFinished, 0);
    platform::ThreadHandle handle =
        platform::StartThread(WorkerThread, state, RecordWorker, state);
    if (handle == platform::kNoThread) StoreShared(state->workerHandle, kNoWorker);
}

}  // namespace tav
