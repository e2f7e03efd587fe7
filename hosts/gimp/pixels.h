// A drawable's pixels as 8-bit R'G'B'A, through libgimp's tiles: GIMP hands
// a plug-in 8-bit data (converting an image of another precision itself), so
// the program starts no GEGL or babl of its own, which would take it longer
// to start than a large image takes to key.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <vector>

namespace tav::gimp {

struct Area {
    int x, y, width, height;
};

// The area's pixels; a drawable without alpha reads as opaque.
std::vector<uint8_t> ReadRgba(gint32 drawable, const Area& area);

// The area's pixels into the drawable's shadow, merged through the selection
// as every filter's result is (a drawable without alpha takes the colours).
void WriteRgba(gint32 drawable, const Area& area, const std::vector<uint8_t>& rgba);

}  // namespace tav::gimp
