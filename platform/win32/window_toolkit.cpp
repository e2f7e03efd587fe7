// The window toolkit on Windows: the dialog manager, the controls' messages
// and GDI.
#include "platform/window_toolkit.h"

#include <windows.h>

#include "platform/module.h"

namespace tav::platform {
namespace {

static_assert(kMessageDestroy == WM_DESTROY && kMessagePaint == WM_PAINT && kMessageDrawItem == WM_DRAWITEM);
static_assert(kMessageInitDialog == WM_INITDIALOG && kMessageCommand == WM_COMMAND && kMessageHScroll == WM_HSCROLL);
static_assert(kMessageMouseMove == WM_MOUSEMOVE && kMessageButtonDown == WM_LBUTTONDOWN &&
              kMessageButtonUp == WM_LBUTTONUP);
static_assert(kNotifyEditChanged == EN_CHANGE && kNotifySelectionChanged == CBN_SELCHANGE &&
              kNotifyClicked == BN_CLICKED);
static_assert(kScrollThumbTrack == SB_THUMBTRACK && kScrollEnd == SB_ENDSCROLL && kScrollRightEnd == SB_RIGHT);
static_assert(kCommandOk == IDOK && kCommandCancel == IDCANCEL);
static_assert(sizeof(PAINTSTRUCT) <= sizeof(PaintSession::system));

HWND Window(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }
HDC Dc(DeviceContext context) { return reinterpret_cast<HDC>(context); }
HWND Item(WindowHandle dialog, int id) { return GetDlgItem(Window(dialog), id); }

// The dialog procedure the system calls, handing each message to ours; the
// procedure is kept with the window from the first message on.
DialogProc g_pending = nullptr;

INT_PTR CALLBACK SystemProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    auto proc = reinterpret_cast<DialogProc>(GetWindowLongPtrA(window, DWLP_USER));
    if (proc == nullptr && message == WM_INITDIALOG) {
        proc = g_pending;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(proc));
    }
    if (proc == nullptr) return FALSE;
    return INT_PTR(proc(reinterpret_cast<WindowHandle>(window), message, uintptr_t(first), intptr_t(second)));
}

}  // namespace

intptr_t RunModalDialog(const char* name, WindowHandle owner, DialogProc proc, intptr_t parameter) {
    g_pending = proc;
    const INT_PTR code = DialogBoxParamA(static_cast<HINSTANCE>(ThisModule()), name, Window(owner), SystemProc,
                                         LPARAM(parameter));
    g_pending = nullptr;
    return intptr_t(code);
}

void EndDialog(WindowHandle dialog, intptr_t code) { ::EndDialog(Window(dialog), INT_PTR(code)); }

void SetControlText(WindowHandle dialog, int id, const char* text) { SetDlgItemTextA(Window(dialog), id, text); }

int GetControlText(WindowHandle dialog, int id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    return int(GetDlgItemTextA(Window(dialog), id, buffer, size));
}

