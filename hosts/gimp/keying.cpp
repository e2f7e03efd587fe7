#include "hosts/gimp/keying.h"

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "interface/host_interface.h"
#include "hosts/gimp/clipboard.h"
#include "hosts/gimp/filter_names.h"
#include "hosts/gimp/library.h"
#include "hosts/gimp/pixels.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav::gimp {
namespace {

using Clock = std::chrono::steady_clock;

// The host interface's coordinates are 16-bit.
constexpr int kLargestSide = 32767;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// With TAVRISK_TIMINGS set, what the run took is reported on standard
// error when it ends: the steps, and the times from the program's start to
// the dialog's first preview and to the end.
struct Timings {
    Clock::time_point start = Clock::now();
    int width = 0, height = 0;
    double read = -1, running = -1, keyed = -1, written = -1, shown = -1;

    double Now() const { return Since(start); }
    ~Timings() {
        if (std::getenv("TAVRISK_TIMINGS") == nullptr || read < 0) return;
        const double programToRun = std::chrono::duration<double>(start - ProgramStart()).count();
        std::fprintf(stderr, "tavrisk-gimp: %d x %d pixels: read %.3f s", width, height, read);
        if (keyed >= 0) std::fprintf(stderr, ", keyed %.3f s", keyed - read);
        if (written >= 0) std::fprintf(stderr, ", written %.3f s", written - keyed);
        if (shown >= 0)
            std::fprintf(stderr, "; the dialog's preview shown %.3f s after the program started (%.3f s after the run)",
                         programToRun + shown, shown - running);
        std::fprintf(stderr, "; %.3f s from the program's start to the end\n", programToRun + Now());
    }
};

// The screen the image holds more of, as the keyer decides it: green when
// the blue bytes add up to less than the green ones.
uint8_t DetectScreen(const std::vector<uint8_t>& rgba) {
    uint64_t green = 0, blue = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        green += rgba[i + 1];
        blue += rgba[i + 2];
    }
    return blue < green ? 1 : 0;
}

// From the filter's worker thread, while the main thread waits for it. The
// bar appears with the first report: none while the dialog is open.
void ShowProgress(int32_t done, int32_t total, void* context) {
    if (total <= 0) return;
    std::lock_guard<std::mutex> hold(WireLock());
    if (auto* started = static_cast<bool*>(context); !*started) {
        gimp_progress_init(kFilterTitle);
        *started = true;
    }
    gimp_progress_update(std::clamp(double(done + 1) / total, 0.0, 1.0));
}

// displayPixels: the picture painted with cairo on the context of the
// dialog's paint.
void DrawPicture(const inprocess::DisplayCapture& picture, void* platformContext, void* context) {
    auto* timings = static_cast<Timings*>(context);
    if (timings->shown < 0) {
        timings->shown = timings->Now();
        if (std::getenv("TAVRISK_TIMINGS") != nullptr)
            std::fprintf(stderr, "tavrisk-gimp: the dialog's preview shown\n");
    }
    cairo_surface_t* pixels = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
    unsigned char* data = cairo_image_surface_get_data(pixels);
    const int stride = cairo_image_surface_get_stride(pixels);
    for (int y = 0; y < picture.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        const uint8_t* from = &picture.rgb[size_t(y) * picture.width * 3];
        for (int x = 0; x < picture.width; ++x, from += 3)
            row[x] = (uint32_t(from[0]) << 16) | (uint32_t(from[1]) << 8) | from[2];
    }
    cairo_surface_mark_dirty(pixels);
    auto* cr = static_cast<cairo_t*>(platformContext);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, pixels, picture.dstCol, picture.dstRow);
    cairo_rectangle(cr, picture.dstCol, picture.dstRow, picture.width, picture.height);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(pixels);
}

// The filter keeps the large working buffers of a run, mapped, for the next
// run of the same size (fresh memory is dear on first touch). A run of an
// area of the same size whose first request the host refuses has it make
// them, and touch the first, before the real run needs them.
void PrepareWorkingBuffers(inprocess::EntryPoint entry, int width, int height) {
    inprocess::InProcessHost host(entry);
    host.SetImage(width, height, 4, {});
    host.failAtCall = 0;
    if (host.Call(filterSelectorParameters) != noErr || host.record().parameters == nullptr) return;
    reinterpret_cast<ParameterRecord*>(*host.record().parameters)->ShowDialog = 0;
    host.RunFilter(false);
}

bool WritesTransparency(int method) { return method == 0 || method == 2 || method == 4; }

Outcome Failure(GimpPDBStatusType status, std::string message) { return Outcome{status, std::move(message)}; }

