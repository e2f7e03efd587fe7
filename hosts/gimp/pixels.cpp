// libgimp 2.10 marks its tile interface as superseded by GEGL's buffers;
// it is the one that needs no GEGL in the plug-in.
#define GIMP_DISABLE_DEPRECATION_WARNINGS
#include "hosts/gimp/pixels.h"

namespace tav::gimp {
namespace {

// Whole rows of tiles are read and written at once; each tile is handled once.
void UseTileCache(const Area& area) { gimp_tile_cache_ntiles(2 * (gulong(area.width) / gimp_tile_width() + 1)); }

}  // namespace

std::vector<uint8_t> ReadRgba(gint32 drawable, const Area& area) {
    UseTileCache(area);
    GimpDrawable* d = gimp_drawable_get(drawable);
    const size_t pixels = size_t(area.width) * area.height;
    std::vector<uint8_t> rgba(pixels * 4);
    GimpPixelRgn region;
    gimp_pixel_rgn_init(&region, d, area.x, area.y, area.width, area.height, FALSE, FALSE);
    if (d->bpp == 4) {
        gimp_pixel_rgn_get_rect(&region, rgba.data(), area.x, area.y, area.width, area.height);
    } else {
        std::vector<uint8_t> rgb(pixels * 3);
        gimp_pixel_rgn_get_rect(&region, rgb.data(), area.x, area.y, area.width, area.height);
        for (size_t i = 0; i < pixels; ++i) {
            rgba[4 * i] = rgb[3 * i];
            rgba[4 * i + 1] = rgb[3 * i + 1];
            rgba[4 * i + 2] = rgb[3 * i + 2];
            rgba[4 * i + 3] = 255;
        }
    }
    gimp_drawable_detach(d);
    return rgba;
}

void WriteRgba(gint32 drawable, const Area& area, const std::vector<uint8_t>& rgba) {
    UseTileCache(area);
    GimpDrawable* d = gimp_drawable_get(drawable);
    GimpPixelRgn region;
    gimp_pixel_rgn_init(&region, d, area.x, area.y, area.width, area.height, TRUE, TRUE);
    if (d->bpp == 4) {
        gimp_pixel_rgn_set_rect(&region, rgba.data(), area.x, area.y, area.width, area.height);
    } else {
        const size_t pixels = size_t(area.width) * area.height;
        std::vector<uint8_t> rgb(pixels * 3);
        for (size_t i = 0; i < pixels; ++i) {
            rgb[3 * i] = rgba[4 * i];
            rgb[3 * i + 1] = rgba[4 * i + 1];
            rgb[3 * i + 2] = rgba[4 * i + 2];
        }
        gimp_pixel_rgn_set_rect(&region, rgb.data(), area.x, area.y, area.width, area.height);
    }
    gimp_drawable_flush(d);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    gimp_drawable_detach(d);
}

}  // namespace tav::gimp
