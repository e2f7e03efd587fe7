// tavrisk: the command-line keyer. Each image is handed to the plug-in
// through its entry point, exactly as a host repeats the last filter: the
// parameters selector, the settings applied to the record with the dialog
// off, then prepare, start, continue and finish.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/allocator.h"
#include "host/capture.h"
#include "host/host_interface.h"
#include "host/parameters.h"
#include "platform/file_mapping.h"
#include "plugin/entry.h"
#include "platform/posix/dialog_driver.h"
#include "platform/posix/in_process_clipboard.h"
#include "resources/dialog_template.h"
#include "tools/cli/image_io.h"
#include "tools/cli/interrupt.h"
#include "tools/cli/job.h"
#include "tools/cli/options.h"
#include "tools/cli/pipeline.h"
#include "tools/cli/plan.h"
#include "tools/cli/raw_stream.h"
#include "tools/cli/report.h"
#include "tools/cli/settings.h"
#include "tools/inprocess_host/inprocess_host.h"

namespace tav::cli {
namespace {

// Every input through the three stages, the next read and the previous
// written while one is keyed; messages come out in the order of the inputs.
int KeyBatch(Batch* batch, const Plan& plan, int threads) {
    const std::vector<std::string>& inputs = batch->options.inputs;
    Job jobs[kPipelineDepth];
    int failures = 0;  // the write stage's
    PipelineStages stages;
    stages.read = [&](size_t i) {
        if (i >= inputs.size()) return false;
        Job& job = jobs[i % kPipelineDepth];
        job.item = i;
        job.input = inputs[i];
        job.output = plan.outputs[i];
        // The first run's two image-sized working buffers are faulted in on
        // another thread while the first image decodes (the mattes, a quarter
        // of the memory, are left to the run: the file's bytes, the decoded
        // image and all four would pass 300 MiB for a 6000 x 4000 image);
        // later runs of its size find theirs kept from the run before.
        // Nothing else runs the plug-in meanwhile.
        std::thread warming;
        auto prepare = [&](int width, int height) {
            const Region area = batch->options.region.value_or(Region{0, 0, width, height});
            const AreaSizes sizes = ComputeAreaSizes(
                Rect{0, 0, int16_t(std::min(area.height, 32767)), int16_t(std::min(area.width, 32767))});
            warming = StartHelperThread([sizes] { PrepareWorkingBuffers(sizes.imageBytes, 0); });
        };
        job.ok = Read(*batch, &job, i == 0 && threads > 1 ? prepare : std::function<void(int, int)>());
        if (warming.joinable()) warming.join();
        if (job.ok) Detect(*batch, &job);
        return true;
    };
    stages.key = [&](size_t i) {
        Job& job = jobs[i % kPipelineDepth];
        if (!job.ok) return;
        if (job.settings.OutputMethod == kOutputBackground && !PrepareBackground(batch, job)) {
            job.ok = false;
            return;
        }
        SaveSettingsOnce(batch, job.settings, i);
        job.ok = Run(*batch, &job, true);
        // The working buffers kept for another run are not needed after the
        // last: their memory goes before the last output is written.
        if (i + 1 == inputs.size()) platform::ReleaseKeptViews();
    };
    stages.write = [&](size_t i) {
        Job& job = jobs[i % kPipelineDepth];
        if (job.ok) job.ok = Write(batch->options, &job);
        if (!job.ok) ++failures;
        Finish(i);
    };
    RunPipeline(stages, threads);
    SaveSettingsOnce(batch, batch->base.record, kAfterItems);
    return failures == 0 && !batch->settingsFailed ? 0 : 1;
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
    if (!request.shown)
        return Fail(job, input, result == noErr || result == 1 ? "the dialog showed no preview" : RunFailure(result));
    Image picture;
    picture.width = request.picture.width;
    picture.height = request.picture.height;
    picture.rgba.resize(size_t(picture.width) * picture.height * 4, 255);
    for (size_t i = 0, n = size_t(picture.width) * picture.height; i < n; ++i)
        std::memcpy(&picture.rgba[4 * i], &request.picture.rgb[3 * i], 3);
    std::string error;
    if (!WritePng(output, picture, &error, batch->options.write)) return Fail(job, output, error);
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
    int threads = options.jobs;
    if (threads == 0) threads = CoresAvailable();
    if (options.raw) return KeyRawStream(&batch, threads);
    return KeyBatch(&batch, plan, threads);
}

}  // namespace tav::cli

int main(int argc, char** argv) { return tav::cli::Main(argc, argv); }
