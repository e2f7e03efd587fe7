// The driver's side of the POSIX dialog model: the user's actions and what
// the dialog shows, for the program that drives it.
#include "platform/posix/dialog_driver.h"

#include <string>
#include <vector>

#include "platform/posix/dialog_model.h"

namespace tav::platform {

using namespace model;

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
