// The driver's side of the GTK toolkit (platform/posix/dialog_driver.h), for
// programs that work a dialog themselves (the tests); the library never
// links it. The user's actions reach the dialog's real widgets as GDK events
// (the mouse's buttons and motion, keys, the close box) handled as the main
// loop handles the window system's; choosing a list item and moving a scroll
// bar raise the signals the widgets raise for them (GTK would need its
// pop-up list or a drag). After each action the main loop runs until
// nothing waits, the dialog's paints included.
#include "platform/posix/dialog_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/gtk/toolkit.h"

namespace tav::platform {
namespace {

using gtk::Control;
using gtk::Dialog;
using gtk::Kind;

DialogDriver g_driver = nullptr;
void* g_driverContext = nullptr;
std::vector<PixelRect> g_monitors;  // none set: the display's
GdkWindow* g_pressWindow = nullptr;  // where the mouse went down, which has it until it goes up

Dialog* DialogOf(WindowHandle handle) { return reinterpret_cast<Dialog*>(handle); }

Control* Usable(Dialog* d, int id, Kind kind) {
    Control* c = d->Find(id);
    return !d->ended && c != nullptr && c->kind == kind && c->enabled ? c : nullptr;
}

// Lets the main loop handle everything that waits.
void Settle() {
    for (int i = 0; i < 100000 && g_main_context_iteration(nullptr, FALSE); ++i) {}
}

// Runs the main loop until `done` holds, or for at most ten seconds.
template <typename F>
bool WaitUntil(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const guint tick = g_timeout_add(20, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr);
    while (!done() && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return done();
}

GdkDevice* Pointer(GdkDisplay* display) { return gdk_seat_get_pointer(gdk_display_get_default_seat(display)); }
GdkDevice* Keyboard(GdkDisplay* display) { return gdk_seat_get_keyboard(gdk_display_get_default_seat(display)); }

void Deliver(GdkEvent* event, GdkDevice* device) {
    gdk_event_set_device(event, device);
    gdk_event_set_source_device(event, device);
    gtk_main_do_event(event);
    gdk_event_free(event);
    Settle();
}

// A window's place in the dialog's toplevel window.
void OffsetOf(GdkWindow* window, GdkWindow* top, int* x, int* y) {
    *x = *y = 0;
    for (GdkWindow* w = window; w != nullptr && w != top; w = gdk_window_get_parent(w)) {
        int wx = 0, wy = 0;
        gdk_window_get_position(w, &wx, &wy);
        *x += wx;
        *y += wy;
    }
}

// The topmost window of the dialog under a client point (input-only ones
// included), as the window system finds it.
GdkWindow* WindowAt(GdkWindow* window, int x, int y) {
    for (GList* child = gdk_window_peek_children(window); child != nullptr; child = child->next) {
        auto* w = static_cast<GdkWindow*>(child->data);
        int wx = 0, wy = 0;
        gdk_window_get_position(w, &wx, &wy);
        if (gdk_window_is_visible(w) && x >= wx && y >= wy && x < wx + gdk_window_get_width(w) &&
            y < wy + gdk_window_get_height(w))
            return WindowAt(w, x - wx, y - wy);
    }
    return window;
}

void SendMouse(Dialog* d, GdkEventType type, GdkWindow* target, int x, int y, bool held) {
    GdkWindow* top = gtk_widget_get_window(d->window);
    int ox = 0, oy = 0, rootX = 0, rootY = 0;
    OffsetOf(target, top, &ox, &oy);
    gdk_window_get_origin(top, &rootX, &rootY);
    GdkEvent* event = gdk_event_new(type);
    const double wx = x - ox, wy = y - oy;
    if (type == GDK_MOTION_NOTIFY) {
        event->motion = GdkEventMotion{};
        event->motion.type = type;
        event->motion.window = GDK_WINDOW(g_object_ref(target));
        event->motion.x = wx, event->motion.y = wy;
        event->motion.x_root = rootX + x, event->motion.y_root = rootY + y;
        event->motion.state = held ? GDK_BUTTON1_MASK : 0;
    } else {
        event->button = GdkEventButton{};
        event->button.type = type;
        event->button.window = GDK_WINDOW(g_object_ref(target));
        event->button.x = wx, event->button.y = wy;
        event->button.x_root = rootX + x, event->button.y_root = rootY + y;
        event->button.button = 1;
        event->button.state = held ? GDK_BUTTON1_MASK : 0;
    }
    event->any.send_event = TRUE;
    Deliver(event, Pointer(gdk_window_get_display(top)));
}

void SendKey(Dialog* d, guint keyval, guint state) {
    GdkWindow* top = gtk_widget_get_window(d->window);
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_window_get_display(top)), keyval, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        if (d->ended) break;
        GdkEvent* event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(top));
        event->key.send_event = TRUE;
        event->key.keyval = keyval;
        event->key.state = state;
        event->key.hardware_keycode = count > 0 ? guint16(keys[0].keycode) : 0;
        Deliver(event, Keyboard(gdk_window_get_display(top)));
    }
    g_free(keys);
}

