#include "keyer/job.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/screen.h"
#include "hosts/inprocess/inprocess_host.h"
#include "interface/host_interface.h"
#include "keyer/report.h"
#include "platform/file_mapping.h"
#include "platform/posix/in_process_clipboard.h"

namespace tav::cli {
namespace {

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
    const int filled = percent * 30 / 100;
    char line[64];
    std::snprintf(line, sizeof line, " [%.*s%*s] %3d%%", filled, "##############################", 30 - filled, "",
                  percent);
    ShowBar(bar->label + line);
}

}  // namespace

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

bool ReportFailure(const Job& job, const std::string& file, const std::string& why) {
    Say(job.item, "tavrisk: " + file + ": " + why + "\n");
    return false;
}

bool ReadInput(const Batch& batch, Job* job, std::function<void(int width, int height)> sizeKnown) {
    auto start = std::chrono::steady_clock::now();
    std::string error;
    ReadOptions read = batch.options.read;
    read.sizeKnown = std::move(sizeKnown);
    if (!ReadImage(job->input, read, &job->image, &error)) return ReportFailure(*job, job->input, error);
    job->decodeSeconds = Seconds(start);
    const Image& image = job->image;
    job->area = Region{0, 0, image.width, image.height};
    if (const auto& r = batch.options.region) {
        if (int64_t(r->x) + r->width > image.width || int64_t(r->y) + r->height > image.height)
            return ReportFailure(*job, job->input,
                        "the region " + std::to_string(r->x) + "," + std::to_string(r->y) + "," +
                            std::to_string(r->width) + "," + std::to_string(r->height) + " lies outside the " +
                            std::to_string(image.width) + " x " + std::to_string(image.height) + " image");
        job->area = *r;
    }
    return true;
}

void DecideScreen(const Batch& batch, Job* job, const uint8_t* pixels) {
    job->settings = batch.base.record;
    if (batch.base.screenDecided) return;
    const Image& image = job->image;
    const Region& a = job->area;
    const size_t rowBytes = size_t(image.width) * 4;
    const uint8_t* first = (pixels != nullptr ? pixels : image.rgba.data()) + size_t(a.y) * rowBytes + size_t(a.x) * 4;
    job->settings.ScreenColor = uint8_t(ScreenColorOf(first, a.width, a.height, rowBytes, 4));
}

bool LoadBackground(Batch* batch) {
    const Options& o = batch->options;
    if (!batch->backgroundTried) {
        batch->backgroundTried = true;
        batch->backgroundRead = ReadImage(o.background, o.read, &batch->background, &batch->backgroundError);
        if (batch->backgroundRead) batch->backgroundDib = PackedDib(batch->background);
    }
    return batch->backgroundRead;
}

std::string BackgroundMismatch(const Batch& batch, const Region& area) {
    const Image& picture = batch.background;
    if (picture.width == area.width && picture.height == area.height) return {};
    return "the background is " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
           ", the filtered area " + std::to_string(area.width) + " x " + std::to_string(area.height);
}

bool PrepareBackground(Batch* batch, const Job& job) {
    const Options& o = batch->options;
    if (o.background.empty()) return ReportFailure(job, job.input, "method 5 (background) needs --background FILE");
    if (!LoadBackground(batch)) return ReportFailure(job, o.background, batch->backgroundError);
    if (std::string why = BackgroundMismatch(*batch, job.area); !why.empty()) return ReportFailure(job, o.background, why);
    if (!batch->backgroundOnClipboard) {
        platform::SetClipboardDib(batch->backgroundDib.data(), batch->backgroundDib.size());
        batch->backgroundDib = {};  // the clipboard holds its own copy
        batch->backgroundOnClipboard = true;
    }
    return true;
}

std::string RunFailure(int16_t result) {
    if (result != memFullErr) return "keying failed (result " + std::to_string(result) + ")";
    const char* why = platform::LastTempFileError();
    if (*why != '\0') return std::string("cannot make the working images in the temporary folder: ") + why;
    return "not enough memory to key this image";
}

bool RunPlugin(const Batch& batch, const Job& job, uint8_t* pixels, bool progress, double* seconds,
               std::string* why) {
    inprocess::InProcessHost host(ENTRYPOINT);
    host.inPlace = true;  // the run's tiles are the image's own bytes, not copies
    const Region& a = job.area;
    host.SetImageView(job.image.width, job.image.height, 4, pixels);
    host.SetFilterRect(a.x, a.y, a.x + a.width, a.y + a.height);
    host.SetFilterCase(batch.options.region ? filterCaseEditableTransparencyWithSelection
                                            : filterCaseEditableTransparencyNoSelection);
    ProgressBar bar;
    bar.enabled = progress && !batch.options.quiet && isatty(STDERR_FILENO);
    bar.label = job.input;
    host.progressListener = ShowProgress;
    host.progressContext = &bar;

    platform::ClearTempFileError();
    auto start = std::chrono::steady_clock::now();
    int16_t result = host.Call(filterSelectorParameters);
    if (result == noErr) {
        // As a host repeats the filter with settings it recorded.
        ParameterRecord* record = host.parameters();
        *record = job.settings;
        record->ShowDialog = 0;
        result = host.RunFilter(false);
    }
    *seconds = Seconds(start);
    if (bar.enabled && bar.lastShown >= 0) EndBar(job.item);
    if (result != noErr) *why = RunFailure(result);
    return result == noErr;
}

bool KeyImage(const Batch& batch, Job* job, bool progress) {
    std::string why;
    if (RunPlugin(batch, *job, job->image.rgba.data(), progress, &job->runSeconds, &why)) return true;
    return ReportFailure(*job, job->input, why);
}

bool WriteOutput(const Options& o, Job* job) {
    auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!WritePng(job->output, job->image, &error, o.write))
        return ReportFailure(*job, job->output == kStandardOutput ? "standard output" : job->output, error);
    job->encodeSeconds = Seconds(start);
    if (o.timings) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        char line[160];
        std::snprintf(line, sizeof line, ": decode %.3f s, run %.3f s, encode %.3f s, peak memory %ld MiB\n",
                      job->decodeSeconds, job->runSeconds, job->encodeSeconds, usage.ru_maxrss / 1024);
        Say(job->item, job->input + line);
    }
    return true;
}

void SaveSettingsOnce(Batch* batch, const ParameterRecord& settings, size_t item) {
    if (batch->options.saveSettings.empty() || batch->settingsSaved) return;
    batch->settingsSaved = true;
    std::string error;
    if (SaveSettings(batch->options.saveSettings, settings, &error)) return;
    batch->settingsFailed = true;
    Say(item, "tavrisk: " + batch->options.saveSettings + ": " + error + "\n");
}

}  // namespace tav::cli
