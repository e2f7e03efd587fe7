#include "platform/posix/dialog_model.h"

#include <cstdlib>

namespace tav::platform::model {

DialogDriver g_driver = nullptr;
void* g_driverContext = nullptr;
std::vector<PixelRect> g_monitors{PixelRect{0, 0, 1920, 1080}};
bool g_waitCursor = false;
std::string g_helpFile;

int32_t RoundedMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
    const int64_t product = int64_t(number) * numerator;
    const int64_t magnitude = (std::llabs(product) + denominator / 2) / denominator;
    return int32_t(product < 0 ? -magnitude : magnitude);
}

PixelRect ToPixels(const PixelRect& units) {
    return PixelRect{RoundedMulDiv(units.left, kDialogBaseUnitX, 4), RoundedMulDiv(units.top, kDialogBaseUnitY, 8),
                     RoundedMulDiv(units.right, kDialogBaseUnitX, 4), RoundedMulDiv(units.bottom, kDialogBaseUnitY, 8)};
}

void Plot(Context* c, int x, int y, uint8_t r, uint8_t g, uint8_t b, bool xorLines) {
    Dialog* d = c->dialog;
    if (x < 0 || y < 0 || x >= d->clientWidth || y >= d->clientHeight) return;
    uint8_t* p = &d->surface[(size_t(y) * d->clientWidth + x) * 3];
    if (xorLines) {
        p[0] ^= r;
        p[1] ^= g;
        p[2] ^= b;
    } else {
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
}

void Pump(Dialog* d) {
    for (int round = 0; round < 16 && !d->ended; ++round) {
        bool any = false;
        for (auto& c : d->controls) {
            if (!c->redraw || d->ended) continue;
            c->redraw = false;
            any = true;
            Context context{d, {}};
            DrawItem item{c->info.id, reinterpret_cast<DeviceContext>(&context), c->info.pixels, c->pressed};
            d->Send(kMessageDrawItem, uintptr_t(c->info.id), reinterpret_cast<intptr_t>(&item));
        }
        if (!Empty(d->invalid) && !d->ended) {
            any = true;
            d->Send(kMessagePaint, 0, 0);
            d->invalid = PixelRect{};  // validated whether or not the paint began
        }
        if (!any) return;
    }
}

Control* ButtonAt(Dialog* d, int x, int y) {
    for (auto& c : d->controls)
        if (c->Clickable() && Contains(c->info.pixels, x, y)) return c.get();
    return nullptr;
}

bool OverInputControl(Dialog* d, int x, int y) {
    for (auto& c : d->controls)
        if ((c->Is("Edit") || c->Is("ComboBox") || c->Is("ScrollBar")) && Contains(c->info.pixels, x, y)) return true;
    return false;
}

void Click(Dialog* d, Control* c) {
    if (!c->enabled || d->ended) return;
    if (c->Kind() == TAV_BS_AUTOCHECKBOX) c->checked = !c->checked;
    d->Command(*c, kNotifyClicked);
}

}  // namespace tav::platform::model
