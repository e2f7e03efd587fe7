// The output composer: writes the filter's result into the host's output
// tile in the form the user chose (OutputMethod), and tells the dialog
// whether the clipboard holds a picture to lay the foreground over.
#pragma once

#include <cstdint>

#include "platform/clipboard.h"

namespace tav {

struct PluginState;

// Reads the clipboard's picture for the background method, once for a run:
// when the clipboard holds one that fits the filtered area it is copied into
// the state's backgroundPicture, and every tile is laid over that copy, so a
// clipboard changed by another program in the middle of a run changes
// nothing. Does nothing when a copy is already held.
void ReadBackgroundPicture(PluginState* state);

// Fills outData for the tile inRect from foregroundImage and finalMatte (both
// complete for the filtered area), the input tile and, for the background
// method, the picture read by ReadBackgroundPicture (without one, the input
// is copied). Only the colour bytes and the last (transparency) byte of each
// output pixel are written, each only when the method writes it. Writes
// nothing when the tile does not lie within the filtered area.
void ComposeTile(PluginState* state);

// True when the run's output method, with this many planes, writes every
// byte of each output pixel from the result alone, never from the input:
// then whole rows can be composed before the host hands out their tiles.
bool ComposesFromResultAlone(const PluginState* state);

// Composes rows first .. first + rows - 1 of the filtered area, whole, into
// `out` (rows of width x planes bytes, packed), exactly as ComposeTile writes
// them into the tiles that cover them. Only when ComposesFromResultAlone.
void ComposeRows(const PluginState* state, int32_t first, int32_t rows, uint8_t* out);

// 1 when the clipboard holds a picture the background method can use for
// this filtered area (uncompressed, 24 or 32 bits a pixel, exactly width x
// height, and whole), else 0. `window` owns the clipboard while it is open.
int32_t ProbeClipboardImage(PluginState* state, platform::WindowHandle window);

}  // namespace tav
