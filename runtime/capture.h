// Image acquisition: the tile walk over the filtered area, the capture of the
// whole area into the source image, the content bounds and the screen colour.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct PluginState;

constexpr int kTileSize = 64;

// Sets inRect/outRect to the first tile, all planes, full resolution.
void FirstTile(PluginState* state);
// Moves inRect to the next tile and copies it to outRect; false when the
// walk is over (outRect then unchanged).
bool NextTile(PluginState* state);

// Makes sure the four working buffers exist and sourceImage holds the
// filtered area, and computes the content bounds. False when memory runs out
// or the host refuses a tile.
bool CaptureImage(PluginState* state);

// Brings in the pages of the worker's three output buffers ahead of the run
// that writes all of them. The dialog leaves them to fault in on the worker's
// thread, so that it opens sooner.
void PrefaultWorkerBuffers(PluginState* state);

// The smallest rectangle (image coordinates, right and bottom exclusive)
// holding every pixel of sourceImage that is not pure white.
void ComputeContentBounds(PluginState* state);

// 1 for a green screen, 0 for blue (also when the image cannot be had).
int DetectScreenColor(PluginState* state);

}  // namespace tav