void SetChecked(WindowHandle dialog, int id, bool checked) {
    CheckDlgButton(Window(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool IsChecked(WindowHandle dialog, int id) { return IsDlgButtonChecked(Window(dialog), id) == BST_CHECKED; }

void ClearList(WindowHandle dialog, int id) { SendDlgItemMessageA(Window(dialog), id, CB_RESETCONTENT, 0, 0); }

void AddListItem(WindowHandle dialog, int id, const char* text) {
    SendDlgItemMessageA(Window(dialog), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void SelectListItem(WindowHandle dialog, int id, int index) {
    SendDlgItemMessageA(Window(dialog), id, CB_SETCURSEL, WPARAM(index), 0);
}

int SelectedListItem(WindowHandle dialog, int id) {
    return int(SendDlgItemMessageA(Window(dialog), id, CB_GETCURSEL, 0, 0));
}

void SetScrollRange(WindowHandle dialog, int id, int minimum, int maximum, bool redraw) {
    ::SetScrollRange(Item(dialog, id), SB_CTL, minimum, maximum, redraw ? TRUE : FALSE);
}

void SetScrollPosition(WindowHandle dialog, int id, int position, bool redraw) {
    ::SetScrollPos(Item(dialog, id), SB_CTL, position, redraw ? TRUE : FALSE);
}

void EnableControl(WindowHandle dialog, int id, bool enabled) { EnableWindow(Item(dialog, id), enabled ? TRUE : FALSE); }

int ControlIdOf(WindowHandle control) { return GetDlgCtrlID(Window(control)); }

PixelRect ControlRect(WindowHandle dialog, int id) {
    RECT r{};
    GetWindowRect(Item(dialog, id), &r);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    ScreenToClient(Window(dialog), &corners[0]);
    ScreenToClient(Window(dialog), &corners[1]);
    return PixelRect{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

PixelRect DialogScreenRect(WindowHandle dialog) {
    RECT r{};
    GetWindowRect(Window(dialog), &r);
    return PixelRect{r.left, r.top, r.right, r.bottom};
}

void MoveDialog(WindowHandle dialog, int x, int y) {
    SetWindowPos(Window(dialog), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool OnSomeMonitor(const PixelRect& screen) {
    RECT r{screen.left, screen.top, screen.right, screen.bottom};
    HMONITOR monitor = MonitorFromRect(&r, MONITOR_DEFAULTTONULL);
    if (monitor == nullptr) return false;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) return false;
    RECT overlap{};
    return IntersectRect(&overlap, &r, &info.rcWork) != FALSE;
}

void CaptureMouse(WindowHandle dialog) { SetCapture(Window(dialog)); }

void ReleaseMouse() { ReleaseCapture(); }

CursorHandle ShowWaitCursor() {
    return reinterpret_cast<CursorHandle>(SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT))));
}

void RestoreCursor(CursorHandle cursor) { SetCursor(reinterpret_cast<HCURSOR>(cursor)); }

void Invalidate(WindowHandle dialog, const PixelRect& area) {
    RECT r{area.left, area.top, area.right, area.bottom};
    InvalidateRect(Window(dialog), &r, FALSE);
}

PaintSession BeginPaint(WindowHandle dialog) {
    PaintSession paint{};
    auto* system = reinterpret_cast<PAINTSTRUCT*>(paint.system);
    paint.context = reinterpret_cast<DeviceContext>(::BeginPaint(Window(dialog), system));
    return paint;
}

void EndPaint(WindowHandle dialog, PaintSession* paint) {
    ::EndPaint(Window(dialog), reinterpret_cast<PAINTSTRUCT*>(paint->system));
    paint->context = 0;
}

DeviceContext GetDrawingContext(WindowHandle dialog) { return reinterpret_cast<DeviceContext>(GetDC(Window(dialog))); }

void ReleaseDrawingContext(WindowHandle dialog, DeviceContext context) { ReleaseDC(Window(dialog), Dc(context)); }

DrawItem ReadDrawItem(intptr_t second) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(second);
    return DrawItem{int(item->CtlID), reinterpret_cast<DeviceContext>(item->hDC),
                    PixelRect{item->rcItem.left, item->rcItem.top, item->rcItem.right, item->rcItem.bottom},
                    (item->itemState & ODS_SELECTED) != 0};
}

PenHandle CreatePen(uint8_t red, uint8_t green, uint8_t blue) {
    return reinterpret_cast<PenHandle>(::CreatePen(PS_SOLID, 0, RGB(red, green, blue)));
}

void DeletePen(PenHandle pen) {
    if (pen != 0) DeleteObject(reinterpret_cast<HGDIOBJ>(pen));
}

PenHandle BlackPen() { return reinterpret_cast<PenHandle>(GetStockObject(BLACK_PEN)); }
PenHandle WhitePen() { return reinterpret_cast<PenHandle>(GetStockObject(WHITE_PEN)); }

PenHandle SelectPen(DeviceContext context, PenHandle pen) {
    return reinterpret_cast<PenHandle>(SelectObject(Dc(context), reinterpret_cast<HGDIOBJ>(pen)));
}

bool SetXorLines(DeviceContext context, bool xorLines) {
    return SetROP2(Dc(context), xorLines ? R2_XORPEN : R2_COPYPEN) == R2_XORPEN;
}

void MoveTo(DeviceContext context, int x, int y) { MoveToEx(Dc(context), x, y, nullptr); }

void LineTo(DeviceContext context, int x, int y) { ::LineTo(Dc(context), x, y); }

void SetPixelColor(DeviceContext context, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
    SetPixel(Dc(context), x, y, RGB(red, green, blue));
}

void FillLightGrey(DeviceContext context, int x, int y, int width, int height) {
    HGDIOBJ previous = SelectObject(Dc(context), GetStockObject(LTGRAY_BRUSH));
    PatBlt(Dc(context), x, y, width, height, PATCOPY);
    SelectObject(Dc(context), previous);
}

BitmapHandle LoadBitmapResource(int id) {
    return reinterpret_cast<BitmapHandle>(
        LoadBitmapA(static_cast<HINSTANCE>(ThisModule()), reinterpret_cast<LPCSTR>(intptr_t(id))));
}

void DeleteBitmap(BitmapHandle bitmap) {
    if (bitmap != 0) DeleteObject(reinterpret_cast<HGDIOBJ>(bitmap));
}

void DrawBitmap(DeviceContext context, BitmapHandle bitmap, int x, int y, int width, int height) {
    HDC memory = CreateCompatibleDC(Dc(context));
    if (memory == nullptr) return;
    HGDIOBJ previous = SelectObject(memory, reinterpret_cast<HGDIOBJ>(bitmap));
    BitBlt(Dc(context), x, y, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void OpenHelpContents(WindowHandle dialog, const char* path) { WinHelpA(Window(dialog), path, HELP_CONTENTS, 0); }

}  // namespace tav::platform
