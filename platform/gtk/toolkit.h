// The GTK toolkit's own types, shared by its sources (and by its driver, which
// programs that work a dialog themselves link: the tests). Not a service
// header: nothing outside platform/gtk/ includes it.
//
// A dialog is a GtkWindow holding a GtkFixed with one widget for each control
// of the template at its place, in pixels from dialog units by the font's
// average character size. Under the controls lies the canvas: a picture of
// the client area that every drawing call of the dialog (its paints, the
// owner-drawn buttons' draw messages, drawing outside a paint) goes to, and
// that the screen shows. A device context is a cairo context on that picture
// (cairo_t*), so a host drawing what displayPixels is given uses cairo.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_toolkit.h"

namespace tav::platform::gtk {

enum class Kind { Group, Label, Frame, Edit, List, Check, Push, OwnerDrawn, ScrollBar };

struct Dialog;

struct Control {
    Dialog* dialog = nullptr;
    int id = 0;
    Kind kind = Kind::Label;
    const char* className = "";  // the template's
    uint32_t style = 0;
    PixelRect units{};   // the template's place, in dialog units
    PixelRect pixels{};  // where the widget sits, in client pixels (a list: its closed box)
    GtkWidget* widget = nullptr;  // none for the preview's frame, drawn on the canvas
    gulong userSignal = 0;        // blocked while the program sets the control
    bool enabled = true;
    bool pressed = false;  // an owner-drawn button held down
    bool redraw = false;   // an owner-drawn button to be drawn
    bool TabStop() const;
};

struct Dialog {
    DialogProc proc = nullptr;
    intptr_t parameter = 0;
    GtkWidget* window = nullptr;
    GtkWidget* canvas = nullptr;
    cairo_surface_t* picture = nullptr;  // the client area, ARGB, transparent where unpainted
    std::vector<std::unique_ptr<Control>> controls;
    int baseX = 0, baseY = 0;  // dialog base units
    int clientWidth = 0, clientHeight = 0;
    PixelRect invalid{};
    guint paintSource = 0;
    GMainLoop* loop = nullptr;
    bool ended = false;
    intptr_t code = 0;
    bool captured = false;
    Control* pressedButton = nullptr;  // an owner-drawn button the mouse went down on
    PixelRect screen{};                // the window's rectangle, as last placed or reported
    bool moveRequested = false;
    int paints = 0;

    WindowHandle Handle() { return reinterpret_cast<WindowHandle>(this); }
    Control* Find(int id);
    intptr_t Send(uint32_t message, uintptr_t first, intptr_t second) { return proc(Handle(), message, first, second); }
    void Command(const Control& c, uint16_t code);
};

// GTK is started once, on the first need; false when there is no display.
bool StartGtk();

// Dialog units to the dialog's pixels.
PixelRect ToPixels(const Dialog* d, const PixelRect& units);

// The open dialog behind a handle, or null when the handle is no dialog of
// ours (a native window of the host, or 0). The last dialog opened is the
// one the cursor calls change.
Dialog* OpenDialog(WindowHandle handle);
Dialog* TopDialog();

// Makes `window` a transient of `owner`: one of our dialogs, or a native
// (X11) window of the host. Returns the owner's client origin on the screen
// when it is a native window that can be found.
bool SetTransientOwner(GtkWindow* window, WindowHandle owner, int* originX, int* originY);

// Sends the paint message and the owner-drawn buttons' draw messages that
// wait, as the system does once no other message waits.
void PaintNow(Dialog* d);
void SchedulePaint(Dialog* d);

// The mouse's messages from the canvas, and an owner-drawn button's click.
void ClickOwnerDrawn(Dialog* d, Control* c);

// A device context on the dialog's picture; EndContext shows what was drawn.
DeviceContext BeginContext(Dialog* d);
void EndContext(Dialog* d, DeviceContext context);
// Clears a rectangle of the picture to transparent.
void ClearPicture(Dialog* d, const PixelRect& r);
// The sunken black frame of a static control.
void DrawBlackFrame(Dialog* d, const PixelRect& r);

// The monitors' work areas, in screen coordinates.
std::vector<PixelRect> MonitorWorkAreas();

// The file last handed to the help viewer.
extern std::string g_lastHelpFile;
// Whether the wait cursor is shown.
extern bool g_waitCursor;

}  // namespace tav::platform::gtk