void PressAndRelease(Dialog* d, GtkWidget* widget) {
    GtkAllocation a{};
    gtk_widget_get_allocation(widget, &a);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(widget, d->canvas, a.width / 2, a.height / 2, &x, &y);
    MouseDown(d->Handle(), x, y);
    MouseUp(d->Handle(), x, y);
}

// A dialog has opened: it gets the focus, as from the window manager; once
// it is laid out and painted, the driver works it.
gboolean DriveOpenedDialog(gpointer data) {
    auto* d = static_cast<Dialog*>(data);
    if (gtk::OpenDialog(d->Handle()) != d) return G_SOURCE_REMOVE;
    GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
    focus->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(d->window)));
    focus->focus_change.send_event = TRUE;
    focus->focus_change.in = TRUE;
    Deliver(focus, Keyboard(gtk_widget_get_display(d->window)));
    WaitUntil([d] { return d->ended || gtk_widget_get_allocated_width(d->canvas) >= d->clientWidth; });
    gtk::PaintNow(d);
    Settle();
    if (g_driver != nullptr && !d->ended) g_driver(d->Handle(), g_driverContext);
    if (!d->ended) CloseBox(d->Handle());
    return G_SOURCE_REMOVE;
}

gboolean OnMapped(GSignalInvocationHint*, guint, const GValue* values, gpointer) {
    GObject* widget = G_OBJECT(g_value_get_object(&values[0]));
    if (auto* d = static_cast<Dialog*>(g_object_get_data(widget, "tavrisk-dialog")))
        g_idle_add_full(G_PRIORITY_LOW, DriveOpenedDialog, d, nullptr);
    return TRUE;
}

}  // namespace

namespace gtk {

std::vector<PixelRect> MonitorWorkAreas() {
    if (!g_monitors.empty()) return g_monitors;
    std::vector<PixelRect> areas;
    GdkDisplay* display = gdk_display_get_default();
    for (int i = 0; display != nullptr && i < gdk_display_get_n_monitors(display); ++i) {
        GdkRectangle r{};
        gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &r);
        areas.push_back(PixelRect{r.x, r.y, r.x + r.width, r.y + r.height});
    }
    return areas;
}

}  // namespace gtk

void SetDialogDriver(DialogDriver driver, void* context) {
    static const gulong hook = [] {
        g_type_class_ref(GTK_TYPE_WIDGET);
        return g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, OnMapped, nullptr, nullptr);
    }();
    (void)hook;
    g_driver = driver;
    g_driverContext = context;
}

void ClickButton(WindowHandle dialog, int id) {
    Dialog* d = DialogOf(dialog);
    Control* c = d->Find(id);
    if (d->ended || c == nullptr || c->widget == nullptr || !c->enabled) return;
    if (c->kind == Kind::Push || c->kind == Kind::Check || c->kind == Kind::OwnerDrawn) PressAndRelease(d, c->widget);
}

