// The parameters dialog of the real plug-in, run the way a user runs it: a
// host's first run opens it, and a script works it with real mouse and
// keyboard input from a timer inside the dialog's own message loop.
#include "tools/winhost/dialog_run.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "interface/parameter_record.h"
#include "resources/dialog_template.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav::winhost {
namespace {

using inprocess::DisplayCapture;
using inprocess::InProcessHost;

struct Run {
    InProcessHost* host = nullptr;
    bool cancel = false;
    HWND dialog = nullptr;
    int step = 0;
    UINT_PTR timer = 0;
    ParameterRecord opened{};     // the record once the dialog had opened
    DisplayCapture shown{};       // the last picture handed to displayPixels
    int shownLeft = 0, shownTop = 0;
    std::vector<uint8_t> screenshot;  // the client area, RGB
    int shotWidth = 0, shotHeight = 0;
    int passed = 0, failed = 0;
};
Run g_run;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    (ok ? g_run.passed : g_run.failed)++;
}

ParameterRecord& Record() { return *g_run.host->parameters(); }

// ---- Input, as the user gives it -----------------------------------------------

POINT ScreenPointOfControl(int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(g_run.dialog, id), &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void MouseAt(POINT screen, DWORD flags) {
    const int w = GetSystemMetrics(SM_CXSCREEN) - 1, h = GetSystemMetrics(SM_CYSCREEN) - 1;
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, w);
    input.mi.dy = MulDiv(screen.y, 65535, h);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
}

void Click(POINT screen) {
    MouseAt(screen, 0);
    MouseAt(screen, MOUSEEVENTF_LEFTDOWN);
    MouseAt(screen, MOUSEEVENTF_LEFTUP);
}

void Key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// Replaces an edit box's text by typing, once a click has put the focus in
// it: its text selected, then the keys.
void Type(int id, const char* text) {
    SendDlgItemMessageA(g_run.dialog, id, EM_SETSEL, 0, -1);
    for (const char* p = text; *p != '\0'; ++p) {
        const WORD key = *p == '-' ? VK_OEM_MINUS : WORD(*p);
        Key(key, false);
        Key(key, true);
    }
}

POINT PaneClientToScreen(int x, int y) {
    POINT p{x, y};
    ClientToScreen(g_run.dialog, &p);
    return p;
}

