// tavrisk: the command-line keyer. Each image is handed to the plug-in
// through its entry point, exactly as a host repeats the last filter: the
// parameters selector, the settings applied to the record with the dialog
// off, then prepare, start, continue and finish.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/allocator.h"
#include "host/capture.h"
#include "host/host_interface.h"
#include "host/parameters.h"
#include "platform/file_mapping.h"
#include "platform/posix/dialog_driver.h"
#include "platform/posix/in_process_clipboard.h"
#include "resources/parameters_dialog.h"
#include "tools/cli/image_io.h"
#include "tools/cli/interrupt.h"
#include "tools/cli/options.h"
#include "tools/cli/plan.h"
#include "tools/cli/settings.h"
#include "tools/inprocess_host/inprocess_host.h"

namespace tav::cli {
namespace {

bool Fail(const std::string& file, const std::string& why) {
    std::fprintf(stderr, "tavrisk: %s: %s\n", file.c_str(), why.c_str());
    return false;
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// A packed 24-bit bottom-up picture of the background, for the clipboard.
std::vector<uint8_t> PackedDib(const Image& picture) {
    const uint32_t rowBytes = (uint32_t(picture.width) * 3 + 3) & ~3u;
    std::vector<uint8_t> dib(40 + size_t(rowBytes) * picture.height, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) dib[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, uint32_t(picture.width));
    put32(8, uint32_t(picture.height));  // positive: bottom-up
    dib[12] = 1;                         // planes
    dib[14] = 24;                        // bits a pixel
    put32(20, rowBytes * uint32_t(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* row = &dib[40 + size_t(picture.height - 1 - y) * rowBytes];
        const uint8_t* from = &picture.rgba[size_t(y) * picture.width * 4];
        for (int x = 0; x < picture.width; ++x) {
            row[3 * x] = from[4 * x + 2];
            row[3 * x + 1] = from[4 * x + 1];
            row[3 * x + 2] = from[4 * x];
        }
    }
    return dib;
}

struct ProgressBar {
    bool enabled = false;
    int lastShown = -1;
    std::string label;
};

void ShowProgress(int32_t done, int32_t total, void* context) {
    auto* bar = static_cast<ProgressBar*>(context);
    if (!bar->enabled || total <= 0) return;
    int percent = int(int64_t(done + 1) * 100 / total);
    if (percent > 100) percent = 100;
    if (percent == bar->lastShown) return;
    bar->lastShown = percent;
    int filled = percent * 30 / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", bar->label.c_str(), filled,
                 "##############################", 30 - filled, "", percent);
}

// What a run needs besides each input: the settings, the background picture
// (read once, on first need) and whether the settings have been saved.
struct Batch {
    explicit Batch(const Options& o) : options(o) {}
    const Options& options;
    BaseSettings base{};
    bool backgroundTried = false;
    bool backgroundRead = false;
    Image background;
    std::string backgroundError;
    bool settingsSaved = false;
    bool settingsFailed = false;
};

// One input on its way through the keyer.
struct Job {
    std::string input, output;
    Image image;
    Region area;  // the filtered area
    ParameterRecord settings;
    double decodeSeconds = 0, runSeconds = 0, encodeSeconds = 0;
};

bool Read(const Batch& batch, Job* job) {
    auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!ReadImage(job->input, batch.options.read, &job->image, &error)) return Fail(job->input, error);
    job->decodeSeconds = Seconds(start);
    const Image& image = job->image;
    job->area = Region{0, 0, image.width, image.height};
    if (const auto& r = batch.options.region) {
        if (int64_t(r->x) + r->width > image.width || int64_t(r->y) + r->height > image.height)
            return Fail(job->input, "the region " + std::to_string(r->x) + "," + std::to_string(r->y) + "," +
                                        std::to_string(r->width) + "," + std::to_string(r->height) +
                                        " lies outside the " + std::to_string(image.width) + " x " +
                                        std::to_string(image.height) + " image");
        job->area = *r;
    }
    return true;
}

// The settings of this input: the batch's, with the screen detected from
// the filtered area unless the command line or the settings named it.
void Detect(const Batch& batch, Job* job) {
    job->settings = batch.base.record;
    const Options& o = batch.options;
    if (o.screen ? *o.screen >= 0 : batch.base.screenGiven) return;
    const Image& image = job->image;
    const Region& a = job->area;
    const uint8_t* first = &image.rgba[(size_t(a.y) * image.width + a.x) * 4];
    const int64_t count = int64_t(a.width) * a.height;
    if (a.width == image.width) {
        // Whole rows lie one after the other: no copy needed.
        job->settings.ScreenColor = uint8_t(ScreenColorOf(first, count, 4));
        return;
    }
    std::vector<uint8_t> area;
    area.reserve(size_t(count) * 4);
    for (int y = 0; y < a.height; ++y) {
        const uint8_t* row = first + size_t(y) * image.width * 4;
        area.insert(area.end(), row, row + size_t(a.width) * 4);
    }
    job->settings.ScreenColor = uint8_t(ScreenColorOf(area.data(), count, 4));
}

// Puts the background picture on the clipboard for method 5.
bool PrepareBackground(Batch* batch, const Job& job) {
    const Options& o = batch->options;
    if (o.background.empty()) return Fail(job.input, "method 5 (background) needs --background FILE");
    if (!batch->backgroundTried) {
        batch->backgroundTried = true;
        batch->backgroundRead = ReadImage(o.background, o.read, &batch->background, &batch->backgroundError);
    }
    if (!batch->backgroundRead) return Fail(o.background, batch->backgroundError);
    const Image& picture = batch->background;
    if (picture.width != job.area.width || picture.height != job.area.height)
        return Fail(o.background, "the background is " + std::to_string(picture.width) + " x " +
                                      std::to_string(picture.height) + ", the filtered area " +
                                      std::to_string(job.area.width) + " x " + std::to_string(job.area.height));
    std::vector<uint8_t> dib = PackedDib(picture);
    platform::SetClipboardDib(dib.data(), dib.size());
    return true;
}

// Why the plug-in could not key the image.
std::string RunFailure(int16_t result) {
    if (result != memFullErr) return "keying failed (result " + std::to_string(result) + ")";
    const char* why = platform::LastTempFileError();
    if (*why != '\0') return std::string("cannot make the working images in the temporary folder: ") + why;
    return "not enough memory to key this image";
}

// Keys the image in place through the plug-in.
bool Run(const Batch& batch, Job* job) {
    inprocess::InProcessHost host(ENTRYPOINT);
    const Region& a = job->area;
    const int width = job->image.width, height = job->image.height;
    host.SetImage(width, height, 4, std::move(job->image.rgba));
    host.SetFilterRect(a.x, a.y, a.x + a.width, a.y + a.height);
    host.SetFilterCase(batch.options.region ? filterCaseEditableTransparencyWithSelection
                                            : filterCaseEditableTransparencyNoSelection);
    ProgressBar bar;
    bar.enabled = !batch.options.quiet && isatty(STDERR_FILENO);
    bar.label = job->input;
    host.progressListener = ShowProgress;
    host.progressContext = &bar;

    platform::ClearTempFileError();
    auto start = std::chrono::steady_clock::now();
    int16_t result = host.Call(filterSelectorParameters);
    if (result == noErr) {
        ParameterRecord* record = GetParameters(&host.record());
        std::memcpy(record, &job->settings, sizeof job->settings);
        record->ShowDialog = 0;
        result = host.RunFilter(false);
    }
    job->runSeconds = Seconds(start);
    if (bar.enabled && bar.lastShown >= 0) std::fputs("\n", stderr);
    job->image.rgba = host.TakeImage();
    if (result != noErr) return Fail(job->input, RunFailure(result));
    return true;
}

bool Write(const Options& o, Job* job) {
    auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!WritePng(job->output, job->image, &error, o.write)) return Fail(job->output, error);
    job->encodeSeconds = Seconds(start);
    if (o.timings) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::fprintf(stderr, "%s: decode %.3f s, run %.3f s, encode %.3f s, peak memory %ld MiB\n",
                     job->input.c_str(), job->decodeSeconds, job->runSeconds, job->encodeSeconds,
                     usage.ru_maxrss / 1024);
    }
    return true;
}

