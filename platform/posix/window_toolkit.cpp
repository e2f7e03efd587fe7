// The window toolkit on POSIX: an in-process model of a dialog's controls,
// the dialog manager's rules and the drawing calls (dialog_model.h), driven
// by a program (platform/posix/dialog_driver.h).
#include "platform/window_toolkit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/posix/dialog_model.h"
#include "resources/eyedropper.h"

namespace tav::platform {

using namespace model;

intptr_t RunModalDialog(const char* name, WindowHandle, DialogProc proc, intptr_t parameter) {
    if (name == nullptr || std::strcmp(name, "TAVRISKPARAM") != 0 || proc == nullptr) return -1;
    Dialog d;
    d.proc = proc;
    d.parameter = parameter;
#define TAV_MODEL_CONTROL(caption, id, kind, style, x, y, width, height)                               \
    {                                                                                                    \
        auto control = std::make_unique<Control>();                                                      \
        control->info = ControlInfo{id, kind, uint32_t(style), PixelRect{x, y, (x) + (width), (y) + (height)}, \
                                    ToPixels(PixelRect{x, y, (x) + (width), (y) + (height)})};           \
        control->text = caption;                                                                         \
        control->redraw = control->OwnerDrawn();                                                         \
        d.controls.push_back(std::move(control));                                                        \
    }
    TAVRISK_DIALOG_CONTROLS(TAV_MODEL_CONTROL)
#undef TAV_MODEL_CONTROL
    const PixelRect client = ToPixels(PixelRect{0, 0, TAV_DIALOG_WIDTH, TAV_DIALOG_HEIGHT});
    d.clientWidth = client.right;
    d.clientHeight = client.bottom;
    d.surface.assign(size_t(d.clientWidth) * d.clientHeight * 3, kUnpainted);
    const PixelRect origin = ToPixels(PixelRect{TAV_DIALOG_X, TAV_DIALOG_Y, TAV_DIALOG_X, TAV_DIALOG_Y});
    d.screen = PixelRect{origin.left, origin.top, origin.left + d.clientWidth + 2 * kFrameWidth,
                         origin.top + d.clientHeight + kCaptionHeight + 2 * kFrameWidth};
    d.invalid = PixelRect{0, 0, d.clientWidth, d.clientHeight};

    d.Send(kMessageInitDialog, 0, parameter);
    Pump(&d);
    if (!d.ended && g_driver != nullptr) g_driver(d.Handle(), g_driverContext);
    if (!d.ended) CloseBox(d.Handle());
    if (!d.ended) {
        d.ended = true;
        d.code = kCommandCancel;
    }
    d.Send(kMessageDestroy, 0, 0);
    return d.code;
}

void EndDialog(WindowHandle dialog, intptr_t code) {
    Dialog* d = DialogOf(dialog);
    d->ended = true;
    d->code = code;
    d->captured = false;
}

void SetControlText(WindowHandle dialog, int id, const char* text) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (c == nullptr) return;
    c->text = text != nullptr ? text : "";
    if (c->Is("Edit")) d->Command(*c, kNotifyEditChanged);
}

int GetControlText(WindowHandle dialog, int id, char* buffer, int size) {
    Control* c = DialogOf(dialog)->Find(id);
    if (buffer == nullptr || size <= 0) return 0;
    const std::string text = c != nullptr ? c->text : "";
    const int length = std::min(int(text.size()), size - 1);
    std::memcpy(buffer, text.data(), size_t(length));
    buffer[length] = '\0';
    return length;
}

void SetChecked(WindowHandle dialog, int id, bool checked) {
    if (Control* c = DialogOf(dialog)->Find(id)) c->checked = checked;
}

bool IsChecked(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr && c->checked;
}

void ClearList(WindowHandle dialog, int id) {
    if (Control* c = DialogOf(dialog)->Find(id)) {
        c->items.clear();
        c->selected = -1;
    }
}

void AddListItem(WindowHandle dialog, int id, const char* text) {
    if (Control* c = DialogOf(dialog)->Find(id)) c->items.emplace_back(text != nullptr ? text : "");
}

void SelectListItem(WindowHandle dialog, int id, int index) {
    if (Control* c = DialogOf(dialog)->Find(id)) c->selected = index >= 0 && index < int(c->items.size()) ? index : -1;
}

int SelectedListItem(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr ? c->selected : -1;
}

void SetScrollRange(WindowHandle dialog, int id, int minimum, int maximum, bool) {
    if (Control* c = DialogOf(dialog)->Find(id)) {
        c->scrollMinimum = minimum;
        c->scrollMaximum = maximum;
        c->scrollPosition = std::clamp(c->scrollPosition, minimum, std::max(minimum, maximum));
    }
}

void SetScrollPosition(WindowHandle dialog, int id, int position, bool) {
    if (Control* c = DialogOf(dialog)->Find(id))
        c->scrollPosition = std::clamp(position, c->scrollMinimum, std::max(c->scrollMinimum, c->scrollMaximum));
}

