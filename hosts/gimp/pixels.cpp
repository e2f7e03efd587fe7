// libgimp 2.10 marks its tile interface as superseded by GEGL's buffers;
// it is the one that needs no GEGL in the plug-in.
#define GIMP_DISABLE_DEPRECATION_WARNINGS
#include "hosts/gimp/pixels.h"

#include <algorithm>
#include <cstring>

namespace tav::gimp {
namespace {

// Calls `copy(tile, tileX, tileY)` for each tile the area meets, with the
// tile's pixels referenced (`zero`: a shadow tile about to be written whole
// within the area, not fetched from GIMP), and hands it back (`dirty`: to
// GIMP). Each tile is handled once: no cache.
template <typename F>
void EachTile(GimpDrawable* d, bool shadow, const Area& area, F copy) {
    gimp_tile_cache_ntiles(0);
    const int tw = int(gimp_tile_width()), th = int(gimp_tile_height());
    for (int ty = area.y / th * th; ty < area.y + area.height; ty += th)
        for (int tx = area.x / tw * tw; tx < area.x + area.width; tx += tw) {
            GimpTile* tile = gimp_drawable_get_tile2(d, shadow, tx, ty);
            if (shadow)
                gimp_tile_ref_zero(tile);  // outside the area the shadow is never merged
            else
                gimp_tile_ref(tile);
            copy(tile, tx, ty);
            gimp_tile_unref(tile, shadow);
        }
}

// The rows of a tile within the area: its pixels at (x, y) of the tile and
// of the area, `columns` wide.
template <typename F>
void EachRow(const GimpTile* tile, int tx, int ty, const Area& area, F row) {
    const int x0 = std::max(tx, area.x), x1 = std::min(tx + int(tile->ewidth), area.x + area.width);
    const int y0 = std::max(ty, area.y), y1 = std::min(ty + int(tile->eheight), area.y + area.height);
    for (int y = y0; y < y1; ++y) {
        guchar* at = tile->data + (size_t(y - ty) * tile->ewidth + size_t(x0 - tx)) * tile->bpp;
        row(at, size_t(y - area.y) * area.width + size_t(x0 - area.x), x1 - x0);
    }
}

}  // namespace

std::vector<uint8_t> ReadRgba(gint32 drawable, const Area& area) {
    GimpDrawable* d = gimp_drawable_get(drawable);
    std::vector<uint8_t> rgba(size_t(area.width) * area.height * 4);
    EachTile(d, false, area, [&](GimpTile* tile, int tx, int ty) {
        EachRow(tile, tx, ty, area, [&](const guchar* from, size_t first, int columns) {
            uint8_t* to = &rgba[4 * first];
            if (tile->bpp == 4) {
                std::memcpy(to, from, size_t(columns) * 4);
                return;
            }
            for (int x = 0; x < columns; ++x, from += 3, to += 4) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
                to[3] = 255;
            }
        });
    });
    gimp_drawable_detach(d);
    return rgba;
}

void WriteRgba(gint32 drawable, const Area& area, const std::vector<uint8_t>& rgba) {
    GimpDrawable* d = gimp_drawable_get(drawable);
    EachTile(d, true, area, [&](GimpTile* tile, int tx, int ty) {
        EachRow(tile, tx, ty, area, [&](guchar* to, size_t first, int columns) {
            const uint8_t* from = &rgba[4 * first];
            if (tile->bpp == 4) {
                std::memcpy(to, from, size_t(columns) * 4);
                return;
            }
            for (int x = 0; x < columns; ++x, from += 4, to += 3) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        });
    });
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    gimp_drawable_detach(d);
}

}  // namespace tav::gimp
