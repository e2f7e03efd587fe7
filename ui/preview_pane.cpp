#include "ui/preview_pane.h"

#include <algorithm>
#include <cstdio>

#include "runtime/matte_run.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/preview.h"
#include "resources/dialog_template.h"

namespace tav {
namespace {

using platform::DeviceContext;
using platform::PixelRect;
using platform::WindowHandle;

PaneState g_pane{};

constexpr int kPickBitmap = 101;
constexpr int kPickBitmapSize = 18;

// The controls a pick disables, besides the other pick buttons.
constexpr int kPickLocked[] = {IDC_SCREEN_COLOR, IDC_OUTPUT, IDC_DYNAMIC_RANGE, IDC_CORRECTION_R, IDC_CORRECTION_G,
                               IDC_CORRECTION_B, IDC_FORCE_BLACK_SCROLL, IDC_FORCE_BLACK, IDC_FORCE_WHITE_SCROLL,
                               IDC_FORCE_WHITE, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
                               IDC_SHOW_MATTE, IDC_LOAD, IDC_SAVE, platform::kCommandOk};
constexpr int kPickButtons[] = {IDC_PICK_CORRECTION, IDC_PICK_FORCE_BLACK, IDC_PICK_FORCE_WHITE};

ParameterRecord& Record(PluginState* state) { return *GetParameters(state->filterRecord); }

bool PickEmpty() { return g_pane.cornerX == g_pane.anchorX && g_pane.cornerY == g_pane.anchorY; }

void DrawPickOutline(DeviceContext context) {
    const bool previousMode = platform::SetXorLines(context, true);
    const platform::PenHandle previousPen = platform::SelectPen(context, g_pane.whitePen);
    platform::MoveTo(context, g_pane.anchorX, g_pane.anchorY);
    platform::LineTo(context, g_pane.cornerX, g_pane.anchorY);
    platform::LineTo(context, g_pane.cornerX, g_pane.cornerY);
    platform::LineTo(context, g_pane.anchorX, g_pane.cornerY);
    platform::LineTo(context, g_pane.anchorX, g_pane.anchorY);
    platform::SelectPen(context, previousPen);
    platform::SetXorLines(context, previousMode);
}

// The mouse's point in a mouse message: signed 16-bit client coordinates,
// negative left of or above the client area (where a captured mouse goes on
// reporting).
int32_t PointX(intptr_t second) { return int16_t(uint16_t(second)); }
int32_t PointY(intptr_t second) { return int16_t(uint16_t(second >> 16)); }

// The mouse's point, clamped to the picture.
void ClampedPoint(intptr_t second, int32_t* x, int32_t* y) {
    const PixelRect& image = g_pane.image;
    *x = std::clamp(PointX(second), image.left, std::max(image.left, image.right - 1));
    *y = std::clamp(PointY(second), image.top, std::max(image.top, image.bottom - 1));
}

// A row (y0 == y1) or a column of pixels from (x0, y0) to (x1, y1), both
// ends included; nothing when the end lies before the start.
void Line(DeviceContext context, int x0, int y0, int x1, int y1) {
    if (y0 == y1 ? x1 < x0 : y1 < y0) return;
    platform::MoveTo(context, x0, y0);
    if (y0 == y1)
        platform::LineTo(context, x1 + 1, y0);
    else
        platform::LineTo(context, x0, y1 + 1);
}

// The plus or minus of a zoom button around (cx, cy); lines leave out their
// end point.
void DrawSign(DeviceContext context, int id, int cx, int cy) {
    platform::MoveTo(context, cx - 3, cy);
    platform::LineTo(context, cx + 4, cy);
    if (id == IDC_ZOOM_IN) {
        platform::MoveTo(context, cx, cy - 3);
        platform::LineTo(context, cx, cy + 4);
    }
}

}  // namespace

PaneState& Pane() { return g_pane; }

void RenderChosenPreview(PluginState* state) {
    const ParameterRecord& p = Record(state);
    if (state->panning || (state->picking && p.OutputMethod == kOutputForeground))
        CopySourceToPreview(state);
    else
        RenderPreview(state);
}

void InvalidatePreviewPane(WindowHandle dialog) { platform::Invalidate(dialog, platform::ControlRect(dialog, IDC_PREVIEW)); }

void RefreshPreview(WindowHandle dialog, PluginState* state, bool restart) {
    BuildMatteTable(state);
    RenderChosenPreview(state);
    InvalidatePreviewPane(dialog);
    if (restart) RestartWorker(state);
}

void PaintPreviewPane(PluginState* state, WindowHandle dialog) {
    const FilterRecord* record = state->filterRecord;
    PixelRect frame = platform::ControlRect(dialog, IDC_PREVIEW);
    const int32_t l = frame.left + 2, t = frame.top + 2, r = frame.right - 2, b = frame.bottom - 2;
    // Nothing to show when the host did not deliver the last request: the
    // whole pane is margin.
    const bool delivered = state->result == noErr && record->outData != nullptr;
    const int32_t w = delivered ? record->outRect.right - record->outRect.left : 0;
    const int32_t h = delivered ? record->outRect.bottom - record->outRect.top : 0;
    const int32_t c0 = l + (r - l - w) / 2, r0 = t + (b - t - h) / 2;
    g_pane.image = PixelRect{c0, r0, c0 + w, r0 + h};

    platform::PaintSession paint = platform::BeginPaint(dialog);
    if (delivered && w > 0 && h > 0 && record->displayPixels != nullptr) {
        PSPixelMap map{};
        map.version = 1;
        map.bounds = VRect{record->outRect.top, record->outRect.left, record->outRect.bottom, record->outRect.right};
        map.imageMode = record->imageMode;
        map.rowBytes = record->outRowBytes;
        map.colBytes = record->outHiPlane - record->outLoPlane + 1;
        map.planeBytes = 1;
        map.baseAddr = record->outData;
        PSPixelMask mask{};
        if (record->isFloating) {
            mask.maskData = record->maskData;
            mask.rowBytes = record->maskRowBytes;
            mask.colBytes = 1;
            map.masks = &mask;
        }
        record->displayPixels(&map, &map.bounds, r0, c0, reinterpret_cast<void*>(paint.context));
    }
    const int32_t ml = c0 - l, mt = r0 - t, mr = r - (c0 + w), mb = b - (r0 + h);
    if (ml > 0) platform::FillLightGrey(paint.context, l, t, ml, b - t);
    if (mt > 0) platform::FillLightGrey(paint.context, l, t, r - l, mt);
    if (mr > 0) platform::FillLightGrey(paint.context, r - mr, t, mr, b - t);
    if (mb > 0) platform::FillLightGrey(paint.context, l, b - mb, r - l, mb);
    if (!PickEmpty()) DrawPickOutline(paint.context);
    platform::EndPaint(dialog, &paint);
}

void PaneMouseDown(WindowHandle dialog, uintptr_t, intptr_t second, PluginState* state) {
    const int32_t x = PointX(second), y = PointY(second);
    const PixelRect& pr = PreviewRect();
    if (x < pr.left || x >= pr.right || y < pr.top || y >= pr.bottom) return;
    const ParameterRecord& p = Record(state);
    if (!state->picking && p.FitZoom >= p.PreviewZoom) return;
    int32_t cx, cy;
    ClampedPoint(second, &cx, &cy);
    DeviceContext context = platform::GetDrawingContext(dialog);
    if (!PickEmpty()) DrawPickOutline(context);
    g_pane.anchorX = g_pane.cornerX = cx;
    g_pane.anchorY = g_pane.cornerY = cy;
    g_pane.panStartCenterX = state->previewCenterX;
    g_pane.panStartCenterY = state->previewCenterY;
    platform::CaptureMouse(dialog);
    if (state->picking)
        g_pane.pickCapture = true;
    else
        state->panning = 1;
    platform::ReleaseDrawingContext(dialog, context);
}

void PaneMouseMove(WindowHandle dialog, uintptr_t, intptr_t second, PluginState* state) {
    if (g_pane.pickCapture) {
        int32_t cx, cy;
        ClampedPoint(second, &cx, &cy);
        DeviceContext context = platform::GetDrawingContext(dialog);
        if (!PickEmpty()) DrawPickOutline(context);
        g_pane.cornerX = cx;
        g_pane.cornerY = cy;
        if (!PickEmpty()) DrawPickOutline(context);
        platform::ReleaseDrawingContext(dialog, context);
    } else if (state->panning) {
        const int32_t x = PointX(second), y = PointY(second);
        const ZoomFactors z = ZoomFactorsOf(Record(state).PreviewZoom);
        // The picture follows the mouse.
        state->previewCenterX = g_pane.panStartCenterX - MulDiv(x - g_pane.anchorX, z.n, z.m);
        state->previewCenterY = g_pane.panStartCenterY - MulDiv(y - g_pane.anchorY, z.n, z.m);
        LayOutPreview(state);
        BuildMatteTable(state);
        RenderChosenPreview(state);
        InvalidatePreviewPane(dialog);
    }
}

void TogglePickMode(WindowHandle dialog, int id, PluginState* state) {
    ParameterRecord& p = Record(state);
    if (state->picking) {
        // The active pick button pressed again: the pick is called off.
        StopWorker(state);
        state->picking = 0;
        EnablePickControls(dialog);
        p.OutputMethod = uint8_t(state->savedOutputMethod);
        BuildMatteTable(state);
        RenderChosenPreview(state);
        InvalidatePreviewPane(dialog);
        RestartWorker(state);
        return;
    }
    state->pickControl = id;
    state->picking = 1;
    state->savedOutputMethod = p.OutputMethod;
    if (id == IDC_PICK_CORRECTION) {
        // Picked on the unprocessed colours; the worker waits for the pick.
        StopWorker(state);
        p.OutputMethod = kOutputForeground;
        BuildMatteTable(state);
        RenderChosenPreview(state);
        InvalidatePreviewPane(dialog);
    } else if (p.OutputMethod != kOutputMatte) {
        StopWorker(state);
        p.OutputMethod = kOutputMatte;
        BuildMatteTable(state);
        RenderChosenPreview(state);
        InvalidatePreviewPane(dialog);
        RestartWorker(state);
    }
    for (int control : kPickLocked) platform::EnableControl(dialog, control, false);
    for (int button : kPickButtons)
        if (button != id) platform::EnableControl(dialog, button, false);
}

void EndPick(WindowHandle dialog, PluginState* state) {
    const platform::CursorHandle previous = platform::ShowWaitCursor();
    WaitForWorker(state);  // the picks of the matte read the finished one
    state->picking = 0;
    ApplyPick(dialog, state);
    EnablePickControls(dialog);
    g_pane.anchorX = g_pane.anchorY = g_pane.cornerX = g_pane.cornerY = 0;
    Record(state).OutputMethod = uint8_t(state->savedOutputMethod);
    BuildMatteTable(state);
    RenderChosenPreview(state);
    InvalidatePreviewPane(dialog);
    RestartWorker(state);
    platform::RestoreCursor(previous);
}

void ApplyPick(WindowHandle dialog, PluginState* state) {
    ParameterRecord& p = Record(state);
    const ZoomFactors z = ZoomFactorsOf(p.PreviewZoom);
    const PixelRect& pr = PreviewRect();
    const int32_t pcx = pr.left + (pr.right - pr.left) / 2, pcy = pr.top + (pr.bottom - pr.top) / 2;
    const int32_t cx = state->previewCenterX == -1 ? state->width / 2 : state->previewCenterX;
    const int32_t cy = state->previewCenterY == -1 ? state->height / 2 : state->previewCenterY;
    const int32_t x0 = std::max(0, cx + MulDiv(g_pane.anchorX - pcx, z.n, z.m));
    const int32_t y0 = std::max(0, cy + MulDiv(g_pane.anchorY - pcy, z.n, z.m));
    const int32_t x1 = std::min(state->width, cx + MulDiv(g_pane.cornerX - pcx, z.n, z.m));
    const int32_t y1 = std::min(state->height, cy + MulDiv(g_pane.cornerY - pcy, z.n, z.m));
    char text[16];

    if (state->pickControl == IDC_PICK_CORRECTION) {
        const bool green = p.ScreenColor == 1;
        int32_t best = 0, dr = 0, dg = 0, db = 0;
        for (int32_t y = y0; y < y1 && state->sourceImage != nullptr; ++y)
            for (int32_t x = x0; x < x1; ++x) {
                const uint8_t* px = state->sourceImage + 3 * (int64_t(y) * state->width + x);
                const int32_t r = -px[0], g = (green ? 255 : 0) - px[1], b = (green ? 0 : 255) - px[2];
                const int32_t d2 = r * r + g * g + b * b;
                if (d2 > best) {
                    best = d2;
                    dr = r;
                    dg = g;
                    db = b;
                }
            }
        p.CorrectionR = dr;
        p.CorrectionG = dg;
        p.CorrectionB = db;
        // Their change notifications find the fields already holding them.
        const int32_t values[3] = {dr, dg, db};
        const int ids[3] = {IDC_CORRECTION_R, IDC_CORRECTION_G, IDC_CORRECTION_B};
        for (int k = 0; k < 3; ++k) {
            std::snprintf(text, sizeof text, "%d", int(values[k]));
            platform::SetControlText(dialog, ids[k], text);
        }
        return;
    }
    int32_t hi = 0, lo = 255;
    for (int32_t y = y0; y < y1 && state->finalMatte != nullptr; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const int32_t m = state->finalMatte[int64_t(y) * state->width + x];
            hi = std::max(hi, m);
            lo = std::min(lo, m);
        }
    const bool black = state->pickControl == IDC_PICK_FORCE_BLACK;
    const int32_t value = black ? hi : 255 - lo;
    if (black)
        p.ForceBlack = uint8_t(value);
    else
        p.ForceWhite = uint8_t(value);
    platform::SetScrollPosition(dialog, black ? IDC_FORCE_BLACK_SCROLL : IDC_FORCE_WHITE_SCROLL, value, true);
    std::snprintf(text, sizeof text, "%u", unsigned(value));
    platform::SetControlText(dialog, black ? IDC_FORCE_BLACK : IDC_FORCE_WHITE, text);
}

void EnablePickControls(WindowHandle dialog) {
    for (int control : kPickLocked) platform::EnableControl(dialog, control, true);
    for (int button : kPickButtons) platform::EnableControl(dialog, button, true);
}

int32_t DrawOwnerButton(WindowHandle, int id, intptr_t item, PluginState* state) {
    const platform::DrawItem d = platform::ReadDrawItem(item);
    const int pressed = d.selected ? 1 : 0;
    const int left = d.rect.left, top = d.rect.top, w = d.rect.right - d.rect.left, h = d.rect.bottom - d.rect.top;
    if (id == IDC_PICK_CORRECTION || id == IDC_PICK_FORCE_BLACK || id == IDC_PICK_FORCE_WHITE) {
        if (state->pickBitmap == 0) state->pickBitmap = platform::LoadBitmapResource(kPickBitmap);
        if (state->pickBitmap == 0) return 0;
        platform::DrawBitmap(d.context, state->pickBitmap, left + (w - kPickBitmapSize) / 2 + pressed,
                             top + (h - kPickBitmapSize) / 2 + pressed, kPickBitmapSize, kPickBitmapSize);
        DrawButtonFrame(d.context, left, top, w, h, d.selected);
        return 1;
    }
    if (id == IDC_ZOOM_IN || id == IDC_ZOOM_OUT) {
        const platform::PenHandle grey = platform::CreatePen(192, 192, 192);
        const platform::PenHandle previous = platform::SelectPen(d.context, grey);
        DrawSign(d.context, id, left + w / 2 - pressed, top + h / 2 - pressed);
        platform::SelectPen(d.context, platform::BlackPen());
        DrawSign(d.context, id, left + w / 2 - (1 - pressed), top + h / 2 - (1 - pressed));
        platform::SelectPen(d.context, previous);
        platform::DeletePen(grey);
        DrawButtonFrame(d.context, left, top, w, h, d.selected);
    }
    return 0;
}

void DrawButtonFrame(DeviceContext context, int left, int top, int w, int h, bool pressed) {
    const platform::PenHandle previous = platform::SelectPen(context, platform::BlackPen());
    Line(context, left + 1, top, left + w - 2, top);
    Line(context, left + 1, top + h - 1, left + w - 2, top + h - 1);
    Line(context, left, top + 1, left, top + h - 2);
    Line(context, left + w - 1, top + 1, left + w - 1, top + h - 2);

    const int x = left + 1, y = top + 1, iw = w - 2, ih = h - 2;
    const int t = std::max(2, iw / 14);
    const platform::PenHandle grey = platform::CreatePen(192, 192, 192);
    const platform::PenHandle dark = platform::CreatePen(128, 128, 128);
    for (int k = 0; k < t; ++k) {
        platform::SelectPen(context, pressed ? grey : platform::WhitePen());
        Line(context, x, y + k, x + iw - k - 2, y + k);  // top
        Line(context, x + k, y, x + k, y + ih - k - 2);  // left
        platform::SelectPen(context, pressed ? grey : dark);
        Line(context, x + k, y + ih - k - 1, x + iw - 2, y + ih - k - 1);  // bottom
        Line(context, x + iw - k - 1, y + k, x + iw - k - 1, y + ih - 2);  // right
    }
    if (!pressed) platform::SetPixelColor(context, x + iw - 1, y + ih - 1, 128, 128, 128);
    platform::SelectPen(context, previous);
    platform::DeletePen(grey);
    platform::DeletePen(dark);
}

}  // namespace tav