std::string AreaText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

}  // namespace

Outcome KeyDrawable(const KeyRequest& r) {
    Timings timings;
    if (!gimp_item_is_valid(r.drawable) || !gimp_item_is_drawable(r.drawable))
        return Failure(GIMP_PDB_CALLING_ERROR, "there is no drawable to key");
    if (gimp_item_is_group(r.drawable))
        return Failure(GIMP_PDB_EXECUTION_ERROR, "a layer group has no pixels of its own to key: choose a layer");
    if (!gimp_drawable_is_rgb(r.drawable))
        return Failure(GIMP_PDB_EXECUTION_ERROR,
                       std::string(kFilterTitle) + " keys RGB images, and this one is " +
                           (gimp_drawable_is_indexed(r.drawable) ? "indexed" : "grayscale") +
                           ": convert it with Image > Mode > RGB first");
    gint x = 0, y = 0, width = 0, height = 0;
    if (!gimp_drawable_mask_intersect(r.drawable, &x, &y, &width, &height))
        return Outcome{GIMP_PDB_SUCCESS, ""};  // the selection lies off the layer: nothing to key
    if (width > kLargestSide || height > kLargestSide)
        return Failure(GIMP_PDB_EXECUTION_ERROR, "the filtered area is " + AreaText(width, height) +
                                                     " pixels; the filter keys at most 32767 pixels a side");
    // The filter is loaded, and its working buffers made, while GIMP hands
    // over the pixels.
    std::string error;
    inprocess::EntryPoint entry = nullptr;
    std::thread preparing([&] {
        entry = LoadFilter(&error);
        if (entry != nullptr) PrepareWorkingBuffers(entry, width, height);
    });
    const Area area{x, y, width, height};
    std::vector<uint8_t> pixels = ReadRgba(r.drawable, area);
    preparing.join();
    if (entry == nullptr) return Failure(GIMP_PDB_EXECUTION_ERROR, error);
    timings.width = width, timings.height = height, timings.read = timings.Now();
    const uint8_t screen = r.settings.ScreenGiven() ? uint8_t(0) : DetectScreen(pixels);

    inprocess::InProcessHost host(entry);
    host.SetImage(width, height, 4, std::move(pixels));
    host.SetFilterCase(gimp_selection_is_empty(r.image) ? filterCaseEditableTransparencyNoSelection
                                                        : filterCaseEditableTransparencyWithSelection);
    bool progressShown = false;
    host.progressListener = ShowProgress;
    host.progressContext = &progressShown;
    host.displayDrawer = DrawPicture;
    host.displayContext = &timings;
    OfferClipboard(width, height);
    if (r.kind == RunKind::Dialog) {
        // The dialog opens on GIMP's display, over the image's window.
        static_cast<PlatformData*>(host.record().platformData)->hwnd = gimp_progress_get_window_handle();
        if (const char* display = gimp_display_name(); display != nullptr) g_setenv("DISPLAY", display, TRUE);
    }

    // As a host's run: the parameters selector, the settings on the record,
    // then prepare, start, continue and finish.
    int16_t result = host.Call(filterSelectorParameters);
    ParameterRecord* record = nullptr;
    if (result == noErr && host.record().parameters != nullptr) {
        record = reinterpret_cast<ParameterRecord*>(*host.record().parameters);
        r.settings.ApplyTo(record);
        if (!r.settings.ScreenGiven()) record->ScreenColor = screen;
        record->ShowDialog = r.kind == RunKind::Dialog ? 1 : 0;
        timings.running = timings.Now();
        result = host.RunFilter(false);
    }
    if (result == 1) return Outcome{GIMP_PDB_CANCEL, ""};  // the dialog's Cancel: nothing changes
    if (result != noErr || record == nullptr)
        return Failure(GIMP_PDB_EXECUTION_ERROR,
                       result == memFullErr ? "not enough memory to key " + AreaText(width, height) + " pixels"
                                            : "keying failed (result " + std::to_string(result) + ")");
    timings.keyed = timings.Now();

    const ParameterRecord settings = *record;
    gimp_image_undo_group_start(r.image);
    if (WritesTransparency(settings.OutputMethod) && !gimp_drawable_has_alpha(r.drawable))
        gimp_layer_add_alpha(r.drawable);
    WriteRgba(r.drawable, area, host.image());
    gimp_image_undo_group_end(r.image);
    if (progressShown) gimp_progress_end();
    if (r.kind == RunKind::Dialog) gimp_displays_flush();
    StoreLastSettings(settings);
    timings.written = timings.Now();
    return Outcome{GIMP_PDB_SUCCESS, ""};
}

}  // namespace tav::gimp
