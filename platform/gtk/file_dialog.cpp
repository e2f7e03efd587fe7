// File dialogs on GTK 3: the file chooser, modal over its owner, with the
// request's filters, starting folder, proposed name and default extension.
// Without a display every dialog answers cancel.
#include "platform/file_dialog.h"

#include <cstring>
#include <string>

#include "platform/gtk/toolkit.h"

namespace tav::platform {
namespace {

// The pairs of description and patterns ("*.tvk", or several joined by ';').
void AddFilters(GtkFileChooser* chooser, const char* filters) {
    for (const char* p = filters; p != nullptr && *p != '\0';) {
        const char* description = p;
        const char* patterns = description + std::strlen(description) + 1;
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, description);
        gchar** each = g_strsplit(patterns, ";", -1);
        for (gchar** pattern = each; *pattern != nullptr; ++pattern)
            if (**pattern != '\0') gtk_file_filter_add_pattern(filter, *pattern);
        g_strfreev(each);
        gtk_file_chooser_add_filter(chooser, filter);
        p = patterns + std::strlen(patterns) + 1;
    }
}

// A typed name without an extension gets the default one.
std::string WithDefaultExtension(std::string path, const char* extension) {
    if (extension == nullptr || *extension == '\0') return path;
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.find('.') == std::string::npos) path += std::string(".") + extension;
    return path;
}

bool ShowChooser(const FileDialogRequest& r, bool save) {
    if (r.fileName == nullptr || r.fileNameSize == 0 || !gtk::StartGtk()) return false;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        r.title, nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    int x = 0, y = 0;
    gtk::SetTransientOwner(GTK_WINDOW(dialog), r.owner, &x, &y);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, save && (r.flags & kFileDialogOverwritePrompt) != 0);
    AddFilters(chooser, r.filters);

    // The proposed name's folder, else the one asked for.
    const std::string proposed(r.fileName, strnlen(r.fileName, r.fileNameSize));
    const size_t slash = proposed.rfind('/');
    if (slash != std::string::npos)
        gtk_file_chooser_set_current_folder(chooser, slash == 0 ? "/" : proposed.substr(0, slash).c_str());
    else if (r.initialFolder != nullptr && *r.initialFolder != '\0')
        gtk_file_chooser_set_current_folder(chooser, r.initialFolder);
    const std::string name = proposed.substr(slash == std::string::npos ? 0 : slash + 1);
    if (!name.empty()) {
        if (save)
            gtk_file_chooser_set_current_name(chooser, name.c_str());
        else if (slash != std::string::npos)
            gtk_file_chooser_set_filename(chooser, proposed.c_str());
    }

    bool chosen = false;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* file = gtk_file_chooser_get_filename(chooser);
        if (file != nullptr) {
            const std::string path = save ? WithDefaultExtension(file, r.defaultExtension) : std::string(file);
            const bool exists = g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR);
            if (path.size() < r.fileNameSize && (exists || (r.flags & kFileDialogFileMustExist) == 0)) {
                std::memcpy(r.fileName, path.c_str(), path.size() + 1);
                chosen = true;
            }
        }
        g_free(file);
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace

bool ShowOpenFileDialog(const FileDialogRequest& request) { return ShowChooser(request, false); }

bool ShowSaveFileDialog(const FileDialogRequest& request) { return ShowChooser(request, true); }

}  // namespace tav::platform
