// The GTK services of the library GIMP loads, on a private display: the
// file dialogs and message boxes answered through their real widgets, and
// the clipboard read from the program (this test program exports it).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "platform/program_clipboard.h"

namespace {

// What this program's clipboard holds.
std::vector<uint8_t> g_picture;
uint64_t g_generation = 1;

}  // namespace

extern "C" bool TavriskProgramClipboard(TavriskClipboardPicture* picture) {
    if (g_picture.empty()) return false;
    *picture = TavriskClipboardPicture{g_picture.data(), g_picture.size(), g_generation};
    return true;
}

namespace tav {
namespace {

using Answer = std::function<void(GtkDialog*)>;

// The dialog shown, once ready: a file chooser has its folder.
GtkDialog* ShownDialog() {
    GtkDialog* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next)
        if (GTK_IS_DIALOG(w->data) && gtk_widget_get_mapped(GTK_WIDGET(w->data))) found = GTK_DIALOG(w->data);
    g_list_free(windows);
    if (found != nullptr && GTK_IS_FILE_CHOOSER(found)) {
        gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(found));
        if (folder == nullptr) found = nullptr;
        g_free(folder);
    }
    return found;
}

// Answers the next dialog shown with `answer`, from the main loop the
// dialog runs; fails the test when none is ready within ten seconds.
void WhenShown(Answer answer) {
    struct Waiting {
        Answer answer;
        std::chrono::steady_clock::time_point deadline;
    };
    auto* waiting = new Waiting{std::move(answer), std::chrono::steady_clock::now() + std::chrono::seconds(10)};
    g_timeout_add(20, [](gpointer data) -> gboolean {
        auto* w = static_cast<Waiting*>(data);
        if (GtkDialog* dialog = ShownDialog()) {
            w->answer(dialog);
        } else if (std::chrono::steady_clock::now() < w->deadline) {
            return G_SOURCE_CONTINUE;
        } else {
            ADD_FAILURE() << "no dialog was ready";
            GList* windows = gtk_window_list_toplevels();
            for (GList* w = windows; w != nullptr; w = w->next)
                if (GTK_IS_DIALOG(w->data)) gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_DELETE_EVENT);
            g_list_free(windows);
        }
        delete w;
        return G_SOURCE_REMOVE;
    }, waiting);
}

GtkWidget* Find(GtkWidget* widget, GType type) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c != nullptr && found == nullptr; c = c->next) found = Find(GTK_WIDGET(c->data), type);
    g_list_free(children);
    return found;
}

void Click(GtkDialog* dialog, int response) {
    gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, response)));
}

class GtkServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
        char pattern[] = "/tmp/tavrisk-gtk-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    platform::FileDialogRequest Request(const char* folder, bool open) {
        platform::FileDialogRequest r{};
        r.title = open ? "Load Settings From File" : "Save Settings To File";
        r.filters = "TavRisk Files\0*.tvk\0All Files\0*.*\0";
        r.defaultExtension = "tvk";
        r.initialFolder = folder;
        r.flags = open ? platform::kFileDialogFileMustExist : platform::kFileDialogPathMustExist;
        r.fileName = name_;
        r.fileNameSize = sizeof name_;
        return r;
    }
    char name_[platform::kFileNameSize] = {};
    std::string folder_;
};

// The proposed name, in its folder, saved as it is gets the default
// extension; the title and the filters are the request's.
TEST_F(GtkServicesTest, SaveProposesTheNameAndAddsTheDefaultExtension) {
    std::string title, filter;
    WhenShown([&](GtkDialog* dialog) {
        title = gtk_window_get_title(GTK_WINDOW(dialog));
        filter = gtk_file_filter_get_name(gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(dialog)));
        Click(dialog, GTK_RESPONSE_ACCEPT);
    });
    std::strcpy(name_, Path("studio").c_str());
    ASSERT_TRUE(platform::ShowSaveFileDialog(Request(nullptr, false)));
    EXPECT_EQ(std::string(name_), Path("studio.tvk"));
    EXPECT_EQ(title, "Save Settings To File");
    EXPECT_EQ(filter, "TavRisk Files");
}

