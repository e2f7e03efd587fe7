#include "runtime/plugin_state.h"

#include <initializer_list>

#include "runtime/allocator.h"
#include "runtime/matte_run.h"
#include "platform/window_toolkit.h"

namespace tav {

void ResetRunStartValues(PluginState* state) {
    state->previewCenterX = -1;
    state->previewCenterY = -1;
    state->worker = IdleMatteJob();
    state->panning = 0;
    state->keyRangeTaken = 0;
    state->keyRange = kNoKeyRange;
    state->sourceImage = nullptr;
    state->foregroundImage = nullptr;
    state->rawMatte = nullptr;
    state->finalMatte = nullptr;
    state->pickBitmap = 0;
    state->picking = 0;
    state->captureIncomplete = 0;
    state->backgroundPicture = nullptr;
    state->backgroundPictureBytes = 0;
}

void ReleaseRunBuffers(PluginState* state) {
    StopWorker(state);
    for (uint8_t** buffer : {&state->sourceImage, &state->foregroundImage, &state->rawMatte,
                             &state->finalMatte, &state->backgroundPicture}) {
        if (*buffer != nullptr) {
            FreeLargeBuffer(*buffer);
            *buffer = nullptr;
        }
    }
    if (state->pickBitmap != 0) {
        platform::DeleteBitmap(state->pickBitmap);
        state->pickBitmap = 0;
    }
}

}  // namespace tav
