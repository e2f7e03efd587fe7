// The GTK toolkit's dialogs: the window made from the template, the user's
// actions turned into the dialog manager's messages (with the rules of
// platform/window_toolkit.h), the paint cycle and the modal loop.
#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/gtk/toolkit.h"
#include "resources/dialog_template.h"

namespace tav::platform::gtk {
namespace {

std::vector<Dialog*> g_open;

// Squeezes the theme's controls into the template's places, and shows the
// scroll bars' arrow buttons (the line steps).
constexpr char kStyle[] =
    "#tavrisk-dialog entry { min-height: 0; min-width: 0; padding: 0 3px; }\n"
    "#tavrisk-dialog button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
    "#tavrisk-dialog checkbutton { min-height: 0; padding: 0; }\n"
    "#tavrisk-dialog scrollbar { -GtkScrollbar-has-backward-stepper: true;"
    " -GtkScrollbar-has-forward-stepper: true; }\n"
    "#tavrisk-dialog scrollbar button { color: @theme_fg_color; min-width: 16px; }\n";

// A list's closed box is as high as an edit box.
constexpr int kListBoxHeight = 12;

int32_t RoundedMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
    const int64_t product = int64_t(number) * numerator;
    const int64_t magnitude = (std::llabs(product) + denominator / 2) / denominator;
    return int32_t(product < 0 ? -magnitude : magnitude);
}

// The base units of the window's font, as the system measures them: the
// width of the 52 letters over 26, halved and rounded, and the line height.
void MeasureBaseUnits(Dialog* d) {
    PangoLayout* layout =
        gtk_widget_create_pango_layout(d->window, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    d->baseX = std::max(1, (width / 26 + 1) / 2);
    d->baseY = std::max(1, height);
}

Kind KindOf(const char* className, uint32_t style) {
    const uint32_t kind = style & 0xF;
    if (std::strcmp(className, "Button") == 0)
        return kind == TAV_BS_GROUPBOX ? Kind::Group : kind == TAV_BS_AUTOCHECKBOX ? Kind::Check
               : kind == TAV_BS_OWNERDRAW ? Kind::OwnerDrawn : Kind::Push;
    if (std::strcmp(className, "Edit") == 0) return Kind::Edit;
    if (std::strcmp(className, "ComboBox") == 0) return Kind::List;
    if (std::strcmp(className, "ScrollBar") == 0) return Kind::ScrollBar;
    return (style & 0x1F) == TAV_SS_BLACKFRAME ? Kind::Frame : Kind::Label;
}

intptr_t MousePoint(Dialog* d, GtkWidget* widget, double x, double y) {
    int cx = 0, cy = 0;
    gtk_widget_translate_coordinates(widget, d->canvas, int(std::floor(x)), int(std::floor(y)), &cx, &cy);
    // As the system reports a captured mouse: signed 16-bit coordinates,
    // negative past the client area's top or left edge.
    cx = std::clamp(cx, -32768, 32767);
    cy = std::clamp(cy, -32768, 32767);
    return intptr_t(uint16_t(cx)) | (intptr_t(uint16_t(cy)) << 16);
}

// ---- The user's actions ----------------------------------------------------------------

void OnEditChanged(GtkEditable*, Control* c) {
    if (!c->dialog->ended) c->dialog->Command(*c, kNotifyEditChanged);
}

void OnListChanged(GtkComboBox*, Control* c) {
    if (!c->dialog->ended) c->dialog->Command(*c, kNotifySelectionChanged);
}

void OnClicked(GtkButton*, Control* c) {
    if (!c->dialog->ended) c->dialog->Command(*c, kNotifyClicked);
}

gboolean OnScroll(GtkRange*, GtkScrollType type, double value, Control* c) {
    Dialog* d = c->dialog;
    if (d->ended) return TRUE;
    uint16_t code = kScrollThumbTrack;
    switch (type) {
        case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_LEFT: case GTK_SCROLL_STEP_UP: code = kScrollLineLeft; break;
        case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_RIGHT: case GTK_SCROLL_STEP_DOWN: code = kScrollLineRight; break;
        case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_LEFT: case GTK_SCROLL_PAGE_UP: code = kScrollPageLeft; break;
        case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_RIGHT: case GTK_SCROLL_PAGE_DOWN: code = kScrollPageRight; break;
        case GTK_SCROLL_START: code = kScrollLeftEnd; break;
        case GTK_SCROLL_END: code = kScrollRightEnd; break;
        default: break;
    }
    const auto thumb = uint16_t(int16_t(std::lround(std::clamp(value, -32768.0, 32767.0))));
    // The dialog moves the bar itself.
    d->Send(kMessageHScroll, uintptr_t(code) | (uintptr_t(thumb) << 16), reinterpret_cast<intptr_t>(c));
    return TRUE;
}

gboolean OnOwnerPress(GtkWidget* widget, GdkEventButton* event, Control* c) {
    Dialog* d = c->dialog;
    if (d->ended || event->type != GDK_BUTTON_PRESS || event->button != 1 || !c->enabled) return TRUE;
    gtk_widget_grab_focus(widget);
    d->pressedButton = c;
    c->pressed = true;
    c->redraw = true;
    SchedulePaint(d);
    return TRUE;
}

gboolean OnOwnerRelease(GtkWidget* widget, GdkEventButton* event, Control* c) {
    Dialog* d = c->dialog;
    if (d->ended || event->button != 1 || d->pressedButton != c) return TRUE;
    d->pressedButton = nullptr;
    c->pressed = false;
    c->redraw = true;
    const bool inside = event->x >= 0 && event->y >= 0 && event->x < gtk_widget_get_allocated_width(widget) &&
                        event->y < gtk_widget_get_allocated_height(widget);
    if (inside) ClickOwnerDrawn(d, c);
    SchedulePaint(d);
    return TRUE;
}

gboolean OnPress(GtkWidget* widget, GdkEventButton* event, Dialog* d) {
    if (!d->ended && event->type == GDK_BUTTON_PRESS && event->button == 1)
        d->Send(kMessageButtonDown, 1, MousePoint(d, widget, event->x, event->y));
    return TRUE;
}

gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, Dialog* d) {
    if (!d->ended)
        d->Send(kMessageMouseMove, (event->state & GDK_BUTTON1_MASK) != 0 ? 1 : 0,
                MousePoint(d, widget, event->x, event->y));
    return TRUE;
}

gboolean OnRelease(GtkWidget* widget, GdkEventButton* event, Dialog* d) {
    if (d->ended || event->button != 1) return TRUE;
    d->Send(kMessageButtonUp, 0, MousePoint(d, widget, event->x, event->y));
    d->captured = false;
    return TRUE;
}

Control* FocusedControl(Dialog* d) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d->window));
    if (focus == nullptr) return nullptr;
    for (auto& c : d->controls)
        if (c->widget != nullptr && (c->widget == focus || gtk_widget_is_ancestor(focus, c->widget))) return c.get();
    return nullptr;
}

