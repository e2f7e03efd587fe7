// The monitors' work areas, from GDK.
#include "platform/gtk/toolkit.h"

namespace tav::platform::gtk {

std::vector<PixelRect> MonitorWorkAreas() {
    std::vector<PixelRect> areas;
    if (!StartGtk()) return areas;
    GdkDisplay* display = gdk_display_get_default();
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkRectangle r{};
        gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &r);
        areas.push_back(PixelRect{r.x, r.y, r.x + r.width, r.y + r.height});
    }
    return areas;
}

}  // namespace tav::platform::gtk
