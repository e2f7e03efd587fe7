// The window toolkit on GTK 3: the controls of a dialog made by
// platform/gtk/dialog_window.cpp, its places, the mouse and cursor, and the
// paint sessions. Drawing is platform/gtk/drawing.cpp.
#include "platform/window_toolkit.h"

#include <algorithm>
#include <cstring>

#include "platform/gtk/toolkit.h"

namespace tav::platform {
namespace {

using gtk::Control;
using gtk::Dialog;
using gtk::Kind;

Dialog* DialogOf(WindowHandle handle) { return reinterpret_cast<Dialog*>(handle); }

Control* Find(WindowHandle dialog, int id) { return DialogOf(dialog)->Find(id); }

// Runs `change` with the control's user-action signal held back: what the
// program does to a list, a check box or a scroll bar raises no notification.
template <typename F>
void Quietly(Control* c, F change) {
    if (c->userSignal != 0) g_signal_handler_block(c->widget, c->userSignal);
    change();
    if (c->userSignal != 0) g_signal_handler_unblock(c->widget, c->userSignal);
}

GtkAdjustment* Adjustment(Control* c) { return gtk_range_get_adjustment(GTK_RANGE(c->widget)); }

}  // namespace

// ---- Controls -----------------------------------------------------------------------------

void SetControlText(WindowHandle dialog, int id, const char* text) {
    Control* c = Find(dialog, id);
    if (c == nullptr || c->widget == nullptr) return;
    const char* t = text != nullptr ? text : "";
    switch (c->kind) {
        case Kind::Edit:
            // One change notification, also when the text stays as it was.
            Quietly(c, [&] {
                if (std::strcmp(gtk_entry_get_text(GTK_ENTRY(c->widget)), t) != 0) {
                    gtk_entry_set_text(GTK_ENTRY(c->widget), t);
                    gtk_editable_set_position(GTK_EDITABLE(c->widget), -1);
                }
            });
            DialogOf(dialog)->Command(*c, kNotifyEditChanged);
            break;
        case Kind::Label: gtk_label_set_text(GTK_LABEL(c->widget), t); break;
        case Kind::Push:
        case Kind::Check: gtk_button_set_label(GTK_BUTTON(c->widget), t); break;
        case Kind::Group: gtk_frame_set_label(GTK_FRAME(c->widget), *t != '\0' ? t : nullptr); break;
        default: break;
    }
}

int GetControlText(WindowHandle dialog, int id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    Control* c = Find(dialog, id);
    const char* text = nullptr;
    char* owned = nullptr;
    if (c != nullptr && c->widget != nullptr) {
        switch (c->kind) {
            case Kind::Edit: text = gtk_entry_get_text(GTK_ENTRY(c->widget)); break;
            case Kind::Label: text = gtk_label_get_text(GTK_LABEL(c->widget)); break;
            case Kind::Push:
            case Kind::Check: text = gtk_button_get_label(GTK_BUTTON(c->widget)); break;
            case Kind::Group: text = gtk_frame_get_label(GTK_FRAME(c->widget)); break;
            case Kind::List: text = owned = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(c->widget)); break;
            default: break;
        }
    }
    const int length = text != nullptr ? std::min(int(std::strlen(text)), size - 1) : 0;
    if (length > 0) std::memcpy(buffer, text, size_t(length));
    buffer[length] = '\0';
    g_free(owned);
    return length;
}

void SetChecked(WindowHandle dialog, int id, bool checked) {
    Control* c = Find(dialog, id);
    if (c != nullptr && c->kind == Kind::Check)
        Quietly(c, [&] { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), checked); });
}

bool IsChecked(WindowHandle dialog, int id) {
    Control* c = Find(dialog, id);
    return c != nullptr && c->kind == Kind::Check && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget));
}

void ClearList(WindowHandle dialog, int id) {
    Control* c = Find(dialog, id);
    if (c != nullptr && c->kind == Kind::List)
        Quietly(c, [&] { gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(c->widget)); });
}

void AddListItem(WindowHandle dialog, int id, const char* text) {
    Control* c = Find(dialog, id);
    if (c != nullptr && c->kind == Kind::List)
        Quietly(c, [&] { gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c->widget), text != nullptr ? text : ""); });
}

void SelectListItem(WindowHandle dialog, int id, int index) {
    Control* c = Find(dialog, id);
    if (c == nullptr || c->kind != Kind::List) return;
    const int count = gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(c->widget)), nullptr);
    Quietly(c, [&] { gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index >= 0 && index < count ? index : -1); });
}

int SelectedListItem(WindowHandle dialog, int id) {
    Control* c = Find(dialog, id);
    return c != nullptr && c->kind == Kind::List ? gtk_combo_box_get_active(GTK_COMBO_BOX(c->widget)) : -1;
}

void SetScrollRange(WindowHandle dialog, int id, int minimum, int maximum, bool) {
    Control* c = Find(dialog, id);
    if (c == nullptr || c->kind != Kind::ScrollBar) return;
    GtkAdjustment* a = Adjustment(c);
    const double value = std::clamp(gtk_adjustment_get_value(a), double(minimum), double(std::max(minimum, maximum)));
    // No page: the thumb takes every position from the minimum to the maximum.
    Quietly(c, [&] { gtk_adjustment_configure(a, value, minimum, std::max(minimum, maximum), 1, 16, 0); });
}