// The settings file is written once, with the settings of the first input
// that got as far as keying (its detected screen included), or the batch's.
void SaveSettingsOnce(Batch* batch, const ParameterRecord& settings) {
    if (batch->options.saveSettings.empty() || batch->settingsSaved) return;
    batch->settingsSaved = true;
    if (!SaveSettings(batch->options.saveSettings, settings)) batch->settingsFailed = true;
}

bool KeyOne(Batch* batch, const std::string& input, const std::string& output) {
    Job job;
    job.input = input;
    job.output = output;
    if (!Read(*batch, &job)) return false;
    Detect(*batch, &job);
    if (job.settings.OutputMethod == kOutputBackground && !PrepareBackground(batch, job)) return false;
    SaveSettingsOnce(batch, job.settings);
    return Run(*batch, &job) && Write(batch->options, &job);
}

// ---- tavrisk preview ---------------------------------------------------------------

// The zoom the label shows: 1 for "1 : 1", -N for "1 : N".
int ShownZoom(platform::WindowHandle dialog) {
    const std::string label = platform::ControlText(dialog, IDC_ZOOM_LABEL);
    const size_t colon = label.find(':');
    if (colon == std::string::npos) return 1;
    const int first = std::atoi(label.c_str()), second = std::atoi(label.c_str() + colon + 1);
    return first == 1 && second > 1 ? -second : first;
}

struct PreviewRequest {
    const Options* options;
    int width, height;  // the filtered area
    inprocess::DisplayCapture picture;
    bool shown = false;
};

