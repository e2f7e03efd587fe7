#include "output/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "engine/keying.h"
#include "runtime/allocator.h"
#include "runtime/matte_run.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "runtime/clipboard_picture.h"
#include "output/preview_matte.h"
#include "platform/clipboard.h"
#include "platform/memory.h"

namespace tav {
namespace {

platform::PixelRect g_previewRect{};

// The clipboard's picture, held open for one render.
class ClipboardPicture {
public:
    ClipboardPicture() {
        if (!platform::OpenClipboard(0)) return;
        open_ = true;
        platform::MemoryHandle data = platform::GetClipboardDib();
        if (data == nullptr) return;
        bits_ = platform::LockMovable(data);
        // The picture may have changed since the dialog offered the method:
        // whatever its size, it is read only inside its own bits.
        valid_ = bits_ != nullptr && ReadDibOfAnySize(bits_, platform::MovableSize(data), &picture_);
    }
    ~ClipboardPicture() {
        if (bits_ != nullptr) platform::UnlockMovable(platform::MovableFromPointer(bits_));
        if (open_) platform::CloseClipboard();
    }
    ClipboardPicture(const ClipboardPicture&) = delete;
    ClipboardPicture& operator=(const ClipboardPicture&) = delete;
    const DibPicture* picture() const { return valid_ ? &picture_ : nullptr; }

private:
    bool open_ = false;
    const void* bits_ = nullptr;
    bool valid_ = false;
    DibPicture picture_{};
};

// The host delivered both buffers of the last request.
bool Delivered(const PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    return state->result == noErr && record != nullptr && record->inData != nullptr && record->outData != nullptr;
}

// One direction of the window: `center` (pixels of the area, -1: not set)
// is kept so that a window of `display` pixels lies inside the area's `scaled`
// ones; returns the offset of the window's start from the scaled area's.
int32_t PlaceWindow(int32_t* center, int32_t areaSize, int32_t scaled, int32_t display, const ZoomFactors& z) {
    if (*center == -1) *center = areaSize / 2;
    int32_t s = MulDiv(*center, z.m, z.n);
    const int32_t h = display / 2;
    int32_t d = s - h;
    if (d < 0) {
        *center += MulDiv(-d, z.n, z.m);
        s = MulDiv(*center, z.m, z.n);
        d = s - h;
    }
    const int32_t e = s + h + display % 2;
    if (e > scaled) {
        *center -= MulDiv(e - scaled, z.n, z.m);
        d = MulDiv(*center, z.m, z.n) - h;
    }
    return d;
}

}  // namespace

void SetPreviewRect(const platform::PixelRect& rect) { g_previewRect = rect; }
const platform::PixelRect& PreviewRect() { return g_previewRect; }

ZoomFactors ZoomFactorsOf(int32_t z) { return ZoomFactors{z >= 1 ? z : 1, z <= 0 ? -z : 1}; }

int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return -1;
    const int64_t product = int64_t(number) * numerator;
    const int64_t magnitude = (std::llabs(product) + std::llabs(int64_t(denominator)) / 2) / std::llabs(int64_t(denominator));
    return int32_t((product < 0) != (denominator < 0) ? -magnitude : magnitude);
}

void FitPreviewZoom(PluginState* state) {
    ParameterRecord* p = GetParameters(state->filterRecord);
    if (p == nullptr || state->width <= 0 || state->height <= 0) return;
    const platform::PixelRect& r = g_previewRect;
    const double rh = double(r.bottom - r.top) / double(state->height);
    const double rw = double(r.right - r.left) / double(state->width);
    const double ratio = std::min(rh, rw);
    if (ratio >= 1.0) {
        p->FitZoom = 1;
        return;
    }
    // A signed byte holds reductions up to 128; the window logic keeps a
    // larger area's view inside it. A ratio of 0 (no pane) is the same case.
    const double reduction = ratio > 0.0 ? std::ceil(1.0 / ratio) : 128.0;
    p->FitZoom = int8_t(-int32_t(std::min(reduction, 128.0)));
}

