#include "hosts/gimp/clipboard.h"

#include <libgimp/gimp.h>

#include <vector>

#include "hosts/gimp/pixels.h"
#include "platform/program_clipboard.h"

namespace tav::gimp {
namespace {

struct ClipboardState {
    int width = 0, height = 0;
    bool fetched = false;
    std::vector<uint8_t> dib;
};
ClipboardState g_clipboard;

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// The picture as a top-down 24-bit bitmap (B, G, R; rows padded to four
// bytes); its transparency is dropped, as the keyer drops a background
// file's.
std::vector<uint8_t> PackedDib(gint32 drawable, int width, int height) {
    const std::vector<uint8_t> rgba = ReadRgba(drawable, Area{0, 0, width, height});
    const size_t rowBytes = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(40 + rowBytes * height, 0);
    Put32(dib, 0, 40);
    Put32(dib, 4, uint32_t(width));
    Put32(dib, 8, uint32_t(-height));  // negative: top-down
    dib[12] = 1;                       // planes
    dib[14] = 24;                      // bits a pixel
    Put32(dib, 20, uint32_t(rowBytes * height));
    for (int y = 0; y < height; ++y) {
        uint8_t* to = &dib[40 + rowBytes * y];
        const uint8_t* from = &rgba[size_t(y) * width * 4];
        for (int x = 0; x < width; ++x, to += 3, from += 4) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return dib;
}

std::vector<uint8_t> FetchClipboard(int width, int height) {
    const gint32 image = gimp_edit_paste_as_new_image();
    if (image <= 0) return {};
    std::vector<uint8_t> dib;
    gint count = 0;
    gint* layers = gimp_image_get_layers(image, &count);
    if (count > 0 && gimp_image_width(image) == width && gimp_image_height(image) == height)
        dib = PackedDib(layers[0], width, height);
    g_free(layers);
    gimp_image_delete(image);
    return dib;
}

}  // namespace

std::mutex& WireLock() {
    static std::mutex lock;
    return lock;
}

void OfferClipboard(int width, int height) {
    g_clipboard = ClipboardState{};
    g_clipboard.width = width;
    g_clipboard.height = height;
}

}  // namespace tav::gimp

extern "C" bool TavriskProgramClipboard(TavriskClipboardPicture* picture) {
    using tav::gimp::g_clipboard;
    std::lock_guard<std::mutex> hold(tav::gimp::WireLock());
    if (!g_clipboard.fetched) {
        g_clipboard.fetched = true;
        g_clipboard.dib = tav::gimp::FetchClipboard(g_clipboard.width, g_clipboard.height);
    }
    if (g_clipboard.dib.empty()) return false;
    *picture = TavriskClipboardPicture{g_clipboard.dib.data(), g_clipboard.dib.size(), 1};
    return true;
}
