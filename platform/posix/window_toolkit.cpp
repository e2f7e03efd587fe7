// The window toolkit on POSIX: an in-process model of a dialog's controls,
// the dialog manager's rules and the drawing calls, driven by a program
// (platform/posix/dialog_driver.h).
#include "platform/window_toolkit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/dialog_driver.h"
#include "resources/eyedropper.h"
#include "resources/dialog_template.h"

namespace tav::platform {
namespace {

constexpr int kDialogBaseUnitX = 6, kDialogBaseUnitY = 13;  // the template's font, measured
constexpr uint8_t kUnpainted = 255;  // the client area before the dialog paints
constexpr int kFrameWidth = 3;      // the window's border, each side
constexpr int kCaptionHeight = 22;

int32_t RoundedMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
    const int64_t product = int64_t(number) * numerator;
    const int64_t magnitude = (std::llabs(product) + denominator / 2) / denominator;
    return int32_t(product < 0 ? -magnitude : magnitude);
}

PixelRect ToPixels(const PixelRect& units) {
    return PixelRect{RoundedMulDiv(units.left, kDialogBaseUnitX, 4), RoundedMulDiv(units.top, kDialogBaseUnitY, 8),
                     RoundedMulDiv(units.right, kDialogBaseUnitX, 4), RoundedMulDiv(units.bottom, kDialogBaseUnitY, 8)};
}

bool Contains(const PixelRect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
bool Empty(const PixelRect& r) { return r.right <= r.left || r.bottom <= r.top; }

struct Control {
    ControlInfo info;
    std::string text;
    bool enabled = true;
    bool checked = false;
    bool pressed = false;
    bool redraw = false;  // an owner-drawn button to be drawn
    std::vector<std::string> items;
    int selected = -1;
    int scrollMinimum = 0, scrollMaximum = 100, scrollPosition = 0;

    bool Is(const char* name) const { return info.className == name; }
    uint32_t Kind() const { return info.style & 0xF; }
    bool OwnerDrawn() const { return Is("Button") && Kind() == TAV_BS_OWNERDRAW; }
    bool Clickable() const { return Is("Button") && Kind() != TAV_BS_GROUPBOX; }
};

struct Dialog {
    DialogProc proc = nullptr;
    intptr_t parameter = 0;
    std::vector<std::unique_ptr<Control>> controls;
    PixelRect screen{};  // the window rectangle
    int clientWidth = 0, clientHeight = 0;
    std::vector<uint8_t> surface;  // client area, RGB
    PixelRect invalid{};
    bool ended = false;
    intptr_t code = 0;
    bool captured = false;
    Control* pressed = nullptr;  // a button held down by the mouse
    int paints = 0;

    Control* Find(int id) {
        for (auto& c : controls)
            if (c->info.id == id) return c.get();
        return nullptr;
    }
    WindowHandle Handle() { return reinterpret_cast<WindowHandle>(this); }
    intptr_t Send(uint32_t message, uintptr_t first, intptr_t second) {
        return proc(Handle(), message, first, second);
    }
    void Command(const Control& c, uint16_t code) {
        Send(kMessageCommand, uintptr_t(uint16_t(c.info.id)) | (uintptr_t(code) << 16),
             reinterpret_cast<intptr_t>(&c));
    }
};

struct Pen {
    uint8_t r, g, b;
};
Pen g_blackPen{0, 0, 0};
Pen g_whitePen{255, 255, 255};

struct Context {
    Dialog* dialog;
    Pen* pen;
    bool xorLines;
    int x, y;
};

struct Bitmap {
    int width, height;
    std::vector<uint8_t> rgb;
};

DialogDriver g_driver = nullptr;
void* g_driverContext = nullptr;
std::vector<PixelRect> g_monitors{PixelRect{0, 0, 1920, 1080}};
bool g_waitCursor = false;
std::string g_helpFile;

Dialog* DialogOf(WindowHandle handle) { return reinterpret_cast<Dialog*>(handle); }
Context* ContextOf(DeviceContext context) { return reinterpret_cast<Context*>(context); }

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

// Sends the paint message while a region waits for it, and the draw message
// to every owner-drawn button that needs drawing.
void Pump(Dialog* d) {
    for (int round = 0; round < 16 && !d->ended; ++round) {
        bool any = false;
        for (auto& c : d->controls) {
            if (!c->redraw || d->ended) continue;
            c->redraw = false;
            any = true;
            Context context{d, &g_blackPen, false, 0, 0};
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

intptr_t MousePoint(int x, int y) { return intptr_t(uint16_t(x)) | (intptr_t(uint16_t(y)) << 16); }

// The clickable control under the point, if any.
Control* ButtonAt(Dialog* d, int x, int y) {
    for (auto& c : d->controls)
        if (c->Clickable() && Contains(c->info.pixels, x, y)) return c.get();
    return nullptr;
}

// A point over a control that takes the mouse itself (an edit box, a list, a
// scroll bar) reaches neither the dialog nor a button.
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

}  // namespace

// ---- The toolkit ------------------------------------------------------------------

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
    paint.context = reinterpret_cast<DeviceContext>(new Context{d, &g_blackPen, false, 0, 0});
    return paint;
}

void EndPaint(WindowHandle, PaintSession* paint) {
    delete ContextOf(paint->context);
    paint->context = 0;
}

DeviceContext GetDrawingContext(WindowHandle dialog) {
    return reinterpret_cast<DeviceContext>(new Context{DialogOf(dialog), &g_blackPen, false, 0, 0});
}

void ReleaseDrawingContext(WindowHandle, DeviceContext context) { delete ContextOf(context); }

DrawItem ReadDrawItem(intptr_t second) { return *reinterpret_cast<const DrawItem*>(second); }

PenHandle CreatePen(uint8_t red, uint8_t green, uint8_t blue) {
    return reinterpret_cast<PenHandle>(new Pen{red, green, blue});
}

void DeletePen(PenHandle pen) {
    auto* p = reinterpret_cast<Pen*>(pen);
    if (p != nullptr && p != &g_blackPen && p != &g_whitePen) delete p;
}

PenHandle BlackPen() { return reinterpret_cast<PenHandle>(&g_blackPen); }
PenHandle WhitePen() { return reinterpret_cast<PenHandle>(&g_whitePen); }

PenHandle SelectPen(DeviceContext context, PenHandle pen) {
    Context* c = ContextOf(context);
    Pen* previous = c->pen;
    c->pen = reinterpret_cast<Pen*>(pen);
    return reinterpret_cast<PenHandle>(previous);
}

bool SetXorLines(DeviceContext context, bool xorLines) {
    Context* c = ContextOf(context);
    const bool previous = c->xorLines;
    c->xorLines = xorLines;
    return previous;
}

void MoveTo(DeviceContext context, int x, int y) {
    Context* c = ContextOf(context);
    c->x = x;
    c->y = y;
}

void LineTo(DeviceContext context, int x, int y) {
    Context* c = ContextOf(context);
    // Bresenham's steps from the current point, the end point left out.
    int x0 = c->x, y0 = c->y;
    const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int error = dx + dy;
    while (x0 != x || y0 != y) {
        Plot(c, x0, y0, c->pen->r, c->pen->g, c->pen->b, c->xorLines);
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
    c->x = x;
    c->y = y;
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
    static const char* const kRows[] = {TAVRISK_EYEDROPPER_ROWS};
    auto* bitmap = new Bitmap{TAVRISK_EYEDROPPER_SIZE, TAVRISK_EYEDROPPER_SIZE, {}};
    for (const char* row : kRows)
        for (const char* p = row; *p != '\0'; ++p) {
            const uint8_t v = *p == '#' ? 0 : *p == 'o' ? 128 : *p == 'w' ? 255 : 192;
            bitmap->rgb.insert(bitmap->rgb.end(), {v, v, v});
        }
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

// ---- The driver's side -----------------------------------------------------------

void SetDialogDriver(DialogDriver driver, void* context) {
    g_driver = driver;
    g_driverContext = context;
}

void ClickButton(WindowHandle dialog, int id) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (d->ended || c == nullptr || !c->Clickable() || !c->enabled) return;
    if (c->OwnerDrawn()) {
        c->pressed = true;
        c->redraw = true;
        Pump(d);
        c->pressed = false;
        c->redraw = true;
    }
    Click(d, c);
    Pump(d);
}

void TypeText(WindowHandle dialog, int id, const std::string& text) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (d->ended || c == nullptr || !c->Is("Edit") || !c->enabled) return;
    SetControlText(dialog, id, text.c_str());
    Pump(d);
}

void ChooseListItem(WindowHandle dialog, int id, int index) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (d->ended || c == nullptr || !c->Is("ComboBox") || !c->enabled) return;
    if (index < 0 || index >= int(c->items.size())) return;
    c->selected = index;
    d->Command(*c, kNotifySelectionChanged);
    Pump(d);
}

void Scroll(WindowHandle dialog, int id, uint16_t code, int16_t thumb) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (d->ended || c == nullptr || !c->Is("ScrollBar") || !c->enabled) return;
    d->Send(kMessageHScroll, uintptr_t(code) | (uintptr_t(uint16_t(thumb)) << 16), reinterpret_cast<intptr_t>(c));
    Pump(d);
}

void MouseDown(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    if (d->ended) return;
    if (!d->captured) {
        if (Control* button = ButtonAt(d, x, y)) {
            if (!button->enabled) return;
            d->pressed = button;
            if (button->OwnerDrawn()) {
                button->pressed = true;
                button->redraw = true;
            }
            Pump(d);
            return;
        }
        if (OverInputControl(d, x, y)) return;
    }
    d->Send(kMessageButtonDown, 1, MousePoint(x, y));
    Pump(d);
}

void MouseMove(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    if (d->ended || d->pressed != nullptr) return;
    if (!d->captured && (ButtonAt(d, x, y) != nullptr || OverInputControl(d, x, y))) return;
    d->Send(kMessageMouseMove, d->captured ? 1 : 0, MousePoint(x, y));
    Pump(d);
}

void MouseUp(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    if (d->ended) return;
    if (Control* button = d->pressed) {
        d->pressed = nullptr;
        if (button->OwnerDrawn()) {
            button->pressed = false;
            button->redraw = true;
        }
        if (Contains(button->info.pixels, x, y)) Click(d, button);
        Pump(d);
        return;
    }
    if (!d->captured && (ButtonAt(d, x, y) != nullptr || OverInputControl(d, x, y))) return;
    d->Send(kMessageButtonUp, 0, MousePoint(x, y));
    d->captured = false;
    Pump(d);
}

void PressEscape(WindowHandle dialog) { CloseBox(dialog); }

void PressEnter(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    Control* ok = d->Find(kCommandOk);
    if (d->ended || ok == nullptr || !ok->enabled) return;
    d->Command(*ok, kNotifyClicked);
    Pump(d);
}

void CloseBox(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    Control* cancel = d->Find(kCommandCancel);
    if (d->ended || cancel == nullptr) return;
    d->Command(*cancel, kNotifyClicked);
    Pump(d);
}

std::vector<ControlInfo> Controls(WindowHandle dialog) {
    std::vector<ControlInfo> list;
    for (auto& c : DialogOf(dialog)->controls) list.push_back(c->info);
    return list;
}

std::string ControlText(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr ? c->text : "";
}

bool ControlEnabled(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr && c->enabled;
}

bool ControlChecked(WindowHandle dialog, int id) { return IsChecked(dialog, id); }
std::vector<std::string> ListItems(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr ? c->items : std::vector<std::string>{};
}

int ListSelection(WindowHandle dialog, int id) { return SelectedListItem(dialog, id); }
int ScrollPositionOf(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr ? c->scrollPosition : 0;
}

bool MouseCaptured(WindowHandle dialog) { return DialogOf(dialog)->captured; }
bool WaitCursorShown() { return g_waitCursor; }
bool DialogEnded(WindowHandle dialog) { return DialogOf(dialog)->ended; }
intptr_t DialogParameter(WindowHandle dialog) { return DialogOf(dialog)->parameter; }
std::string LastHelpFile() { return g_helpFile; }
int PaintCount(WindowHandle dialog) { return DialogOf(dialog)->paints; }

ClientPicture ClientArea(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    return ClientPicture{d->clientWidth, d->clientHeight, d->surface};
}

void PutPixels(DeviceContext context, int x, int y, int width, int height, const uint8_t* rgb) {
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const uint8_t* p = rgb + (size_t(row) * width + column) * 3;
            Plot(ContextOf(context), x + column, y + row, p[0], p[1], p[2], false);
        }
}

void SetMonitorWorkAreas(const std::vector<PixelRect>& areas) { g_monitors = areas; }
PixelRect DialogUnitsToPixels(WindowHandle, const PixelRect& units) { return ToPixels(units); }

}  // namespace tav::platform