// The tab order is the template's, as in the system's dialogs.
void MoveFocus(Dialog* d, int step) {
    std::vector<Control*> stops;
    for (auto& c : d->controls)
        if (c->TabStop() && c->widget != nullptr && c->enabled) stops.push_back(c.get());
    if (stops.empty()) return;
    const auto at = std::find(stops.begin(), stops.end(), FocusedControl(d));
    size_t next = 0;
    if (at != stops.end()) next = (size_t(at - stops.begin()) + stops.size() + size_t(step)) % stops.size();
    else if (step < 0) next = stops.size() - 1;
    gtk_widget_grab_focus(stops[next]->widget);
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, Dialog* d) {
    if (d->ended) return FALSE;
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    switch (event->keyval) {
        case GDK_KEY_Escape:
            if (Control* cancel = d->Find(kCommandCancel)) d->Command(*cancel, kNotifyClicked);
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter: {
            // A push button with the focus takes Enter; anywhere else it is OK.
            Control* focused = FocusedControl(d);
            Control* target = focused != nullptr && focused->kind == Kind::Push ? focused : d->Find(kCommandOk);
            if (target != nullptr && target->enabled) d->Command(*target, kNotifyClicked);
            return TRUE;
        }
        case GDK_KEY_Tab:
        case GDK_KEY_KP_Tab:
        case GDK_KEY_ISO_Left_Tab:
            if ((modifiers & ~GDK_SHIFT_MASK) != 0) return FALSE;
            MoveFocus(d, (modifiers & GDK_SHIFT_MASK) != 0 || event->keyval == GDK_KEY_ISO_Left_Tab ? -1 : 1);
            return TRUE;
        case GDK_KEY_space:
            if (Control* focused = FocusedControl(d); focused != nullptr && focused->kind == Kind::OwnerDrawn) {
                ClickOwnerDrawn(d, focused);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, Dialog* d) {
    Control* cancel = d->Find(kCommandCancel);
    if (!d->ended && cancel != nullptr) d->Command(*cancel, kNotifyClicked);
    return TRUE;
}

gboolean OnConfigure(GtkWidget* widget, GdkEvent*, Dialog* d) {
    GdkRectangle frame{};
    gdk_window_get_frame_extents(gtk_widget_get_window(widget), &frame);
    // A move asked for stands until the window is reported there.
    if (!d->moveRequested || (frame.x == d->screen.left && frame.y == d->screen.top)) {
        d->screen = PixelRect{frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
        d->moveRequested = false;
    }
    return FALSE;
}

// The picture under the controls.
gboolean OnDraw(GtkWidget*, cairo_t* cr, Dialog* d) {
    cairo_set_source_surface(cr, d->picture, 0, 0);
    cairo_paint(cr);
    return FALSE;
}

gboolean OnPaintIdle(gpointer data) {
    auto* d = static_cast<Dialog*>(data);
    d->paintSource = 0;
    PaintNow(d);
    return G_SOURCE_REMOVE;
}

// ---- Making the dialog ----------------------------------------------------------------

GtkWidget* MakeWidget(Control* c, const char* caption) {
    GtkWidget* w = nullptr;
    switch (c->kind) {
        case Kind::Group:
            w = gtk_frame_new(*caption != '\0' ? caption : nullptr);
            break;
        case Kind::Label:
            w = gtk_label_new(caption);
            gtk_label_set_xalign(GTK_LABEL(w), (c->style & 3) == TAV_SS_RIGHT ? 1.0f
                                                : (c->style & 3) == TAV_SS_CENTER ? 0.5f : 0.0f);
            gtk_label_set_yalign(GTK_LABEL(w), 0.0f);
            break;
        case Kind::Frame:
            return nullptr;
        case Kind::Edit:
            w = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(w), 1);
            gtk_entry_set_text(GTK_ENTRY(w), caption);
            c->userSignal = g_signal_connect(w, "changed", G_CALLBACK(OnEditChanged), c);
            break;
        case Kind::List: {
            w = gtk_combo_box_text_new();
            // Long items are cut short in the closed box, whole in the open list.
            GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(w));
            for (GList* cell = cells; cell != nullptr; cell = cell->next)
                g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
            g_list_free(cells);
            c->userSignal = g_signal_connect(w, "changed", G_CALLBACK(OnListChanged), c);
            break;
        }
        case Kind::Check:
            w = gtk_check_button_new_with_label(caption);
            c->userSignal = g_signal_connect(w, "toggled", G_CALLBACK(OnClicked), c);
            break;
        case Kind::Push:
            w = gtk_button_new_with_label(caption);
            c->userSignal = g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), c);
            break;
        case Kind::OwnerDrawn:
            // Drawn on the picture by the dialog; the box only takes the mouse and the focus.
            w = gtk_event_box_new();
            gtk_event_box_set_visible_window(GTK_EVENT_BOX(w), FALSE);
            gtk_widget_set_can_focus(w, TRUE);
            gtk_widget_add_events(w, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
            g_signal_connect(w, "button-press-event", G_CALLBACK(OnOwnerPress), c);
            g_signal_connect(w, "button-release-event", G_CALLBACK(OnOwnerRelease), c);
            c->redraw = true;
            break;
        case Kind::ScrollBar:
            w = gtk_scrollbar_new(GTK_ORIENTATION_HORIZONTAL, gtk_adjustment_new(0, 0, 100, 1, 16, 0));
            c->userSignal = g_signal_connect(w, "change-value", G_CALLBACK(OnScroll), c);
            break;
    }
    return w;
}