void EnableControl(WindowHandle dialog, int id, bool enabled) {
    Control* c = DialogOf(dialog)->Find(id);
    if (c == nullptr || c->enabled == enabled) return;
    c->enabled = enabled;
    if (c->OwnerDrawn()) c->redraw = true;
}

int ControlIdOf(WindowHandle control) {
    return control != 0 ? reinterpret_cast<const Control*>(control)->info.id : 0;
}

PixelRect ControlRect(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr ? c->info.pixels : PixelRect{};
}

PixelRect DialogScreenRect(WindowHandle dialog) { return DialogOf(dialog)->screen; }

void MoveDialog(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    d->screen = PixelRect{x, y, x + (d->screen.right - d->screen.left), y + (d->screen.bottom - d->screen.top)};
}

bool OnSomeMonitor(const PixelRect& r) {
    for (const PixelRect& m : g_monitors)
        if (r.left < m.right && m.left < r.right && r.top < m.bottom && m.top < r.bottom) return true;
    return false;
}

void CaptureMouse(WindowHandle dialog) { DialogOf(dialog)->captured = true; }

void ReleaseMouse() {}

CursorHandle ShowWaitCursor() {
    const CursorHandle previous = g_waitCursor ? 1 : 0;
    g_waitCursor = true;
    return previous;
}

void RestoreCursor(CursorHandle cursor) { g_waitCursor = cursor != 0; }

void Invalidate(WindowHandle dialog, const PixelRect& area) {
    Dialog* d = DialogOf(dialog);
    if (Empty(area)) return;
    if (Empty(d->invalid)) {
        d->invalid = area;
        return;
    }
    d->invalid = PixelRect{std::min(d->invalid.left, area.left), std::min(d->invalid.top, area.top),
                           std::max(d->invalid.right, area.right), std::max(d->invalid.bottom, area.bottom)};
}

PaintSession BeginPaint(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    d->invalid = PixelRect{};
    ++d->paints;
    PaintSession paint{};
    paint.context = reinterpret_cast<DeviceContext>(new Context{d, {}});
    return paint;
}

void EndPaint(WindowHandle, PaintSession* paint) {
    delete ContextOf(paint->context);
    paint->context = 0;
}

DeviceContext GetDrawingContext(WindowHandle dialog) {
    return reinterpret_cast<DeviceContext>(new Context{DialogOf(dialog), {}});
}

void ReleaseDrawingContext(WindowHandle, DeviceContext context) { delete ContextOf(context); }

namespace pens {
PenState* PenStateOf(DeviceContext context) { return &ContextOf(context)->pen; }
}  // namespace pens

DrawItem ReadDrawItem(intptr_t second) { return *reinterpret_cast<const DrawItem*>(second); }

void LineTo(DeviceContext context, int x, int y) {
    Context* c = ContextOf(context);
    const pens::Pen& pen = *c->pen.pen;
    pens::TraceLine(&c->pen, x, y, [&](int px, int py) { Plot(c, px, py, pen.r, pen.g, pen.b, c->pen.xorLines); });
}

void SetPixelColor(DeviceContext context, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
    Plot(ContextOf(context), x, y, red, green, blue, false);
}

void FillLightGrey(DeviceContext context, int x, int y, int width, int height) {
    for (int row = y; row < y + height; ++row)
        for (int column = x; column < x + width; ++column)
            Plot(ContextOf(context), column, row, 192, 192, 192, false);
}

BitmapHandle LoadBitmapResource(int id) {
    if (id != 101) return 0;
    auto* bitmap = new Bitmap{TAVRISK_EYEDROPPER_SIZE, TAVRISK_EYEDROPPER_SIZE, {}};
    for (uint8_t v : pens::EyedropperGreys()) bitmap->rgb.insert(bitmap->rgb.end(), {v, v, v});
    return reinterpret_cast<BitmapHandle>(bitmap);
}

void DeleteBitmap(BitmapHandle bitmap) { delete reinterpret_cast<Bitmap*>(bitmap); }

void DrawBitmap(DeviceContext context, BitmapHandle handle, int x, int y, int width, int height) {
    const auto* bitmap = reinterpret_cast<const Bitmap*>(handle);
    if (bitmap == nullptr) return;
    for (int row = 0; row < std::min(height, bitmap->height); ++row)
        for (int column = 0; column < std::min(width, bitmap->width); ++column) {
            const uint8_t* p = &bitmap->rgb[(size_t(row) * bitmap->width + column) * 3];
            Plot(ContextOf(context), x + column, y + row, p[0], p[1], p[2], false);
        }
}

void OpenHelpContents(WindowHandle, const char* path) { g_helpFile = path != nullptr ? path : ""; }

}  // namespace tav::platform
