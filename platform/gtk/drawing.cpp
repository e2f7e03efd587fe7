// Drawing on GTK 3: a device context is a cairo context on the dialog's
// picture, carrying the pen, the line mode and the current point. The lines,
// pixels, fills and bitmaps the dialog draws are set pixel by pixel, as the
// system draws them (lines leave out their end point, XOR lines flip the
// colour's bits); a host draws what displayPixels is given with cairo.
#include <algorithm>
#include <vector>

#include "platform/gtk/toolkit.h"
#include "platform/posix/pens.h"
#include "resources/eyedropper.h"

namespace tav::platform {
namespace {

using pens::PenState;
const cairo_user_data_key_t kStateKey{};

struct Bitmap {
    int width, height;
    std::vector<uint32_t> argb;
};

cairo_t* Cairo(DeviceContext context) { return reinterpret_cast<cairo_t*>(context); }

PenState* StateOf(DeviceContext context) {
    return static_cast<PenState*>(cairo_get_user_data(Cairo(context), &kStateKey));
}

uint32_t Opaque(uint8_t r, uint8_t g, uint8_t b) {
    return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

// The pixels of the surface a context draws on, for setting them directly.
class Pixels {
public:
    explicit Pixels(cairo_surface_t* surface) : surface_(surface) {
        cairo_surface_flush(surface_);
        data_ = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface_));
        stride_ = cairo_image_surface_get_stride(surface_) / 4;
        width_ = cairo_image_surface_get_width(surface_);
        height_ = cairo_image_surface_get_height(surface_);
    }
    explicit Pixels(DeviceContext context) : Pixels(cairo_get_target(Cairo(context))) {}
    ~Pixels() { cairo_surface_mark_dirty(surface_); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;

    uint32_t* At(int x, int y) {
        return data_ != nullptr && x >= 0 && y >= 0 && x < width_ && y < height_ ? data_ + size_t(y) * stride_ + x
                                                                                 : nullptr;
    }
    void Set(int x, int y, uint32_t argb) {
        if (uint32_t* p = At(x, y)) *p = argb;
    }
    void Flip(int x, int y, uint32_t rgb) {
        if (uint32_t* p = At(x, y)) *p ^= rgb;
    }

private:
    cairo_surface_t* surface_;
    uint32_t* data_ = nullptr;
    int stride_ = 0, width_ = 0, height_ = 0;
};

}  // namespace

namespace gtk {

DeviceContext BeginContext(Dialog* d) {
    cairo_t* cr = cairo_create(d->picture);
    cairo_set_user_data(cr, &kStateKey, new PenState, [](void* state) { delete static_cast<PenState*>(state); });
    return reinterpret_cast<DeviceContext>(cr);
}

void EndContext(Dialog* d, DeviceContext context) {
    cairo_destroy(Cairo(context));
    if (!d->ended) gtk_widget_queue_draw(d->canvas);
}

void ClearPicture(Dialog* d, const PixelRect& r) {
    Pixels pixels(d->picture);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) pixels.Set(x, y, 0);
}

// A sunken edge (dark grey above and left, white below and right) around a
// black frame, each a pixel wide.
void DrawBlackFrame(Dialog* d, const PixelRect& r) {
    Pixels pixels(d->picture);
    const uint32_t dark = Opaque(128, 128, 128), light = Opaque(255, 255, 255), black = Opaque(0, 0, 0);
    for (int x = r.left; x < r.right; ++x) {
        pixels.Set(x, r.top, dark);
        pixels.Set(x, r.bottom - 1, light);
    }
    for (int y = r.top; y < r.bottom - 1; ++y) {
        pixels.Set(r.left, y, dark);
        pixels.Set(r.right - 1, y, light);
    }
    for (int x = r.left + 1; x < r.right - 1; ++x) {
        pixels.Set(x, r.top + 1, black);
        pixels.Set(x, r.bottom - 2, black);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        pixels.Set(r.left + 1, y, black);
        pixels.Set(r.right - 2, y, black);
    }
}

}  // namespace gtk

namespace pens {
PenState* PenStateOf(DeviceContext context) { return StateOf(context); }
}  // namespace pens

void LineTo(DeviceContext context, int x, int y) {
    PenState* s = StateOf(context);
    Pixels pixels(context);
    const uint32_t colour = Opaque(s->pen->r, s->pen->g, s->pen->b);
    pens::TraceLine(s, x, y, [&](int px, int py) {
        if (s->xorLines)
            pixels.Flip(px, py, colour & 0xFFFFFFu);
        else
            pixels.Set(px, py, colour);
    });
}

void SetPixelColor(DeviceContext context, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
    Pixels(context).Set(x, y, Opaque(red, green, blue));
}

void FillLightGrey(DeviceContext context, int x, int y, int width, int height) {
    Pixels pixels(context);
    for (int row = y; row < y + height; ++row)
        for (int column = x; column < x + width; ++column) pixels.Set(column, row, Opaque(192, 192, 192));
}

BitmapHandle LoadBitmapResource(int id) {
    if (id != 101) return 0;
    auto* bitmap = new Bitmap{TAVRISK_EYEDROPPER_SIZE, TAVRISK_EYEDROPPER_SIZE, {}};
    for (uint8_t v : pens::EyedropperGreys()) bitmap->argb.push_back(Opaque(v, v, v));
    return reinterpret_cast<BitmapHandle>(bitmap);
}

void DeleteBitmap(BitmapHandle bitmap) { delete reinterpret_cast<Bitmap*>(bitmap); }

void DrawBitmap(DeviceContext context, BitmapHandle handle, int x, int y, int width, int height) {
    const auto* bitmap = reinterpret_cast<const Bitmap*>(handle);
    if (bitmap == nullptr) return;
    Pixels pixels(context);
    for (int row = 0; row < std::min(height, bitmap->height); ++row)
        for (int column = 0; column < std::min(width, bitmap->width); ++column)
            pixels.Set(x + column, y + row, bitmap->argb[size_t(row) * bitmap->width + column]);
}

}  // namespace tav::platform
