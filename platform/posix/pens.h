// Pens and lines for the toolkits that draw a dialog into a picture of their
// own (the in-process model, GTK): a pen is a colour, and a device context
// carries the pen selected, the line mode and the current point. The platform
// calls on pens (CreatePen ... MoveTo) are pens.cpp's; each toolkit says where
// a context keeps its pen state and draws its lines' pixels. Also the one
// bitmap both draw, the eyedropper's.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/window_toolkit.h"

namespace tav::platform::pens {

struct Pen {
    uint8_t r, g, b;
};
extern Pen g_blackPen;
extern Pen g_whitePen;

struct PenState {
    Pen* pen = &g_blackPen;
    bool xorLines = false;
    int x = 0, y = 0;
};

// The context's pen state: the toolkit's own.
PenState* PenStateOf(DeviceContext context);

// Plots the line from the current point to (x, y) with Bresenham's steps,
// leaving out the end point as the system does, and moves the current point
// there: plot(x, y) for every pixel.
template <typename Plot>
void TraceLine(PenState* s, int x, int y, Plot plot) {
    int x0 = s->x, y0 = s->y;
    const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int error = dx + dy;
    while (x0 != x || y0 != y) {
        plot(x0, y0);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
    s->x = x;
    s->y = y;
}

// The eyedropper bitmap (resource 101), TAVRISK_EYEDROPPER_SIZE pixels a
// side, as grey levels row by row.
std::vector<uint8_t> EyedropperGreys();

}  // namespace tav::platform::pens
