// Message boxes on GTK 3: a modal message dialog over its owner (one of our
// dialogs or a window of the host). Without a display the message goes to
// standard error as "caption: text".
#include "platform/message_box.h"

#include <cstdio>

#include "platform/gtk/toolkit.h"

namespace tav::platform {

void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon) {
    const char* title = caption != nullptr ? caption : "Error";
    if (!gtk::StartGtk()) {
        std::fprintf(stderr, "%s: %s\n", title, text != nullptr ? text : "");
        return;
    }
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                                            icon == MessageIcon::Stop ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                            GTK_BUTTONS_OK, "%s", text != nullptr ? text : "");
    gtk_window_set_title(GTK_WINDOW(box), title);
    int x = 0, y = 0;
    if (!gtk::SetTransientOwner(GTK_WINDOW(box), owner, &x, &y))
        gtk_window_set_position(GTK_WINDOW(box), owner != 0 ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace tav::platform
