// The window toolkit: a modal dialog from a template in this module's
// resources, its controls, the mouse and cursor, and the few drawing calls the
// preview pane makes. Messages, notification codes and scroll codes carry the
// system's own values; coordinates are pixels in the dialog's client area
// unless a name says otherwise.
//
// The dialog manager's behaviours the dialog relies on hold on every
// platform: the focus goes to the first control with a tab stop after the
// first message returns true; Escape and the close box arrive as a command
// from Cancel (2) and Enter as one from OK (1); setting an edit box's text
// raises its change notification at once; selecting a list item from the
// program raises none; a button clicked with the mouse sends its command when
// the button is released; a region made invalid is painted (the paint
// message) once no other message waits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/message_box.h"

namespace tav::platform {

// Messages a dialog procedure receives.
enum : uint32_t {
    kMessageDestroy = 0x0002,
    kMessagePaint = 0x000F,
    kMessageDrawItem = 0x002B,
    kMessageInitDialog = 0x0110,
    kMessageCommand = 0x0111,
    kMessageHScroll = 0x0114,
    kMessageMouseMove = 0x0200,
    kMessageButtonDown = 0x0201,
    kMessageButtonUp = 0x0202,
};

// The dialog manager's command ids.
constexpr int kCommandOk = 1;
constexpr int kCommandCancel = 2;

// Notification codes, the high word of a command's first word.
constexpr uint16_t kNotifyClicked = 0;
constexpr uint16_t kNotifySelectionChanged = 1;
constexpr uint16_t kNotifyEditChanged = 0x0300;

// Scroll codes, the low word of a scroll message's first word.
enum : uint16_t {
    kScrollLineLeft = 0,
    kScrollLineRight = 1,
    kScrollPageLeft = 2,
    kScrollPageRight = 3,
    kScrollThumbPosition = 4,
    kScrollThumbTrack = 5,
    kScrollLeftEnd = 6,
    kScrollRightEnd = 7,
    kScrollEnd = 8,
};

using DialogProc = intptr_t (*)(WindowHandle dialog, uint32_t message, uintptr_t first, intptr_t second);
using DeviceContext = intptr_t;  // 0: none
using BitmapHandle = intptr_t;   // 0: none
using PenHandle = intptr_t;      // 0: none
using CursorHandle = intptr_t;

struct PixelRect {
    int32_t left, top, right, bottom;
};

// Runs the modal dialog `name` of this module's resources, owned by `owner`,
// with `proc` as its procedure; `parameter` arrives as the second word of
// the first message. Returns the code given to EndDialog, or -1 when the
// dialog could not be made.
intptr_t RunModalDialog(const char* name, WindowHandle owner, DialogProc proc, intptr_t parameter);
void EndDialog(WindowHandle dialog, intptr_t code);

// ---- Controls, by id ----------------------------------------------------------

// The control's text; an edit box raises its change notification at once.
void SetControlText(WindowHandle dialog, int id, const char* text);
// Into `buffer` of `size` characters, cut to fit and NUL-terminated; the
// length.
int GetControlText(WindowHandle dialog, int id, char* buffer, int size);
void SetChecked(WindowHandle dialog, int id, bool checked);
bool IsChecked(WindowHandle dialog, int id);
// Drop-down lists: emptying, adding at the end, selecting by index (no
// notification) and the selected index (-1: none).
void ClearList(WindowHandle dialog, int id);
void AddListItem(WindowHandle dialog, int id, const char* text);
void SelectListItem(WindowHandle dialog, int id, int index);
int SelectedListItem(WindowHandle dialog, int id);
void SetScrollRange(WindowHandle dialog, int id, int minimum, int maximum, bool redraw);
void SetScrollPosition(WindowHandle dialog, int id, int position, bool redraw);
void EnableControl(WindowHandle dialog, int id, bool enabled);
// The id of the control whose window handle a message carries.
int ControlIdOf(WindowHandle control);

// ---- Places ------------------------------------------------------------------------

// A control's window rectangle in the dialog's client coordinates.
PixelRect ControlRect(WindowHandle dialog, int id);
// The dialog's window rectangle in screen coordinates.
PixelRect DialogScreenRect(WindowHandle dialog);
// Moves the dialog's top-left corner to (x, y) on the screen, keeping its
// size and Z order.
void MoveDialog(WindowHandle dialog, int x, int y);
// True when `screen` overlaps the work area of a monitor.
bool OnSomeMonitor(const PixelRect& screen);

// ---- Mouse and cursor -------------------------------------------------------------

void CaptureMouse(WindowHandle dialog);
void ReleaseMouse();
// Shows the wait cursor; returns the cursor it replaces.
CursorHandle ShowWaitCursor();
void RestoreCursor(CursorHandle cursor);

// ---- Drawing ------------------------------------------------------------------------

// Marks `area` for painting, without erasing its background.
void Invalidate(WindowHandle dialog, const PixelRect& area);

// A paint of the dialog (for the paint message); `context` draws on it.
struct PaintSession {
    DeviceContext context;
    alignas(8) unsigned char system[80];
};
PaintSession BeginPaint(WindowHandle dialog);
void EndPaint(WindowHandle dialog, PaintSession* paint);
// A context for drawing on the dialog outside a paint.
DeviceContext GetDrawingContext(WindowHandle dialog);
void ReleaseDrawingContext(WindowHandle dialog, DeviceContext context);

// What an owner-drawn button's draw message (second word) describes.
struct DrawItem {
    int id;
    DeviceContext context;
    PixelRect rect;
    bool selected;  // pressed
};
DrawItem ReadDrawItem(intptr_t second);

// Solid pens one pixel wide; the stock pens need no deleting.
PenHandle CreatePen(uint8_t red, uint8_t green, uint8_t blue);
void DeletePen(PenHandle pen);
PenHandle BlackPen();
PenHandle WhitePen();
// Selects the pen; returns the one it replaces.
PenHandle SelectPen(DeviceContext context, PenHandle pen);
// Lines drawn with the pen XOR the screen (true) or cover it (false);
// returns the previous setting.
bool SetXorLines(DeviceContext context, bool xorLines);
void MoveTo(DeviceContext context, int x, int y);
// A line from the current point up to, not including, (x, y).
void LineTo(DeviceContext context, int x, int y);
void SetPixelColor(DeviceContext context, int x, int y, uint8_t red, uint8_t green, uint8_t blue);
// Fills the rectangle (x, y, width, height) with light grey (192, 192, 192).
void FillLightGrey(DeviceContext context, int x, int y, int width, int height);

// Bitmap `id` of this module's resources; 0 when it cannot be loaded.
BitmapHandle LoadBitmapResource(int id);
void DeleteBitmap(BitmapHandle bitmap);
// Copies the bitmap's `width` x `height` pixels to (x, y).
void DrawBitmap(DeviceContext context, BitmapHandle bitmap, int x, int y, int width, int height);

// Opens `path` in the platform's help viewer at its contents, owned by the
// dialog. Failures are not reported.
void OpenHelpContents(WindowHandle dialog, const char* path);

}  // namespace tav::platform