void TypeText(WindowHandle dialog, int id, const std::string& text) {
    Dialog* d = DialogOf(dialog);
    Control* c = Usable(d, id, Kind::Edit);
    if (c == nullptr) return;
    gtk_widget_grab_focus(c->widget);
    SendKey(d, GDK_KEY_a, GDK_CONTROL_MASK);  // the box's text selected, then typed over
    if (text.empty()) SendKey(d, GDK_KEY_BackSpace, 0);
    for (const char* p = text.c_str(); *p != '\0' && !d->ended; p = g_utf8_next_char(p))
        SendKey(d, gdk_unicode_to_keyval(g_utf8_get_char(p)), 0);
}

void ChooseListItem(WindowHandle dialog, int id, int index) {
    Control* c = Usable(DialogOf(dialog), id, Kind::List);
    if (c == nullptr || index < 0 || index >= int(ListItems(dialog, id).size())) return;
    gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index);
    Settle();
}

void Scroll(WindowHandle dialog, int id, uint16_t code, int16_t thumb) {
    Control* c = Usable(DialogOf(dialog), id, Kind::ScrollBar);
    if (c == nullptr) return;
    GtkScrollType type = GTK_SCROLL_JUMP;
    switch (code) {
        case kScrollLineLeft: type = GTK_SCROLL_STEP_BACKWARD; break;
        case kScrollLineRight: type = GTK_SCROLL_STEP_FORWARD; break;
        case kScrollPageLeft: type = GTK_SCROLL_PAGE_BACKWARD; break;
        case kScrollPageRight: type = GTK_SCROLL_PAGE_FORWARD; break;
        case kScrollLeftEnd: type = GTK_SCROLL_START; break;
        case kScrollRightEnd: type = GTK_SCROLL_END; break;
        case kScrollThumbPosition:
        case kScrollThumbTrack: break;
        default: return;
    }
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(c->widget));
    const double value = code == kScrollThumbTrack || code == kScrollThumbPosition ? thumb : gtk_adjustment_get_value(a);
    gboolean handled = FALSE;
    g_signal_emit_by_name(c->widget, "change-value", type, value, &handled);
    Settle();
}

void MouseDown(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    if (d->ended) return;
    if (g_pressWindow != nullptr) g_object_unref(g_pressWindow);
    g_pressWindow = GDK_WINDOW(g_object_ref(WindowAt(gtk_widget_get_window(d->window), x, y)));
    SendMouse(d, GDK_BUTTON_PRESS, g_pressWindow, x, y, false);
}

void MouseMove(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    if (d->ended) return;
    GdkWindow* target = g_pressWindow != nullptr ? g_pressWindow : WindowAt(gtk_widget_get_window(d->window), x, y);
    SendMouse(d, GDK_MOTION_NOTIFY, target, x, y, g_pressWindow != nullptr);
}

void MouseUp(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    GdkWindow* target = g_pressWindow;
    g_pressWindow = nullptr;
    if (!d->ended) SendMouse(d, GDK_BUTTON_RELEASE, target != nullptr ? target : WindowAt(gtk_widget_get_window(d->window), x, y), x, y, true);
    if (target != nullptr) g_object_unref(target);
}

void PressEscape(WindowHandle dialog) {
    if (!DialogOf(dialog)->ended) SendKey(DialogOf(dialog), GDK_KEY_Escape, 0);
}

void PressEnter(WindowHandle dialog) {
    if (!DialogOf(dialog)->ended) SendKey(DialogOf(dialog), GDK_KEY_Return, 0);
}

void CloseBox(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    if (d->ended) return;
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(d->window)));
    event->any.send_event = TRUE;
    Deliver(event, Pointer(gtk_widget_get_display(d->window)));
}

// ---- What the dialog shows ----------------------------------------------------------------