void LayOutPreview(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    const ParameterRecord* p = GetParameters(record);
    if (p == nullptr) return;
    const ZoomFactors z = ZoomFactorsOf(p->PreviewZoom);
    const platform::PixelRect& pr = g_previewRect;
    state->previewRect = Rect{int16_t(pr.top), int16_t(pr.left), int16_t(pr.bottom), int16_t(pr.right)};

    const int32_t sw = MulDiv(state->width, z.m, z.n), sh = MulDiv(state->height, z.m, z.n);
    int32_t dw = pr.right - pr.left, dh = pr.bottom - pr.top;
    if (dw > sw) {
        state->previewRect.right = int16_t(state->previewRect.left + sw);
        dw = sw;
    }
    if (dh > sh) {
        state->previewRect.bottom = int16_t(state->previewRect.top + sh);
        dh = sh;
    }

    const Rect& area = record->filterRect;
    int32_t left = area.left * z.m / z.n, right = area.right * z.m / z.n;
    int32_t top = area.top * z.m / z.n, bottom = area.bottom * z.m / z.n;
    if (right - left <= dw) {
        state->previewCenterX = -1;
    } else {
        left += PlaceWindow(&state->previewCenterX, state->width, sw, dw, z);
        right = left + dw;
    }
    if (bottom - top <= dh) {
        state->previewCenterY = -1;
    } else {
        top += PlaceWindow(&state->previewCenterY, state->height, sh, dh, z);
        bottom = top + dh;
    }
    record->inRect = Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
    record->outRect = state->previewRect;
    record->inLoPlane = record->outLoPlane = 0;
    record->inHiPlane = record->outHiPlane = int16_t(record->planes - 1);
    const bool floatingMask = record->haveMask && record->isFloating;
    if (floatingMask)
        record->maskRect = Rect{int16_t(area.top * z.m / z.n), int16_t(area.left * z.m / z.n),
                                int16_t(area.bottom * z.m / z.n), int16_t(area.right * z.m / z.n)};
    record->inputRate = Fixed(int64_t(z.n) * kFixedOne / z.m);
    if (record->haveMask) record->maskRate = record->inputRate;
    record->inputPadding = record->outputPadding = plugInPadReplicate;
    if (floatingMask) record->maskPadding = plugInPadReplicate;
    state->result = record->advanceState != nullptr ? record->advanceState() : OSErr(filterBadParameters);
}

