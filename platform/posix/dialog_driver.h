// Working a dialog from the program (the keyer's preview, the tests): the
// user's actions and what the dialog shows, while it is open. Drawing goes to
// a picture of the dialog's client area. Two toolkits serve it: the
// in-process model of the controls with the dialog manager's rules (see
// platform/window_toolkit.h), which needs no window system, and the GTK
// toolkit (platform/gtk/dialog_driver.cpp), whose real widgets get the
// actions as events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window_toolkit.h"

namespace tav::platform {

// Called once a dialog has opened (its first message handled and its first
// paint done); the dialog ends when the driver returns, by Cancel if it is
// still open. Without a driver every dialog is cancelled at once.
using DialogDriver = void (*)(WindowHandle dialog, void* context);
void SetDialogDriver(DialogDriver driver, void* context);

// Dialog units to pixels, as the dialog measures them (its font's average
// character size).
PixelRect DialogUnitsToPixels(WindowHandle dialog, const PixelRect& units);

// The user's actions. Each is handled as the system would deliver it, paints
// included; nothing happens once the dialog has ended.
void ClickButton(WindowHandle dialog, int id);
void TypeText(WindowHandle dialog, int id, const std::string& text);  // edit box: replaces its text
void ChooseListItem(WindowHandle dialog, int id, int index);
void Scroll(WindowHandle dialog, int id, uint16_t code, int16_t thumb = 0);
void MouseDown(WindowHandle dialog, int x, int y);
void MouseMove(WindowHandle dialog, int x, int y);
void MouseUp(WindowHandle dialog, int x, int y);
void PressEscape(WindowHandle dialog);
void PressEnter(WindowHandle dialog);
void CloseBox(WindowHandle dialog);

// What the dialog shows.
struct ControlInfo {
    int id;
    std::string className;
    uint32_t style;
    PixelRect units;   // place in dialog units, as in the template
    PixelRect pixels;  // place in client pixels
};
std::vector<ControlInfo> Controls(WindowHandle dialog);
std::string ControlText(WindowHandle dialog, int id);
bool ControlEnabled(WindowHandle dialog, int id);
bool ControlChecked(WindowHandle dialog, int id);
std::vector<std::string> ListItems(WindowHandle dialog, int id);
int ListSelection(WindowHandle dialog, int id);
int ScrollPositionOf(WindowHandle dialog, int id);
bool MouseCaptured(WindowHandle dialog);
bool WaitCursorShown();
bool DialogEnded(WindowHandle dialog);
// The parameter the dialog was opened with (the second word of its first
// message).
intptr_t DialogParameter(WindowHandle dialog);
// The help file last opened, and the number of paints so far.
std::string LastHelpFile();
int PaintCount(WindowHandle dialog);
// The client area's picture: width x height pixels, 3 bytes each (R, G, B),
// rows top to bottom.
struct ClientPicture {
    int width;
    int height;
    std::vector<uint8_t> rgb;
};
ClientPicture ClientArea(WindowHandle dialog);

// For hosts drawing a picture on a paint's device context (displayPixels):
// `rgb` holds width x height pixels of 3 bytes, rows top to bottom.
void PutPixels(DeviceContext context, int x, int y, int width, int height, const uint8_t* rgb);

// The monitors' work areas, in screen coordinates (one 1920 x 1080 monitor
// at the origin until set).
void SetMonitorWorkAreas(const std::vector<PixelRect>& areas);

}  // namespace tav::platform