std::vector<ControlInfo> Controls(WindowHandle dialog) {
    std::vector<ControlInfo> list;
    for (auto& c : DialogOf(dialog)->controls) {
        PixelRect at = c->pixels;
        if (c->widget != nullptr) {
            GtkAllocation a{};
            gtk_widget_get_allocation(c->widget, &a);
            gtk_widget_translate_coordinates(c->widget, DialogOf(dialog)->canvas, 0, 0, &a.x, &a.y);
            at = PixelRect{a.x, a.y, a.x + a.width, a.y + a.height};
        }
        list.push_back(ControlInfo{c->id, c->className, c->style, c->units, at});
    }
    return list;
}

std::string ControlText(WindowHandle dialog, int id) {
    char text[256];
    GetControlText(dialog, id, text, int(sizeof text));
    return text;
}

bool ControlEnabled(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    return c != nullptr && c->enabled;
}

bool ControlChecked(WindowHandle dialog, int id) { return IsChecked(dialog, id); }

std::vector<std::string> ListItems(WindowHandle dialog, int id) {
    std::vector<std::string> items;
    Control* c = DialogOf(dialog)->Find(id);
    if (c == nullptr || c->kind != Kind::List) return items;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(c->widget));
    const int column = gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(c->widget));
    GtkTreeIter iter;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more; more = gtk_tree_model_iter_next(model, &iter)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &iter, column, &text, -1);
        items.emplace_back(text != nullptr ? text : "");
        g_free(text);
    }
    return items;
}

int ListSelection(WindowHandle dialog, int id) { return SelectedListItem(dialog, id); }

int ScrollPositionOf(WindowHandle dialog, int id) {
    Control* c = DialogOf(dialog)->Find(id);
    if (c == nullptr || c->kind != Kind::ScrollBar) return 0;
    return int(gtk_adjustment_get_value(gtk_range_get_adjustment(GTK_RANGE(c->widget))));
}

bool MouseCaptured(WindowHandle dialog) { return DialogOf(dialog)->captured; }
bool WaitCursorShown() { return gtk::g_waitCursor; }
bool DialogEnded(WindowHandle dialog) { return DialogOf(dialog)->ended; }
intptr_t DialogParameter(WindowHandle dialog) { return DialogOf(dialog)->parameter; }
std::string LastHelpFile() { return gtk::g_lastHelpFile; }
int PaintCount(WindowHandle dialog) { return DialogOf(dialog)->paints; }

ClientPicture ClientArea(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    cairo_surface_flush(d->picture);
    const auto* data = cairo_image_surface_get_data(d->picture);
    const int stride = cairo_image_surface_get_stride(d->picture);
    ClientPicture picture{d->clientWidth, d->clientHeight, {}};
    picture.rgb.reserve(size_t(d->clientWidth) * d->clientHeight * 3);
    for (int y = 0; y < d->clientHeight; ++y)
        for (int x = 0; x < d->clientWidth; ++x) {
            uint32_t argb;
            std::memcpy(&argb, data + size_t(y) * stride + size_t(x) * 4, 4);
            // Unpainted (transparent) pixels read as white.
            if ((argb >> 24) == 0) argb = 0xFFFFFFFFu;
            picture.rgb.insert(picture.rgb.end(), {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)});
        }
    return picture;
}

// What a host does with the pixels displayPixels is given: paints them with cairo.
void PutPixels(DeviceContext context, int x, int y, int width, int height, const uint8_t* rgb) {
    cairo_surface_t* pixels = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    auto* data = cairo_image_surface_get_data(pixels);
    const int stride = cairo_image_surface_get_stride(pixels);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const uint8_t* p = rgb + (size_t(row) * width + column) * 3;
            const uint32_t value = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
            std::memcpy(data + size_t(row) * stride + size_t(column) * 4, &value, 4);
        }
    cairo_surface_mark_dirty(pixels);
    auto* cr = reinterpret_cast<cairo_t*>(context);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, pixels, x, y);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(pixels);
}

void SetMonitorWorkAreas(const std::vector<PixelRect>& areas) { g_monitors = areas; }

PixelRect DialogUnitsToPixels(WindowHandle dialog, const PixelRect& units) {
    return gtk::ToPixels(DialogOf(dialog), units);
}

}  // namespace tav::platform
