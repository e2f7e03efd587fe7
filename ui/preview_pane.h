// The preview pane: frame 133 of the parameters dialog. Paints the preview
// picture through the host, pans a zoomed preview with the mouse, runs the
// three colour picks (correction, force black, force white) over a rectangle
// dragged across the picture, and draws the owner-drawn buttons. The dialog
// routes its window messages here.
#pragma once

#include <cstdint>

#include "platform/window_toolkit.h"

namespace tav {

struct PluginState;

// What the pane keeps while the dialog is open (one dialog at a time).
struct PaneState {
    // The pick rectangle: the anchor is where the drag began, the corner
    // follows the mouse (it may lie above or left of the anchor). Empty when
    // the corner is the anchor.
    int32_t anchorX, anchorY, cornerX, cornerY;
    // The part of the pane the preview picture covered at the last paint.
    platform::PixelRect image;
    int32_t panStartCenterX, panStartCenterY;
    bool pickCapture;            // a pick rectangle is being dragged
    platform::PenHandle whitePen;  // made by the dialog, for the outline
};
PaneState& Pane();

// The render choice: the unprocessed source while panning or picking the
// correction, the keyed preview otherwise.
void RenderChosenPreview(PluginState* state);

// The paint message.
void PaintPreviewPane(PluginState* state, platform::WindowHandle dialog);

// Mouse messages; x and y are the low and high words of `second`.
void PaneMouseDown(platform::WindowHandle dialog, uintptr_t first, intptr_t second, PluginState* state);
void PaneMouseMove(platform::WindowHandle dialog, uintptr_t first, intptr_t second, PluginState* state);

// A pick button (105, 108, 111): enters pick mode, or leaves it when pressed
// again.
void TogglePickMode(platform::WindowHandle dialog, int id, PluginState* state);
// The end of a pick drag: applies it and leaves pick mode.
void EndPick(platform::WindowHandle dialog, PluginState* state);
void ApplyPick(platform::WindowHandle dialog, PluginState* state);
void EnablePickControls(platform::WindowHandle dialog);

// The draw message of an owner-drawn button; 1 when a pick button was drawn.
int32_t DrawOwnerButton(platform::WindowHandle dialog, int id, intptr_t item, PluginState* state);
void DrawButtonFrame(platform::DeviceContext context, int left, int top, int width, int height, bool pressed);

// Marks the pane's frame for painting.
void InvalidatePreviewPane(platform::WindowHandle dialog);
// The level table, the render choice, the pane's invalidation, and a new
// background worker when `restart` is set.
void RefreshPreview(platform::WindowHandle dialog, PluginState* state, bool restart);

}  // namespace tav