void SetScrollPosition(WindowHandle dialog, int id, int position, bool) {
    Control* c = Find(dialog, id);
    if (c == nullptr || c->kind != Kind::ScrollBar) return;
    GtkAdjustment* a = Adjustment(c);
    Quietly(c, [&] {
        gtk_adjustment_set_value(a, std::clamp(double(position), gtk_adjustment_get_lower(a),
                                               gtk_adjustment_get_upper(a)));
    });
}

void EnableControl(WindowHandle dialog, int id, bool enabled) {
    Control* c = Find(dialog, id);
    if (c == nullptr || c->enabled == enabled) return;
    c->enabled = enabled;
    if (c->widget != nullptr) gtk_widget_set_sensitive(c->widget, enabled);
    if (c->kind == Kind::OwnerDrawn) {
        c->redraw = true;
        gtk::SchedulePaint(DialogOf(dialog));
    }
}

int ControlIdOf(WindowHandle control) { return control != 0 ? reinterpret_cast<const Control*>(control)->id : 0; }

// ---- Places -------------------------------------------------------------------------------

PixelRect ControlRect(WindowHandle dialog, int id) {
    Control* c = Find(dialog, id);
    return c != nullptr ? c->pixels : PixelRect{};
}

PixelRect DialogScreenRect(WindowHandle dialog) { return DialogOf(dialog)->screen; }

void MoveDialog(WindowHandle dialog, int x, int y) {
    Dialog* d = DialogOf(dialog);
    d->screen = PixelRect{x, y, x + (d->screen.right - d->screen.left), y + (d->screen.bottom - d->screen.top)};
    d->moveRequested = true;
    gtk_window_move(GTK_WINDOW(d->window), x, y);
}

bool OnSomeMonitor(const PixelRect& r) {
    for (const PixelRect& m : gtk::MonitorWorkAreas())
        if (r.left < m.right && m.left < r.right && r.top < m.bottom && m.top < r.bottom) return true;
    return false;
}

// ---- Mouse and cursor ---------------------------------------------------------------------

// While the button is held the window has the mouse anyway (GTK's implicit
// grab); the dialog's own record is what the messages report.
void CaptureMouse(WindowHandle dialog) { DialogOf(dialog)->captured = true; }

void ReleaseMouse() {}

CursorHandle ShowWaitCursor() {
    Dialog* d = gtk::TopDialog();
    gtk::g_waitCursor = true;
    if (d == nullptr || !gtk_widget_get_realized(d->window)) return 0;
    GdkWindow* window = gtk_widget_get_window(d->window);
    GdkCursor* previous = gdk_window_get_cursor(window);
    if (previous != nullptr) g_object_ref(previous);
    GdkCursor* wait = gdk_cursor_new_from_name(gdk_window_get_display(window), "wait");
    gdk_window_set_cursor(window, wait);
    if (wait != nullptr) g_object_unref(wait);
    // Shown now: the dialog keeps the thread until it restores the cursor.
    gdk_display_flush(gdk_window_get_display(window));
    return reinterpret_cast<CursorHandle>(previous);
}

void RestoreCursor(CursorHandle cursor) {
    auto* previous = reinterpret_cast<GdkCursor*>(cursor);
    gtk::g_waitCursor = false;
    if (Dialog* d = gtk::TopDialog(); d != nullptr && gtk_widget_get_realized(d->window))
        gdk_window_set_cursor(gtk_widget_get_window(d->window), previous);
    if (previous != nullptr) g_object_unref(previous);
}

// ---- Painting -----------------------------------------------------------------------------

void Invalidate(WindowHandle dialog, const PixelRect& area) {
    Dialog* d = DialogOf(dialog);
    if (area.right <= area.left || area.bottom <= area.top) return;
    PixelRect& r = d->invalid;
    r = r.right <= r.left || r.bottom <= r.top
            ? area
            : PixelRect{std::min(r.left, area.left), std::min(r.top, area.top), std::max(r.right, area.right),
                        std::max(r.bottom, area.bottom)};
    gtk::SchedulePaint(d);
}

PaintSession BeginPaint(WindowHandle dialog) {
    Dialog* d = DialogOf(dialog);
    d->invalid = PixelRect{};
    ++d->paints;
    PaintSession paint{};
    paint.context = gtk::BeginContext(d);
    return paint;
}

void EndPaint(WindowHandle dialog, PaintSession* paint) {
    gtk::EndContext(DialogOf(dialog), paint->context);
    paint->context = 0;
}

DeviceContext GetDrawingContext(WindowHandle dialog) { return gtk::BeginContext(DialogOf(dialog)); }

void ReleaseDrawingContext(WindowHandle dialog, DeviceContext context) { gtk::EndContext(DialogOf(dialog), context); }

DrawItem ReadDrawItem(intptr_t second) { return *reinterpret_cast<const DrawItem*>(second); }

void OpenHelpContents(WindowHandle dialog, const char* path) {
    gtk::g_lastHelpFile = path != nullptr ? path : "";
    if (path == nullptr || !g_file_test(path, G_FILE_TEST_IS_REGULAR)) return;
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (uri != nullptr) gtk_show_uri_on_window(GTK_WINDOW(DialogOf(dialog)->window), uri, GDK_CURRENT_TIME, nullptr);
    g_free(uri);
}

}  // namespace tav::platform

namespace tav::platform::gtk {

std::string g_lastHelpFile;
bool g_waitCursor = false;

}  // namespace tav::platform::gtk
