// The Plug-in state block: the private record of one filter run, kept in a
// handle whose address the host holds in its data word. Every operation takes
// it as its first argument.
#pragma once

#include <cstdint>

#include "engine/matte_table.h"
#include "engine/worker.h"
#include "interface/host_interface.h"
#include "interface/parameter_record.h"

namespace tav {

// What the capture learns of the image while it copies it: the sums of its
// green and blue bytes (the screen colour follows from them) and, for either
// screen colour, the extremes of the screen key's numerator 2S - O - R (the
// key range follows from them).
struct CaptureStatistics {
    uint64_t greenSum, blueSum;
    int32_t leastGreenKey, mostGreenKey;
    int32_t leastBlueKey, mostBlueKey;
};

struct PluginState {
    int16_t result;
    Rect previewRect;
    int32_t previewCenterX;
    int32_t previewCenterY;
    int32_t panning;
    int32_t keyRangeTaken;  // keyRange holds the capture's range for keyRangeGreen
    uint8_t* sourceImage;
    uint8_t* foregroundImage;
    int64_t imageBytes;  // 3 x width x height, in 64 bits so large areas never wrap
    uint8_t* rawMatte;
    uint8_t* finalMatte;
    int64_t matteBytes;  // width x height
    int32_t width;
    int32_t height;
    // The matte worker's job, with the words it shares with this thread; the
    // worker points into the block of the call that started it.
    MatteJob worker;
    intptr_t pickBitmap;
    int32_t picking;
    int32_t pickControl;
    int32_t savedOutputMethod;
    int32_t contentLeft;
    int32_t contentTop;
    int32_t contentRight;
    int32_t contentBottom;
    // The level table for the current settings, and the key range it was
    // stretched over (taken once per run from the capture, and again when
    // the screen changes), with the screen it was taken for (1 green).
    int32_t matteTable[256];
    KeyRange keyRange;
    int32_t keyRangeGreen;
    // The background method's picture: the clipboard's packed bitmap, copied
    // once for the run (null when none was read).
    uint8_t* backgroundPicture;
    int64_t backgroundPictureBytes;
    ParameterRecord savedParameters;
    FilterRecord* filterRecord;  // for the about selector, the AboutRecord
    // Nonzero (the host's code) when the host failed a request during the
    // capture: sourceImage is only partly filled, no worker uses it, and the
    // next capture reads the host again.
    int32_t captureIncomplete;
    CaptureStatistics captured;  // valid once a capture is complete
};

// Sets the values every run starts from.
void ResetRunStartValues(PluginState* state);

// Stops any worker, then releases the four working buffers and the pick
// bitmap; each pointer is set to null.
void ReleaseRunBuffers(PluginState* state);

}  // namespace tav