RECT PaneRect() {
    RECT r{};
    GetWindowRect(GetDlgItem(g_run.dialog, IDC_PREVIEW), &r);
    MapWindowPoints(nullptr, g_run.dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// ---- Checks ------------------------------------------------------------------------

struct TemplateControl {
    const char* text;
    int id;
    const char* className;
    uint32_t style;
    RECT units;
};

std::vector<TemplateControl> TemplateControls() {
    std::vector<TemplateControl> list;
#define TAV_WINHOST_CONTROL(caption, id, kind, style, x, y, width, height) \
    list.push_back(TemplateControl{caption, id, kind, uint32_t(style), RECT{x, y, (x) + (width), (y) + (height)}});
    TAVRISK_DIALOG_CONTROLS(TAV_WINHOST_CONTROL)
#undef TAV_WINHOST_CONTROL
    return list;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    if (GetParent(child) == g_run.dialog) reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

void CheckControls() {
    std::vector<HWND> children;
    EnumChildWindows(g_run.dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    const std::vector<TemplateControl> wanted = TemplateControls();
    Check(children.size() == wanted.size(), "the dialog has " + std::to_string(wanted.size()) + " controls");
    int matching = 0;
    for (size_t i = 0; i < std::min(children.size(), wanted.size()); ++i) {
        const TemplateControl& t = wanted[i];
        char className[64] = {};
        GetClassNameA(children[i], className, sizeof className);
        const uint32_t style = uint32_t(GetWindowLongA(children[i], GWL_STYLE));
        // The template's origin and size, each mapped as the dialog manager
        // maps them when it makes the control.
        RECT place{t.units.left, t.units.top, t.units.right - t.units.left, t.units.bottom - t.units.top};
        MapDialogRect(g_run.dialog, &place);
        place.right += place.left;
        place.bottom += place.top;
        RECT actual{};
        GetWindowRect(children[i], &actual);
        MapWindowPoints(nullptr, g_run.dialog, reinterpret_cast<POINT*>(&actual), 2);
        // A drop-down list's window is as high as its closed box, not its list.
        const bool list = std::strcmp(t.className, "ComboBox") == 0;
        const bool placed = actual.left == place.left && actual.top == place.top &&
                            actual.right == place.right && (list || actual.bottom == place.bottom);
        // The dialog manager draws an edit box's border as a sunken edge.
        uint32_t wantedStyle = t.style;
        const bool edit = std::strcmp(t.className, "Edit") == 0;
        if (edit && (GetWindowLongA(children[i], GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) wantedStyle &= ~uint32_t(WS_BORDER);
        const bool ok = _stricmp(className, t.className) == 0 && (style & wantedStyle) == wantedStyle &&
                        (t.id == -1 || GetDlgCtrlID(children[i]) == t.id) && placed;
        if (ok) ++matching;
        else
            std::printf("  control %zu (id %d, %s): class %s, style %08x, at %ld,%ld,%ld,%ld, want %ld,%ld,%ld,%ld\n", i,
                        t.id, t.className, className, unsigned(style), actual.left, actual.top, actual.right,
                        actual.bottom, place.left, place.top, place.right, place.bottom);
    }
    Check(matching == int(wanted.size()), "every control has the template's id, class, style and place");
}

void TakeScreenshot() {
    RECT client{};
    GetClientRect(g_run.dialog, &client);
    const int w = client.right, h = client.bottom;
    HDC window = GetDC(g_run.dialog);
    HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, window, 0, 0, SRCCOPY);
    GdiFlush();
    g_run.screenshot.resize(size_t(w) * h * 3);
    const auto* p = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        g_run.screenshot[3 * i] = p[4 * i + 2];
        g_run.screenshot[3 * i + 1] = p[4 * i + 1];
        g_run.screenshot[3 * i + 2] = p[4 * i];
    }
    g_run.shotWidth = w;
    g_run.shotHeight = h;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(g_run.dialog, window);
}

// The pane in the screenshot shows exactly the picture handed to displayPixels.
void CheckPaneAgainstPicture() {
    const DisplayCapture& shown = g_run.shown;
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x) {
            const int sx = g_run.shownLeft + x, sy = g_run.shownTop + y;
            if (sx < 0 || sy < 0 || sx >= g_run.shotWidth || sy >= g_run.shotHeight) {
                ++differing;
                continue;
            }
            const uint8_t* s = &g_run.screenshot[(size_t(sy) * g_run.shotWidth + sx) * 3];
            const uint8_t* d = &shown.rgb[(size_t(y) * shown.width + x) * 3];
            if (std::memcmp(s, d, 3) != 0) ++differing;
        }
    Check(shown.width > 0 && differing == 0,
          "the pane shows the picture handed to displayPixels (" + std::to_string(shown.width) + " x " +
              std::to_string(shown.height) + ", " + std::to_string(differing) + " pixels differ)");
}

// ---- The script ----------------------------------------------------------------------

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
    const RECT pane = PaneRect();
    const int cx = (pane.left + pane.right) / 2, cy = (pane.top + pane.bottom) / 2;
    switch (g_run.step++) {
        case 0:
            g_run.opened = Record();
            CheckControls();
            break;
        case 1: Click(ScreenPointOfControl(IDC_MATTE_BLUR)); break;
        case 2: Type(IDC_MATTE_BLUR, "3"); Click(ScreenPointOfControl(IDC_MATTE_CHOKE)); break;
        case 3: Type(IDC_MATTE_CHOKE, "-2"); break;
        case 4: {
            char blur[16] = {}, choke[16] = {};
            GetDlgItemTextA(g_run.dialog, IDC_MATTE_BLUR, blur, sizeof blur);
            GetDlgItemTextA(g_run.dialog, IDC_MATTE_CHOKE, choke, sizeof choke);
            Check(Record().MatteBlur == 3 && Record().MatteChoke == -2,
                  std::string("typed values reach the record (boxes '") + blur + "' and '" + choke + "')");
            break;
        }
        case 5: {
            // The right arrow of the Gamma scroll bar, twice.
            RECT r{};
            GetWindowRect(GetDlgItem(g_run.dialog, IDC_GAMMA_SCROLL), &r);
            Click(POINT{r.right - 3, (r.top + r.bottom) / 2});
            Click(POINT{r.right - 3, (r.top + r.bottom) / 2});
            break;
        }
        case 6: Check(Record().Gamma == 2, "two clicks on the scroll bar's arrow: Gamma 2"); break;
        case 7: Click(ScreenPointOfControl(IDC_ZOOM_IN)); break;
        case 8: Click(ScreenPointOfControl(IDC_ZOOM_IN)); break;
        case 9: Click(ScreenPointOfControl(IDC_ZOOM_OUT)); break;
        case 10: Check(Record().PreviewZoom == Record().FitZoom + 1 || Record().PreviewZoom == 1,
                      "zoom in, in, out: one step in from the fit"); break;
        case 11: MouseAt(PaneClientToScreen(cx, cy), 0); MouseAt(PaneClientToScreen(cx, cy), MOUSEEVENTF_LEFTDOWN); break;
        case 12: MouseAt(PaneClientToScreen(cx - 15, cy - 10), 0); break;
        case 13: MouseAt(PaneClientToScreen(cx - 15, cy - 10), MOUSEEVENTF_LEFTUP); break;
        case 14: Click(ScreenPointOfControl(IDC_PICK_FORCE_BLACK)); break;
        case 15:
            Check(!IsWindowEnabled(GetDlgItem(g_run.dialog, IDOK)), "pick mode: OK disabled");
            MouseAt(PaneClientToScreen(pane.left + 4, pane.top + 4), 0);
            MouseAt(PaneClientToScreen(pane.left + 4, pane.top + 4), MOUSEEVENTF_LEFTDOWN);
            break;
        case 16: MouseAt(PaneClientToScreen(pane.left + 14, pane.top + 10), 0); break;
        case 17: MouseAt(PaneClientToScreen(pane.left + 14, pane.top + 10), MOUSEEVENTF_LEFTUP); break;
        case 18: Check(IsWindowEnabled(GetDlgItem(g_run.dialog, IDOK)), "pick done: OK enabled again"); break;
        case 19: TakeScreenshot(); break;
        case 20:
            CheckPaneAgainstPicture();
            Click(ScreenPointOfControl(g_run.cancel ? IDCANCEL : IDOK));
            KillTimer(nullptr, g_run.timer);
            break;
        default: break;
    }
}

// The parameters dialog has opened: the script starts.
LRESULT CALLBACK WatchForDialog(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_run.dialog == nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char caption[64] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (std::strcmp(caption, TAV_DIALOG_CAPTION) == 0) {
            g_run.dialog = window;
            g_run.timer = SetTimer(nullptr, 0, 150, Step);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// displayPixels: the picture goes to the screen and is kept for the check.
void Show(const DisplayCapture& picture, void* platformContext, void*) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<uint8_t> bgrx(size_t(picture.width) * picture.height * 4, 0);
    for (size_t i = 0; i < size_t(picture.width) * picture.height; ++i) {
        bgrx[4 * i] = picture.rgb[3 * i + 2];
        bgrx[4 * i + 1] = picture.rgb[3 * i + 1];
        bgrx[4 * i + 2] = picture.rgb[3 * i];
    }
    const int left = picture.dstCol, top = picture.dstRow;
    SetDIBitsToDevice(static_cast<HDC>(platformContext), left, top, DWORD(picture.width), DWORD(picture.height), 0,
                      0, 0, UINT(picture.height), bgrx.data(), &info, DIB_RGB_COLORS);
    g_run.shown = picture;
    g_run.shownLeft = left;
    g_run.shownTop = top;
}

}  // namespace

int RunDialog(inprocess::EntryPoint entry, const std::vector<uint8_t>& rgba, int width, int height, bool cancel,
              const char* outPath, const char* settingsPath, const char* shotPath) {
    InProcessHost host(entry);
    host.SetImage(width, height, 4, rgba);
    host.SetFilterCase(filterCaseEditableTransparencyNoSelection);
    host.displayDrawer = Show;
    g_run = Run{};
    g_run.host = &host;
    g_run.cancel = cancel;
    HHOOK hook = SetWindowsHookExA(WH_CBT, WatchForDialog, nullptr, GetCurrentThreadId());
    const int16_t result = host.RunFilter(true);
    UnhookWindowsHookEx(hook);
    Check(g_run.dialog != nullptr && g_run.step >= 21, "the dialog opened and the script ran to its end");

    if (cancel) {
        Check(result == 1, "Cancel: result 1");
        ParameterRecord after = Record();
        after.ShowDialog = g_run.opened.ShowDialog;  // the run clears it whatever the outcome
        Check(std::memcmp(&after, &g_run.opened, sizeof after) == 0, "Cancel: the record is as it was at opening");
    } else {
        Check(result == 0, "OK: the run wrote the image");
        std::ofstream out(outPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(host.image().data()), std::streamsize(host.image().size()));
        std::ofstream settings(settingsPath, std::ios::binary);
        const ParameterRecord& p = Record();
        settings << "ScreenColor=" << int(p.ScreenColor) << "\n"
                 << "OutputMethod=" << int(p.OutputMethod) << "\n"
                 << "DynamicRange=" << int(p.DynamicRange) << "\n"
                 << "ForceBlack=" << int(p.ForceBlack) << "\n"
                 << "ForceWhite=" << int(p.ForceWhite) << "\n"
                 << "Gamma=" << int(p.Gamma) << "\n"
                 << "Protection=" << int(p.Protection) << "\n"
                 << "RestoreR=" << int(p.RestoreR) << "\nRestoreG=" << int(p.RestoreG) << "\nRestoreB="
                 << int(p.RestoreB) << "\n"
                 << "CorrectionR=" << p.CorrectionR << "\nCorrectionG=" << p.CorrectionG << "\nCorrectionB="
                 << p.CorrectionB << "\n"
                 << "BlueRemoval=" << int(p.BlueRemoval) << "\n"
                 << "MatteBlur=" << int(p.MatteBlur) << "\n"
                 << "MatteChoke=" << p.MatteChoke << "\n";
    }
    if (shotPath != nullptr && !g_run.screenshot.empty()) {
        std::ofstream shot(shotPath, std::ios::binary);
        shot << "P6\n" << g_run.shotWidth << " " << g_run.shotHeight << "\n255\n";
        shot.write(reinterpret_cast<const char*>(g_run.screenshot.data()), std::streamsize(g_run.screenshot.size()));
    }
    std::printf("%d passed, %d failed\n", g_run.passed, g_run.failed);
    return g_run.failed == 0 ? 0 : 1;
}

}  // namespace tav::winhost