void AddControl(Dialog* d, const char* caption, int id, const char* className, uint32_t style, const PixelRect& units) {
    auto c = std::make_unique<Control>();
    c->dialog = d;
    c->id = id;
    c->kind = KindOf(className, style);
    c->className = className;
    c->style = style;
    c->units = units;
    c->pixels = ToPixels(d, units);
    if (c->kind == Kind::List)
        c->pixels.bottom = c->pixels.top + ToPixels(d, PixelRect{0, 0, 0, kListBoxHeight}).bottom;
    c->widget = MakeWidget(c.get(), caption);
    if (c->widget != nullptr) {
        gtk_widget_set_size_request(c->widget, c->pixels.right - c->pixels.left, c->pixels.bottom - c->pixels.top);
        gtk_fixed_put(GTK_FIXED(d->canvas), c->widget, c->pixels.left, c->pixels.top);
    }
    d->controls.push_back(std::move(c));
}

void Build(Dialog* d) {
    static GtkCssProvider* style = [] {
        GtkCssProvider* provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, kStyle, -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        return provider;
    }();
    (void)style;
    d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(d->window, "tavrisk-dialog");
    gtk_window_set_title(GTK_WINDOW(d->window), TAV_DIALOG_CAPTION);
    gtk_window_set_type_hint(GTK_WINDOW(d->window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
    gtk_window_set_modal(GTK_WINDOW(d->window), TRUE);
    g_object_set_data(G_OBJECT(d->window), "tavrisk-dialog", d);
    MeasureBaseUnits(d);
    const PixelRect client = ToPixels(d, PixelRect{0, 0, TAV_DIALOG_WIDTH, TAV_DIALOG_HEIGHT});
    d->clientWidth = client.right;
    d->clientHeight = client.bottom;
    d->picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, d->clientWidth, d->clientHeight);
    d->canvas = gtk_fixed_new();
    gtk_widget_set_size_request(d->canvas, d->clientWidth, d->clientHeight);
    gtk_container_add(GTK_CONTAINER(d->window), d->canvas);
#define TAV_GTK_CONTROL(caption, id, className, style, x, y, width, height) \
    AddControl(d, caption, id, className, uint32_t(style), PixelRect{x, y, (x) + (width), (y) + (height)});
    TAVRISK_DIALOG_CONTROLS(TAV_GTK_CONTROL)
#undef TAV_GTK_CONTROL
    for (auto& c : d->controls) {
        if (c->kind == Kind::Frame) DrawBlackFrame(d, c->pixels);
        if (c->id == kCommandOk && c->kind == Kind::Push) {
            gtk_widget_set_can_default(c->widget, TRUE);
            gtk_window_set_default(GTK_WINDOW(d->window), c->widget);
        }
    }
    gtk_widget_add_events(d->window, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(d->window, "button-press-event", G_CALLBACK(OnPress), d);
    g_signal_connect(d->window, "motion-notify-event", G_CALLBACK(OnMotion), d);
    g_signal_connect(d->window, "button-release-event", G_CALLBACK(OnRelease), d);
    g_signal_connect(d->window, "key-press-event", G_CALLBACK(OnKey), d);
    g_signal_connect(d->window, "delete-event", G_CALLBACK(OnDelete), d);
    g_signal_connect(d->window, "configure-event", G_CALLBACK(OnConfigure), d);
    g_signal_connect(d->canvas, "draw", G_CALLBACK(OnDraw), d);
    SchedulePaint(d);  // the owner-drawn buttons
}

void Dispose(Dialog* d) {
    if (d->paintSource != 0) g_source_remove(d->paintSource);
    d->paintSource = 0;
    g_open.erase(std::remove(g_open.begin(), g_open.end(), d), g_open.end());
    GdkDisplay* display = gtk_widget_get_display(d->window);
    gtk_widget_destroy(d->window);
    cairo_surface_destroy(d->picture);
    gdk_display_flush(display);
}

}  // namespace

PixelRect ToPixels(const Dialog* d, const PixelRect& u) {
    return PixelRect{RoundedMulDiv(u.left, d->baseX, 4), RoundedMulDiv(u.top, d->baseY, 8),
                     RoundedMulDiv(u.right, d->baseX, 4), RoundedMulDiv(u.bottom, d->baseY, 8)};
}

bool Control::TabStop() const { return (style & TAV_WS_TABSTOP) != 0; }

Control* Dialog::Find(int id) {
    for (auto& c : controls)
        if (c->id == id) return c.get();
    return nullptr;
}

void Dialog::Command(const Control& c, uint16_t code) {
    Send(kMessageCommand, uintptr_t(uint16_t(c.id)) | (uintptr_t(code) << 16), reinterpret_cast<intptr_t>(&c));
}

bool StartGtk() {
    static const bool started = [] {
        // An owner handle from the host is an X11 window.
        gdk_set_allowed_backends("x11,*");
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
    return started;
}

Dialog* OpenDialog(WindowHandle handle) {
    for (Dialog* d : g_open)
        if (d->Handle() == handle) return d;
    return nullptr;
}

Dialog* TopDialog() { return g_open.empty() ? nullptr : g_open.back(); }

bool SetTransientOwner(GtkWindow* window, WindowHandle owner, int* originX, int* originY) {
    if (owner == 0) return false;
    if (Dialog* d = OpenDialog(owner)) {
        gtk_window_set_transient_for(window, GTK_WINDOW(d->window));
        return false;
    }
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    if (!GDK_IS_X11_DISPLAY(display)) return false;
    gtk_widget_realize(GTK_WIDGET(window));
    gdk_x11_display_error_trap_push(display);
    GdkWindow* native = gdk_x11_window_foreign_new_for_display(display, Window(owner));
    if (native != nullptr) {
        gdk_window_set_transient_for(gtk_widget_get_window(GTK_WIDGET(window)), native);
        gdk_window_get_origin(native, originX, originY);
        g_object_unref(native);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
    return native != nullptr;
}

void SchedulePaint(Dialog* d) {
    // Before GTK's own redraw, so that the screen shows the paint at once.
    if (d->paintSource == 0 && !d->ended)
        d->paintSource = g_idle_add_full(G_PRIORITY_HIGH_IDLE + 10, OnPaintIdle, d, nullptr);
}

void PaintNow(Dialog* d) {
    if (d->paintSource != 0) g_source_remove(d->paintSource);
    d->paintSource = 0;
    for (int round = 0; round < 16 && !d->ended; ++round) {
        bool any = false;
        for (auto& c : d->controls) {
            if (!c->redraw || d->ended) continue;
            c->redraw = false;
            any = true;
            ClearPicture(d, c->pixels);
            const DeviceContext context = BeginContext(d);
            DrawItem item{c->id, context, c->pixels, c->pressed};
            d->Send(kMessageDrawItem, uintptr_t(c->id), reinterpret_cast<intptr_t>(&item));
            EndContext(d, context);
        }
        if (d->invalid.right > d->invalid.left && d->invalid.bottom > d->invalid.top && !d->ended) {
            any = true;
            d->Send(kMessagePaint, 0, 0);
            d->invalid = PixelRect{};  // validated whether or not the paint began
        }
        if (!any) return;
    }
}

void ClickOwnerDrawn(Dialog* d, Control* c) {
    if (!d->ended && c->enabled) d->Command(*c, kNotifyClicked);
}

}  // namespace tav::platform::gtk

// ---- The modal dialog ---------------------------------------------------------------------

namespace tav::platform {

using gtk::Dialog;

intptr_t RunModalDialog(const char* name, WindowHandle owner, DialogProc proc, intptr_t parameter) {
    if (name == nullptr || std::strcmp(name, "TAVRISKPARAM") != 0 || proc == nullptr || !gtk::StartGtk()) return -1;
    Dialog d;
    d.proc = proc;
    d.parameter = parameter;
    gtk::Build(&d);
    // At the template's place from the owner's client area (or the screen's corner).
    int originX = 0, originY = 0;
    gtk::SetTransientOwner(GTK_WINDOW(d.window), owner, &originX, &originY);
    const PixelRect place = gtk::ToPixels(&d, PixelRect{TAV_DIALOG_X, TAV_DIALOG_Y, 0, 0});
    const int x = originX + place.left, y = originY + place.top;
    gtk_window_move(GTK_WINDOW(d.window), x, y);
    d.screen = PixelRect{x, y, x + d.clientWidth, y + d.clientHeight};
    gtk::g_open.push_back(&d);

    if (d.Send(kMessageInitDialog, 0, parameter) != 0 && !d.ended) gtk::MoveFocus(&d, 1);
    if (!d.ended) {
        gtk_widget_show_all(d.window);
        d.loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(d.loop);
        g_main_loop_unref(d.loop);
        d.loop = nullptr;
    }
    d.Send(kMessageDestroy, 0, 0);
    gtk::Dispose(&d);
    return d.code;
}

void EndDialog(WindowHandle dialog, intptr_t code) {
    Dialog* d = reinterpret_cast<Dialog*>(dialog);
    d->ended = true;
    d->code = code;
    d->captured = false;
    if (d->loop != nullptr) g_main_loop_quit(d->loop);
}

}  // namespace tav::platform
