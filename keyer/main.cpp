// tavrisk: the command-line keyer. Each image is handed to the plug-in
// through its entry point, exactly as a host repeats the last filter: the
// parameters selector, the settings applied to the record with the dialog
// off, then prepare, start, continue and finish.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hosts/inprocess/inprocess_host.h"
#include "interface/parameter_record.h"
#include "keyer/cores.h"
#include "keyer/image_file.h"
#include "keyer/interrupt.h"
#include "keyer/job.h"
#include "keyer/options.h"
#include "keyer/pipeline.h"
#include "keyer/plan.h"
#include "keyer/preview.h"
#include "keyer/raw_stream.h"
#include "keyer/report.h"
#include "keyer/settings.h"
#include "platform/file_mapping.h"

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
            warming = StartHelperThread(
                [area] { inprocess::InProcessHost::PrepareWorkingMemory(area.width, area.height); });
        };
        job.ok = ReadInput(*batch, &job, i == 0 && threads > 1 ? prepare : std::function<void(int, int)>());
        if (warming.joinable()) warming.join();
        if (job.ok) DecideScreen(*batch, &job);
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
        job.ok = KeyImage(*batch, &job, true);
        // The working buffers kept for another run are not needed after the
        // last: their memory goes before the last output is written.
        if (i + 1 == inputs.size()) platform::ReleaseKeptViews();
    };
    stages.write = [&](size_t i) {
        Job& job = jobs[i % kPipelineDepth];
        if (job.ok) job.ok = WriteOutput(batch->options, &job);
        if (!job.ok) ++failures;
        Finish(i);
    };
    const auto start = std::chrono::steady_clock::now();
    RunPipeline(stages, threads);
    if (batch->options.timings && inputs.size() > 1) {
        const double seconds = Seconds(start);
        char line[160];
        std::snprintf(line, sizeof line, "tavrisk: %zu of %zu inputs keyed in %.3f s (%.1f fps)\n",
                      inputs.size() - size_t(failures), inputs.size(), seconds,
                      seconds > 0 ? double(inputs.size() - size_t(failures)) / seconds : 0.0);
        Say(kAfterItems, line);
    }
    SaveSettingsOnce(batch, batch->base.record, kAfterItems);
    return failures == 0 && !batch->settingsFailed ? 0 : 1;
}

}  // namespace

int Main(int argc, char** argv) {
    InstallInterruptCleanup();
    // Each input gets a host of its own; the handles it was given go when it does.
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
