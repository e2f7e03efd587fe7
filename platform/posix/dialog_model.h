// The in-process model of a dialog on POSIX, which the window toolkit
// (window_toolkit.cpp) and the driver's side (dialog_driver.cpp) share: the
// controls, the client area's picture, the pens and bitmaps, and the dialog
// manager's own steps (painting what waits, clicking a button).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/dialog_driver.h"
#include "platform/posix/pens.h"
#include "platform/window_toolkit.h"
#include "resources/dialog_template.h"

namespace tav::platform::model {

constexpr int kDialogBaseUnitX = 6, kDialogBaseUnitY = 13;  // the template's font, measured
constexpr uint8_t kUnpainted = 255;  // the client area before the dialog paints
constexpr int kFrameWidth = 3;       // the window's border, each side
constexpr int kCaptionHeight = 22;

int32_t RoundedMulDiv(int32_t number, int32_t numerator, int32_t denominator);

PixelRect ToPixels(const PixelRect& units);

inline bool Contains(const PixelRect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
inline bool Empty(const PixelRect& r) { return r.right <= r.left || r.bottom <= r.top; }

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

struct Context {
    Dialog* dialog;
    pens::PenState pen;
};

struct Bitmap {
    int width, height;
    std::vector<uint8_t> rgb;
};

// The program that drives the dialogs, the monitors' work areas, the cursor
// and the help file last opened.
extern DialogDriver g_driver;
extern void* g_driverContext;
extern std::vector<PixelRect> g_monitors;
extern bool g_waitCursor;
extern std::string g_helpFile;

inline Dialog* DialogOf(WindowHandle handle) { return reinterpret_cast<Dialog*>(handle); }
inline Context* ContextOf(DeviceContext context) { return reinterpret_cast<Context*>(context); }

void Plot(Context* c, int x, int y, uint8_t r, uint8_t g, uint8_t b, bool xorLines);

// Sends the paint message while a region waits for it, and the draw message
// to every owner-drawn button that needs drawing.
void Pump(Dialog* d);

inline intptr_t MousePoint(int x, int y) { return intptr_t(uint16_t(x)) | (intptr_t(uint16_t(y)) << 16); }

// The clickable control under the point, if any.
Control* ButtonAt(Dialog* d, int x, int y);

// A point over a control that takes the mouse itself (an edit box, a list, a
// scroll bar) reaches neither the dialog nor a button.
bool OverInputControl(Dialog* d, int x, int y);

void Click(Dialog* d, Control* c);

}  // namespace tav::platform::model