void RenderPreview(PluginState* state) {
    if (!Delivered(state)) return;
    const FilterRecord* record = state->filterRecord;
    const ParameterRecord* p = GetParameters(record);
    if (p == nullptr) return;
    const ZoomFactors z = ZoomFactorsOf(p->PreviewZoom);
    const platform::PixelRect& pr = g_previewRect;
    const int32_t pcx = pr.left + (pr.right - pr.left) / 2, pcy = pr.top + (pr.bottom - pr.top) / 2;
    const int32_t cx = state->previewCenterX == -1 ? state->width / 2 : state->previewCenterX;
    const int32_t cy = state->previewCenterY == -1 ? state->height / 2 : state->previewCenterY;
    const int32_t x0 = std::max(0, cx + MulDiv(pr.left - pcx, z.n, z.m));
    const int32_t y0 = std::max(0, cy + MulDiv(pr.top - pcy, z.n, z.m));
    const int32_t blur = p->MatteBlur * z.m / z.n, choke = p->MatteChoke * z.m / z.n;
    const KeySettings settings = BuildKeySettings(MatteSettingsOf(*p));
    const bool matteView = p->ShowMatte != 0 || p->OutputMethod == kOutputMatteTransparency ||
                           p->OutputMethod == kOutputMatte;

    std::optional<ClipboardPicture> clipboard;
    if (p->ShowMatte == 0 && p->OutputMethod == kOutputBackground) clipboard.emplace();
    const DibPicture* picture = clipboard ? clipboard->picture() : nullptr;

    // Never more than the host's buffers hold.
    const Rect& in = record->inRect;
    const Rect& out = record->outRect;
    const int32_t pw = std::max(0, std::min(in.right - in.left, out.right - out.left));
    const int32_t ph = std::max(0, std::min(in.bottom - in.top, out.bottom - out.top));
    const int planes = record->planes;
    const auto* inData = static_cast<const uint8_t*>(record->inData);
    auto* outData = static_cast<uint8_t*>(record->outData);
    auto outPixel = [&](int32_t j, int32_t i) { return outData + int64_t(j) * record->outRowBytes + int64_t(i) * planes; };

    uint8_t* matte = nullptr;
    if (pw > 0 && ph > 0 && (picture != nullptr || (matteView && (blur != 0 || choke != 0))))
        matte = static_cast<uint8_t*>(AllocLargeBuffer(uint64_t(pw) * uint64_t(ph)));

    const Rect& area = record->filterRect;
    for (int32_t j = 0; j < ph; ++j) {
        const int32_t py = y0 + (j * z.n) / z.m;
        const int32_t iy = area.top + py;
        const bool rowInside = state->contentTop <= iy && iy < state->contentBottom;
        const uint8_t* source = inData + int64_t(j) * record->inRowBytes;
        for (int32_t i = 0; i < pw; ++i, source += planes) {
            const int32_t ix = area.left + (x0 + (i * z.n) / z.m);
            const bool inside = rowInside && state->contentLeft <= ix && ix < state->contentRight;
            const KeyedPixel k = KeyPixel(source[0], source[1], source[2], inside, settings, state->matteTable);
            uint8_t* target = outPixel(j, i);
            if (matte != nullptr) matte[int64_t(j) * pw + i] = k.matte;
            if (matte != nullptr ? picture != nullptr : !matteView) {
                target[0] = k.r;
                target[1] = k.g;
                target[2] = k.b;
            } else if (matte == nullptr) {
                target[0] = target[1] = target[2] = k.matte;
            }
        }
    }
    if (matte == nullptr) return;

    if (blur != 0) matte = BlurMatteBuffer(matte, pw, ph, blur);
    if (choke != 0) matte = ChokeMatteBuffer(matte, pw, ph, choke);
    for (int32_t j = 0; j < ph; ++j) {
        const int32_t py = y0 + (j * z.n) / z.m;
        for (int32_t i = 0; i < pw; ++i) {
            const int32_t m = matte[int64_t(j) * pw + i];
            uint8_t* target = outPixel(j, i);
            if (picture == nullptr) {
                target[0] = target[1] = target[2] = uint8_t(m);
                continue;
            }
            // Pixels beyond the picture keep the processed colour.
            const int32_t px = x0 + (i * z.n) / z.m;
            if (px >= picture->width || py >= picture->height) continue;
            const DibColor b = picture->ColorAt(px, py);
            target[0] = uint8_t(b.r + (target[0] - b.r) * m / 255);
            target[1] = uint8_t(b.g + (target[1] - b.g) * m / 255);
            target[2] = uint8_t(b.b + (target[2] - b.b) * m / 255);
        }
    }
    FreeLargeBuffer(matte);
}

void CopySourceToPreview(PluginState* state) {
    if (!Delivered(state)) return;
    const FilterRecord* record = state->filterRecord;
    const Rect& in = record->inRect;
    const Rect& out = record->outRect;
    const int32_t w = std::max(0, std::min(in.right - in.left, out.right - out.left));
    const int32_t h = std::max(0, std::min(in.bottom - in.top, out.bottom - out.top));
    const int planes = record->planes;
    for (int32_t j = 0; j < h; ++j) {
        const auto* from = static_cast<const uint8_t*>(record->inData) + int64_t(j) * record->inRowBytes;
        auto* to = static_cast<uint8_t*>(record->outData) + int64_t(j) * record->outRowBytes;
        for (int32_t i = 0; i < w; ++i, from += planes, to += planes) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
}

}  // namespace tav
