// screen_probe: the screen as the user sees it, for the checks of the dialog
// in GIMP.
//   screen_probe grab OUT.png [X Y W H]    the screen (or a part) into a PNG
//   screen_probe wait PICTURE.png SECONDS  waits until the picture is on the
//                                          screen, pixel for pixel; prints
//                                          where, exit 1 when it never is
#include <gdk/gdk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

GdkPixbuf* Screen() {
    GdkWindow* root = gdk_get_default_root_window();
    return gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
}

// Where the picture's pixels lie on the screen, or false.
bool Find(GdkPixbuf* screen, GdkPixbuf* picture, int* atX, int* atY) {
    const int sw = gdk_pixbuf_get_width(screen), sh = gdk_pixbuf_get_height(screen);
    const int pw = gdk_pixbuf_get_width(picture), ph = gdk_pixbuf_get_height(picture);
    const int sc = gdk_pixbuf_get_n_channels(screen), pc = gdk_pixbuf_get_n_channels(picture);
    const int ss = gdk_pixbuf_get_rowstride(screen), ps = gdk_pixbuf_get_rowstride(picture);
    const guchar* s = gdk_pixbuf_read_pixels(screen);
    const guchar* p = gdk_pixbuf_read_pixels(picture);
    for (int y = 0; y + ph <= sh; ++y)
        for (int x = 0; x + pw <= sw; ++x) {
            bool all = true;
            for (int j = 0; j < ph && all; ++j)
                for (int i = 0; i < pw && all; ++i)
                    all = std::memcmp(s + size_t(y + j) * ss + size_t(x + i) * sc, p + size_t(j) * ps + size_t(i) * pc,
                                      3) == 0;
            if (all) {
                *atX = x, *atY = y;
                return true;
            }
        }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gdk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "screen_probe: no display\n");
        return 2;
    }
    if ((argc == 3 || argc == 7) && std::strcmp(argv[1], "grab") == 0) {
        GdkPixbuf* screen = Screen();
        if (screen == nullptr) return 1;
        GdkPixbuf* part = argc == 7 ? gdk_pixbuf_new_subpixbuf(screen, std::atoi(argv[3]), std::atoi(argv[4]),
                                                               std::atoi(argv[5]), std::atoi(argv[6]))
                                    : screen;
        return gdk_pixbuf_save(part, argv[2], "png", nullptr, "compression", "9", nullptr) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "wait") == 0) {
        GdkPixbuf* picture = gdk_pixbuf_new_from_file(argv[2], nullptr);
        if (picture == nullptr) return 2;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
        do {
            GdkPixbuf* screen = Screen();
            int x = 0, y = 0;
            const bool found = screen != nullptr && Find(screen, picture, &x, &y);
            if (screen != nullptr) g_object_unref(screen);
            if (found) {
                std::printf("%d,%d\n", x, y);
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the next look at the screen
        } while (std::chrono::steady_clock::now() < deadline);
        return 1;
    }
    std::fprintf(stderr, "usage: screen_probe grab OUT.png [X Y W H] | wait PICTURE.png SECONDS\n");
    return 2;
}