// Works the dialog as a user would: the screen asked for, the zoom buttons up
// to the zoom asked for, a drag that brings the point asked for to the middle.
void DrivePreview(platform::WindowHandle dialog, void* context) {
    auto* request = static_cast<PreviewRequest*>(context);
    const Options& o = *request->options;
    if (o.screen && *o.screen >= 0) platform::ChooseListItem(dialog, IDC_SCREEN_COLOR, *o.screen);
    for (int guard = 0; o.zoom != 0 && guard < 256; ++guard) {
        const int zoom = ShownZoom(dialog);
        if (zoom == o.zoom) break;
        platform::ClickButton(dialog, zoom < o.zoom ? IDC_ZOOM_IN : IDC_ZOOM_OUT);
        if (ShownZoom(dialog) == zoom) break;  // at the end of the range
    }
    if (o.center) {
        const int n = std::max(1, -ShownZoom(dialog));
        const platform::PixelRect frame = platform::ControlRect(dialog, IDC_PREVIEW);
        const int x = (frame.left + frame.right) / 2, y = (frame.top + frame.bottom) / 2;
        // The picture follows the mouse: dragging left brings the right into view.
        const int dx = (o.center->first - request->width / 2) / n, dy = (o.center->second - request->height / 2) / n;
        platform::MouseDown(dialog, x, y);
        platform::MouseMove(dialog, x - dx, y - dy);
        platform::MouseUp(dialog, x - dx, y - dy);
    }
}

void KeepPicture(const inprocess::DisplayCapture& picture, void*, void* context) {
    auto* request = static_cast<PreviewRequest*>(context);
    request->picture = picture;
    request->shown = true;
}

bool PreviewOne(Batch* batch, const std::string& input, const std::string& output) {
    Job job;
    job.input = input;
    job.output = output;
    if (!Read(*batch, &job)) return false;
    job.settings = batch->base.record;
    if (job.settings.OutputMethod == kOutputBackground && !PrepareBackground(batch, job)) return false;

    PreviewRequest request{&batch->options, job.area.width, job.area.height, {}, false};
    inprocess::InProcessHost host(ENTRYPOINT);
    const Region& a = job.area;
    host.SetImage(job.image.width, job.image.height, 4, std::move(job.image.rgba));
    host.SetFilterRect(a.x, a.y, a.x + a.width, a.y + a.height);
    host.SetFilterCase(batch->options.region ? filterCaseEditableTransparencyWithSelection
                                             : filterCaseEditableTransparencyNoSelection);
    host.displayDrawer = KeepPicture;
    host.displayContext = &request;
    platform::SetDialogDriver(DrivePreview, &request);
    // A host's first run: the settings are the record's when the dialog opens.
    int16_t result = host.Call(filterSelectorParameters);
    if (result == noErr) {
        ParameterRecord* record = GetParameters(&host.record());
        job.settings.ShowDialog = 1;
        std::memcpy(record, &job.settings, sizeof job.settings);
        result = host.RunFilter(false);
    }
    platform::SetDialogDriver(nullptr, nullptr);
    if (!request.shown) return Fail(input, result == noErr || result == 1 ? "the dialog showed no preview"
                                                                          : RunFailure(result));
    Image picture;
    picture.width = request.picture.width;
    picture.height = request.picture.height;
    picture.rgba.resize(size_t(picture.width) * picture.height * 4, 255);
    for (size_t i = 0, n = size_t(picture.width) * picture.height; i < n; ++i)
        std::memcpy(&picture.rgba[4 * i], &request.picture.rgb[3 * i], 3);
    std::string error;
    if (!WritePng(output, picture, &error, batch->options.write)) return Fail(output, error);
    return true;
}

}  // namespace

int Main(int argc, char** argv) {
    InstallInterruptCleanup();
    // Each input gets a host of its own; the handles it was given go when it does.
    inprocess::InProcessHost::SetHandleDisposer(DisposeMacHandle);
    Options options;
    if (int code = ParseArguments(argc, argv, &options); code >= 0) return code;
    if (!options.outdir.empty()) {
        struct stat st;
        if (stat(options.outdir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return UsageError("--outdir " + options.outdir + " is not a folder");
    }
    Batch batch(options);
    if (!LoadBaseSettings(options, &batch.base)) return 2;
    const Plan plan = PlanOutputs(options);
    if (plan.code >= 0) return plan.code;

    if (options.command == Command::Preview) return PreviewOne(&batch, options.inputs[0], plan.outputs[0]) ? 0 : 1;
    int failures = 0;
    for (size_t i = 0; i < options.inputs.size(); ++i)
        if (!KeyOne(&batch, options.inputs[i], plan.outputs[i])) ++failures;
    SaveSettingsOnce(&batch, batch.base.record);
    return failures == 0 && !batch.settingsFailed ? 0 : 1;
}

}  // namespace tav::cli

int main(int argc, char** argv) { return tav::cli::Main(argc, argv); }
