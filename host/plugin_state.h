// The Plug-in state block: the private record of one filter run, kept in a
// handle whose address the host holds in its data word. Every operation takes
// it as its first argument.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host_interface.h"
#include "host/parameters.h"

namespace tav {

constexpr intptr_t kNoWorker = -1;

struct PluginState {
    int16_t result;
    Rect previewRect;
    int32_t previewCenterX;
    int32_t previewCenterY;
    int32_t panning;
    int32_t keyRangeScanned;
    uint8_t* sourceImage;
    uint8_t* foregroundImage;
    int64_t imageBytes;  // 3 x width x height, in 64 bits so large areas never wrap
    uint8_t* rawMatte;
    uint8_t* finalMatte;
    int64_t matteBytes;  // width x height
    int32_t width;
    int32_t height;
    intptr_t workerHandle;  // kNoWorker: no worker
    int32_t cancelRequest;
    int32_t workerFinished;
    int32_t reportProgress;
    int32_t progressBase;
    int32_t progressTotal;
    intptr_t pickBitmap;
    int32_t picking;
    int32_t pickControl;
    int32_t savedOutputMethod;
    int32_t contentLeft;
    int32_t contentTop;
    int32_t contentRight;
    int32_t contentBottom;
    ParameterRecord savedParameters;
    FilterRecord* filterRecord;  // for the about selector, the AboutRecord
    // Nonzero (the host's code) when the host failed a request during the
    // capture: sourceImage is only partly filled, no worker uses it, and the
    // next capture reads the host again.
    int32_t captureIncomplete;
};

// The handshake words are shared by the host's thread and the worker without
// a lock; every access goes through these.
template <typename T>
inline T LoadShared(T& word) {
    return std::atomic_ref<T>(word).load(std::memory_order_acquire);
}
template <typename T>
inline void StoreShared(T& word, T value) {
    std::atomic_ref<T>(word).store(value, std::memory_order_release);
}

// Sets the values every run starts from.
void ResetRunStartValues(PluginState* state);

// Stops any worker, then releases the four working buffers and the pick
// bitmap; each pointer is set to null.
void ReleaseRunBuffers(PluginState* state);

}  // namespace tav