// The file typed into the location field is the one chosen; a cancelled
// dialog leaves the name as it was.
TEST_F(GtkServicesTest, OpenChoosesAnExistingFileAndCancelChangesNothing) {
    const std::string file = Path("shot.tvk");
    std::ofstream(file) << "[TavRisk Settings]\nGamma=9\n";
    WhenShown([&](GtkDialog* dialog) {
        g_signal_emit_by_name(Find(GTK_WIDGET(dialog), GTK_TYPE_FILE_CHOOSER_WIDGET), "location-popup", file.c_str());
        Click(dialog, GTK_RESPONSE_ACCEPT);
    });
    ASSERT_TRUE(platform::ShowOpenFileDialog(Request(folder_.c_str(), true)));
    EXPECT_EQ(std::string(name_), file);

    std::strcpy(name_, "kept");
    WhenShown([](GtkDialog* dialog) { Click(dialog, GTK_RESPONSE_CANCEL); });
    EXPECT_FALSE(platform::ShowOpenFileDialog(Request(folder_.c_str(), true)));
    EXPECT_STREQ(name_, "kept");
}

TEST_F(GtkServicesTest, AMessageBoxShowsItsTextAndClosesWithOk) {
    const struct {
        platform::MessageIcon icon;
        GtkMessageType type;
    } cases[] = {{platform::MessageIcon::Stop, GTK_MESSAGE_ERROR}, {platform::MessageIcon::Information, GTK_MESSAGE_INFO}};
    for (const auto& c : cases) {
        std::string title, text;
        GtkMessageType type = GTK_MESSAGE_OTHER;
        WhenShown([&](GtkDialog* dialog) {
            title = gtk_window_get_title(GTK_WINDOW(dialog));
            gchar* shown = nullptr;
            g_object_get(dialog, "text", &shown, "message-type", &type, nullptr);
            text = shown != nullptr ? shown : "";
            g_free(shown);
            Click(dialog, GTK_RESPONSE_OK);
        });
        platform::ShowMessageBox(0, "The settings could not be saved.", "Tavrisk Filter", c.icon);
        EXPECT_EQ(title, "Tavrisk Filter");
        EXPECT_EQ(text, "The settings could not be saved.");
        EXPECT_EQ(type, c.type);
    }
}

// The program's picture is copied once for each generation, and only
// while the clipboard is open.
TEST_F(GtkServicesTest, TheClipboardIsTheProgramsPicture) {
    auto read = [] {
        EXPECT_TRUE(platform::OpenClipboard(0));
        EXPECT_FALSE(platform::OpenClipboard(0));  // one reader at a time
        std::vector<uint8_t> bytes;
        platform::MemoryHandle dib = platform::GetClipboardDib();
        if (dib != nullptr) {
            const auto* p = static_cast<const uint8_t*>(platform::LockMovable(dib));
            bytes.assign(p, p + platform::MovableSize(dib));
            platform::UnlockMovable(dib);
        }
        platform::CloseClipboard();
        return std::make_pair(dib, bytes);
    };
    g_picture.clear();
    EXPECT_EQ(read().first, nullptr);
    EXPECT_EQ(platform::GetClipboardDib(), nullptr);  // closed
    g_picture = {1, 2, 3, 4, 5};
    const auto first = read();
    ASSERT_GE(first.second.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(first.second.begin(), first.second.begin() + 5), g_picture);
    EXPECT_EQ(read().first, first.first);  // the same generation: the same copy
    g_picture = {9, 8, 7, 6, 5};
    ++g_generation;
    const auto second = read();
    ASSERT_GE(second.second.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(second.second.begin(), second.second.begin() + 5), g_picture);
}

}  // namespace
}  // namespace tav
