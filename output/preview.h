// The preview renderer: the zoom at which the whole filtered area fits the
// preview pane, the part of the area the pane shows (asked of the host
// already reduced to the zoom's scale), and the preview picture keyed from
// those pixels with the same per-pixel step as the real run.
#pragma once

#include <cstdint>

#include "platform/window_toolkit.h"

namespace tav {

struct PluginState;

// The preview rectangle: the client rectangle of the dialog's frame 133
// inset by 2 pixels, in dialog client coordinates. One for the process (one
// dialog at a time), set when the dialog opens.
void SetPreviewRect(const platform::PixelRect& rect);
const platform::PixelRect& PreviewRect();

// The zoom factors of PreviewZoom z: one preview pixel stands for N / M
// image pixels (M = z when z >= 1, else 1; N = -z when z <= 0, else 1).
struct ZoomFactors {
    int32_t m;
    int32_t n;
};
ZoomFactors ZoomFactorsOf(int32_t previewZoom);

// Multiplies, then divides with rounding to the nearest integer (halves away
// from zero), in 64 bits; -1 when the divisor is 0.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Writes FitZoom: 1 when the area fits the pane at full size, else the
// negative of the smallest whole reduction that makes it fit, at most 128
// (a larger area is shown at 1 : 128, a window of it at a time).
void FitPreviewZoom(PluginState* state);

// Chooses the visible part of the area for PreviewZoom and the pan position
// (keeping the window inside the area), fills the host's request fields and
// calls advanceState; its result goes into the state's result.
void LayOutPreview(PluginState* state);

// Keys the delivered pixels into the host's outData: the matte, the processed
// colours or the composite over the clipboard's picture, with the blur and
// the choke scaled to the zoom. Needs a current level table and a successful
// LayOutPreview: after a failed one it touches no buffer.
void RenderPreview(PluginState* state);

// Copies the unprocessed pixels into outData (while panning and picking).
void CopySourceToPreview(PluginState* state);

}  // namespace tav
