// The preview command in-process, from its argument vector to the picture:
// `tavrisk preview INPUT -o PICTURE.png [--zoom fit|1|-N] [--center X,Y]
// [options]` parsed, the settings loaded, the outputs planned, and the
// parameters dialog opened on the image through the POSIX dialog model,
// worked to the zoom and centre asked, its preview pane written to a PNG and
// the dialog cancelled. The fuzzed input chooses an image (up to 32K pixels,
// as wide or tall as 800), a settings file, and the words: the input, -o,
// --zoom, --center, --method, --screen, --set, --region, --settings,
// --save-settings, --background, --compression, --max-pixels, flags,
// options the preview refuses, and now and then a free word.
//
// - The exit status is 0, 1 or 2, and standard error names the keyer on
//   every failure. A usage error (2) and a failure (1) write no picture and
//   leave the files of the folder as they were (--save-settings aside, after
//   a failure); --help and --version write nothing but their text.
// - A preview written is a PNG of the pane's picture: the filtered area at
//   the zoom reached (the fit, or the zoom asked held between the fit and
//   1 : 1), cut to the pane.
// - At 1 : 1 the picture is what `key` writes with the same options, at the
//   place the centre asked for (held inside the area): the foreground for
//   methods 0, 1 and 4, the matte for 2 and 3, the composite for 5; where a
//   blurred or choked matte is shown, only when the pane shows the whole area.
// - Each --set outside its key's range is reported as stored clamped, and
//   one within it is not; --save-settings writes the settings of the
//   command line, each clamped to its range, over the settings file's.
// - Nothing is left in the temporary folder, and no partial file beside the
//   picture.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/command_support.h"
#include "runtime/allocator.h"
#include "interface/parameter_record.h"
#include "platform/ini_file.h"
#include "platform/names.h"
#include "platform/posix/in_process_clipboard.h"
#include "keyer/image_file.h"
#include "keyer/job.h"
#include "keyer/options.h"
#include "keyer/plan.h"
#include "keyer/preview.h"
#include "keyer/settings.h"
#include "hosts/inprocess/inprocess_host.h"
#include "ui/settings_format.h"

namespace {

using tav::ParameterRecord;
using tav::fuzz::CommandLine;
using tav::fuzz::Contents;
using tav::fuzz::kSettingRanges;
using tav::fuzz::MemoryFile;
using tav::fuzz::Redirect;

// The preview pane's picture at most: the frame of the dialog template
// (67 x 65 dialog units) inside its 2-pixel border.
constexpr int kPaneWidth = 97, kPaneHeight = 101;
constexpr int kMaxPixels = 1 << 15, kMaxSide = 800;

struct Paths {
    std::string work, input, output, settings, background, saved, missing;
};

const Paths& ThePaths() {
    static const Paths& paths = *new Paths([] {
        const std::string work = tav::fuzz::PrivateFolder() + "/work";
        return Paths{work,         work + "/in.png", work + "/out.png", work + "/studio.tvk", work + "/back.png",
                     work + "/saved.tvk", work + "/missing/x"};
    }());
    return paths;
}

std::string TempFolder() { return tav::fuzz::PrivateFolder() + "/tmp"; }

struct SettingsKey {
    size_t range;  // into kSettingRanges
    int64_t value;
};

struct Case {
    int width, height;
    std::vector<uint8_t> rgba;
    std::vector<std::string> words;  // after "preview"
    bool exact = true;               // every word is one of the options' own
    std::vector<std::pair<std::string, int64_t>> sets;  // the --set words of known keys with numbers
    std::vector<SettingsKey> fileKeys;                   // the settings file's
    bool background = false;                             // --background given
    int backgroundGrowth;                                // its width past the area's
};

std::string Number(FuzzedDataProvider& in, int64_t low, int64_t high) {
    return std::to_string(in.ConsumeIntegralInRange(low, high));
}

void AddWords(FuzzedDataProvider& in, Case* c, std::optional<std::pair<int, int>>* regionSize) {
    const Paths& p = ThePaths();
    const int w = c->width, h = c->height;
    auto add = [c](std::initializer_list<std::string> words) { c->words.insert(c->words.end(), words); };
    switch (in.ConsumeIntegralInRange(0, 15)) {
        case 0: add({p.input}); break;
        case 1: {
            const std::string targets[] = {p.output, p.output, p.missing, p.input, p.settings, p.work};
            add({in.ConsumeBool() ? "-o" : "--output", in.PickValueInArray(targets)});
            break;
        }
        case 2: {
            static constexpr const char* kZooms[] = {"fit", "1", "2", "0", "-1", "x", nullptr};
            const char* zoom = in.PickValueInArray(kZooms);
            add({"--zoom", zoom != nullptr ? zoom : Number(in, -130, -2)});
            break;
        }
        case 3:
            if (in.ConsumeBool())
                add({"--center", Number(in, -1, w + w / 4) + "," + Number(in, -1, h + h / 4)});
            else
                add({"--center", in.ConsumeBool() ? "5" : "7,x"});
            break;
        case 4: {
            static constexpr const char* kMethods[] = {
                "0", "1", "2", "3", "4", "5", "6", "foreground-transparency", "foreground", "matte-transparency",
                "matte", "transparency", "background", "Matte"};
            add({"--method", in.PickValueInArray(kMethods)});
            break;
        }
        case 5: {
            static constexpr const char* kScreens[] = {"auto", "blue", "green", "red"};
            add({"--screen", in.PickValueInArray(kScreens)});
            break;
        }
        case 6: {
            const size_t k = in.ConsumeIntegralInRange<size_t>(0, std::size(kSettingRanges) + 1);
            std::string key = k < std::size(kSettingRanges) ? kSettingRanges[k].key
                              : k == std::size(kSettingRanges) ? "Bogus" : "Version";
            if (in.ConsumeBool()) std::transform(key.begin(), key.end(), key.begin(), ::tolower);
            const int64_t low = k < std::size(kSettingRanges) ? kSettingRanges[k].low : 0;
            const int64_t high = k < std::size(kSettingRanges) ? kSettingRanges[k].high : 1;
            switch (in.ConsumeIntegralInRange(0, 5)) {
                case 0: add({"--set", key + "=99999999999999999999"}); break;
                case 1: add({"--set", key + "=1x"}); break;
                case 2: add({"--set", key}); break;
                default: {
                    const int64_t value = in.ConsumeIntegralInRange(low - 300, high + 300);
                    add({"--set", key + "=" + std::to_string(value)});
                    if (k < std::size(kSettingRanges)) c->sets.emplace_back(key, value);
                }
            }
            break;
        }
        case 7: {
            const int x = in.ConsumeIntegralInRange(0, w), y = in.ConsumeIntegralInRange(0, h);
            const int rw = in.ConsumeIntegralInRange(0, w + 1 - x), rh = in.ConsumeIntegralInRange(0, h + 1 - y);
            add({"--region", std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(rw) + "," +
                                 std::to_string(rh)});
            *regionSize = std::make_pair(rw, rh);
            break;
        }
        case 8: add({"--settings", in.ConsumeBool() ? p.settings : p.missing}); break;
        case 9: {
            const std::string targets[] = {p.saved, p.saved, p.settings, p.input, p.output, p.missing + "/s.tvk"};
            add({"--save-settings", in.PickValueInArray(targets)});
            break;
        }
        case 10:
            add({"--background", p.background});
            c->background = true;
            break;
        case 11: {
            static constexpr const char* kLevels[] = {"fast", "default", "best", "none"};
            add({"--compression", in.PickValueInArray(kLevels)});
            break;
        }
        case 12: add({"--max-pixels", Number(in, 1, 2 * int64_t(w) * h)}); break;
        case 13: {
            static constexpr const char* kFlags[] = {"--quiet", "-q", "--timings", "--accept-jpeg-warnings"};
            add({in.PickValueInArray(kFlags)});
            break;
        }
        case 14: {
            static constexpr const char* kRefused[] = {"--raw", "--jobs", "--raw-format", "--outdir", "--bogus",
                                                       "--help", "--version", "-"};
            add({in.PickValueInArray(kRefused), "2"});
            break;
        }
        default:
            add({in.ConsumeRandomLengthString(24)});
            c->exact = false;
    }
}

Case ChooseCase(FuzzedDataProvider& in) {
    Case c;
    const bool wide = in.ConsumeBool();
    c.width = in.ConsumeIntegralInRange(1, wide ? kMaxSide : 120);
    c.height = in.ConsumeIntegralInRange(1, std::min(wide ? kMaxSide : 120, kMaxPixels / c.width));
    if (in.ConsumeBool()) c.words = {ThePaths().input, "-o", ThePaths().output};
    std::optional<std::pair<int, int>> regionSize;
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) AddWords(in, &c, &regionSize);
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const size_t k = in.ConsumeIntegralInRange<size_t>(0, std::size(kSettingRanges) - 1);
        const int64_t value = in.ConsumeIntegralInRange(kSettingRanges[k].low - 300, kSettingRanges[k].high + 300);
        if (std::none_of(c.fileKeys.begin(), c.fileKeys.end(), [k](const SettingsKey& key) { return key.range == k; }))
            c.fileKeys.push_back({k, value});
    }
    c.backgroundGrowth = in.ConsumeIntegralInRange(0, 3) == 0 ? 1 : 0;
    const int areaWidth = regionSize ? regionSize->first : c.width;
    const int areaHeight = regionSize ? regionSize->second : c.height;
    const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    c.rgba.resize(size_t(c.width) * c.height * 4);
    for (size_t i = 0; i < c.rgba.size() && !bytes.empty(); ++i) c.rgba[i] = bytes[i % bytes.size()];
    // The background's size is the area's, or one pixel wider.
    if (!c.background) return c;
    tav::cli::Image background;
    background.width = std::max(1, areaWidth + c.backgroundGrowth);
    background.height = std::max(1, areaHeight);
    background.rgba.resize(size_t(background.width) * background.height * 4);
    for (size_t i = 0; i < background.rgba.size(); ++i) background.rgba[i] = uint8_t(i * 7 + 3);
    std::string error;
    FUZZ_CHECK(tav::cli::WritePng(ThePaths().background, background, &error));
    return c;
}

// The keyer's settings rule: a value outside its key's range is stored as
// the nearer end.
int64_t Clamped(size_t k, int64_t value) { return std::clamp(value, kSettingRanges[k].low, kSettingRanges[k].high); }

std::optional<size_t> RangeOf(const std::string& key) {
    for (size_t k = 0; k < std::size(kSettingRanges); ++k)
        if (tav::platform::SameName(key, kSettingRanges[k].key)) return k;
    return std::nullopt;
}

struct Run {
    tav::cli::Options options;
    std::unique_ptr<tav::cli::Batch> batch;  // once the options parse
    int status = -1;
    std::string out, errors;
};

// The command as `tavrisk` runs it: the options, the settings, the plan,
// then the preview.
void RunCommand(const Case& c, Run* run) {
    std::vector<std::string> words = {"preview"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    CommandLine line(words);
    const int out = MemoryFile(), errors = MemoryFile();
    {
        Redirect toOut(STDOUT_FILENO, out), toErrors(STDERR_FILENO, errors);
        run->status = [&] {
            tav::cli::Options& options = run->options;
            if (int code = tav::cli::ParseArguments(line.argc(), line.argv(), &options); code >= 0) return code;
            if (!options.outdir.empty()) {
                struct stat st;
                if (stat(options.outdir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                    return tav::cli::UsageError("--outdir " + options.outdir + " is not a folder");
            }
            run->batch = std::make_unique<tav::cli::Batch>(options);
            if (!tav::cli::LoadBaseSettings(options, &run->batch->base)) return 2;
            const tav::cli::Plan plan = tav::cli::PlanOutputs(options);
            if (plan.code >= 0) return plan.code;
            return tav::cli::PreviewOne(run->batch.get(), options.inputs[0], plan.outputs[0]) ? 0 : 1;
        }();
    }
    run->out = Contents(out);
    run->errors = Contents(errors);
    close(out);
    close(errors);
}

// The zoom the dialog reaches: the fit (1 : 1 when the area fits the pane,
// else the smallest whole reduction that makes it fit, at most 1 : 128), or
// the zoom asked held between the fit and 1 : 1.
int ReachedZoom(int asked, int width, int height) {
    int fit = 1;
    if (width > kPaneWidth || height > kPaneHeight) {
        const int n = std::max((width + kPaneWidth - 1) / kPaneWidth, (height + kPaneHeight - 1) / kPaneHeight);
        fit = -std::min(n, 128);
    }
    return asked == 0 ? fit : std::clamp(asked, fit, 1);
}

// The area's size at 1 : n, halves rounded up.
int Scaled(int size, int n) { return (2 * size + n) / (2 * n); }

// Where the pane's window starts in one direction at 1 : 1: around the
// centre asked (the middle when none), held inside the area.
int WindowStart(std::optional<int> center, int size, int window) {
    if (window >= size) return 0;
    return std::clamp(center.value_or(size / 2) - window / 2, 0, size - window);
}

void CheckPicture(const Case& c, Run& run, const tav::cli::Image& picture) {
    const tav::cli::Options& o = run.options;
    const tav::cli::Region area = o.region.value_or(tav::cli::Region{0, 0, c.width, c.height});
    const int zoom = ReachedZoom(o.zoom, area.width, area.height), n = zoom == 1 ? 1 : -zoom;
    const int width = std::min(kPaneWidth, Scaled(area.width, n)), height = std::min(kPaneHeight, Scaled(area.height, n));
    FUZZ_CHECK(picture.width == width && picture.height == height);
    if (zoom != 1) return;

    // The same image keyed as `key` keys it, showing what the pane shows.
    tav::cli::Batch& batch = *run.batch;
    tav::cli::Job job;
    job.image.width = c.width;
    job.image.height = c.height;
    job.image.hadAlpha = true;
    job.image.rgba = c.rgba;
    job.area = area;
    tav::cli::DecideScreen(batch, &job);
    const int method = job.settings.OutputMethod;
    const bool whole = width == area.width && height == area.height;
    const bool matteShaped = job.settings.MatteBlur != 0 || job.settings.MatteChoke != 0;
    if (!whole && matteShaped && (method == 2 || method == 3 || method == 5)) return;
    if (method == tav::kOutputTransparency) job.settings.OutputMethod = tav::kOutputForeground;
    // A batch puts the background on the clipboard once; the run's picture
    // has been taken off it since, so a batch of its own puts it back.
    tav::cli::Batch background(run.options);
    if (method == tav::kOutputBackground) FUZZ_CHECK(tav::cli::PrepareBackground(&background, job));
    FUZZ_CHECK(tav::cli::KeyImage(batch, &job, false));

    std::optional<int> cx, cy;
    if (o.center) {
        cx = o.center->first;
        cy = o.center->second;
    }
    const int left = area.x + WindowStart(cx, area.width, width), top = area.y + WindowStart(cy, area.height, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            FUZZ_CHECK(std::memcmp(&picture.rgba[(size_t(y) * width + x) * 4],
                                   &job.image.rgba[(size_t(top + y) * c.width + left + x) * 4], 3) == 0);
}

// The settings the command line asks for, over the settings file's, each
// clamped: against the file saved, every key but the screen (detected when
// not named).
void CheckSavedSettings(const Case& c, const Run& run) {
    const tav::cli::Options& o = run.options;
    std::vector<int64_t> want;
    for (const tav::fuzz::SettingRange& range : kSettingRanges) want.push_back(range.byDefault);
    if (o.settings == ThePaths().settings)
        for (const SettingsKey& key : c.fileKeys) want[key.range] = Clamped(key.range, key.value);
    for (const auto& [key, value] : c.sets) want[*RangeOf(key)] = Clamped(*RangeOf(key), value);
    if (o.method) want[1] = *o.method;
    for (size_t k = 1; k < want.size(); ++k)
        FUZZ_CHECK(tav::platform::ReadIniInteger(o.saveSettings.c_str(), tav::kSettingsSection,
                                                 kSettingRanges[k].key, INT64_MIN) == want[k]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The dialog reads and writes the user's store (its position, the debug
    // switch); hosts free the handles they were given; the plug-in's
    // working files go to a folder of the target's own.
    tav::fuzz::UsePrivateSettingsStores();
    tav::fuzz::PrepareStandardStreams();
    FUZZ_CHECK(mkdir(ThePaths().work.c_str(), 0700) == 0);
    FUZZ_CHECK(mkdir(TempFolder().c_str(), 0700) == 0);
    setenv("TMPDIR", TempFolder().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Paths& p = ThePaths();
    tav::fuzz::ClearFolder(p.work);
    FuzzedDataProvider in(data, size);
    Case c = ChooseCase(in);
    {
        tav::cli::Image image;
        image.width = c.width;
        image.height = c.height;
        image.rgba = c.rgba;
        std::string error;
        FUZZ_CHECK(tav::cli::WritePng(p.input, image, &error));
        std::string settings = "[TavRisk Settings]\n";
        for (const SettingsKey& key : c.fileKeys)
            settings += std::string(kSettingRanges[key.range].key) + "=" + std::to_string(key.value) + "\n";
        tav::fuzz::WriteFile(p.settings, settings);
    }
    std::vector<std::string> before = tav::fuzz::FilesIn(p.work);
    std::sort(before.begin(), before.end());
    const std::string settingsBefore = tav::fuzz::ReadFile(p.settings);

    Run run;
    RunCommand(c, &run);
    tav::platform::ClearClipboard();

    FUZZ_CHECK(run.status == 0 || run.status == 1 || run.status == 2);
    std::vector<std::string> after = tav::fuzz::FilesIn(p.work);
    std::sort(after.begin(), after.end());
    // Nothing left in the temporary folder: at most the plug-in's own
    // folder, empty.
    for (const std::string& name : tav::fuzz::FilesIn(TempFolder()))
        FUZZ_CHECK(name.rfind("tavrisk-", 0) == 0 && tav::fuzz::FilesIn(TempFolder() + "/" + name).empty());
    for (const std::string& name : after) FUZZ_CHECK(name[0] != '.');  // no partial file

    if (run.status != 0 || !run.out.empty()) {
        FUZZ_CHECK(run.status != 0 || run.errors.empty());  // --help, --version
        FUZZ_CHECK(run.status == 0 || run.errors.find("tavrisk: ") != std::string::npos);
        std::vector<std::string> allowed = before;
        const std::string& saved = run.options.saveSettings;  // written before a failure to show or write
        if (run.status == 1 && saved.rfind(p.work + "/", 0) == 0) allowed.push_back(saved.substr(p.work.size() + 1));
        for (const std::string& name : after)
            FUZZ_CHECK(std::find(allowed.begin(), allowed.end(), name) != allowed.end());
        if (run.status != 1 || run.options.saveSettings != p.settings)
            FUZZ_CHECK(tav::fuzz::ReadFile(p.settings) == settingsBefore);
        return 0;
    }

    FUZZ_CHECK(run.out.empty());
    const tav::cli::Options& o = run.options;
    // The picture, and the settings when asked, are all that is new.
    FUZZ_CHECK(o.inputs.size() == 1);
    for (const std::string& name : after)
        FUZZ_CHECK(std::binary_search(before.begin(), before.end(), name) || p.work + "/" + name == o.output ||
                   p.work + "/" + name == o.saveSettings);
    const std::string png = tav::fuzz::ReadFile(o.output);
    tav::cli::Image picture;
    std::string error;
    FUZZ_CHECK(tav::cli::DecodeImage(reinterpret_cast<const uint8_t*>(png.data()), png.size(), tav::cli::ReadOptions{},
                                     &picture, &error));
    CheckPicture(c, run, picture);

    if (c.exact) {
        for (const auto& [key, value] : c.sets) {
            const int64_t stored = Clamped(*RangeOf(key), value);
            const std::string line = "tavrisk: --set " + key + "=" + std::to_string(value) + ": stored as ";
            if (stored != value)
                FUZZ_CHECK(run.errors.find(line + std::to_string(stored) + "\n") != std::string::npos);
            else
                FUZZ_CHECK(run.errors.find(line) == std::string::npos);
        }
        if (!o.saveSettings.empty()) CheckSavedSettings(c, run);
    }
    tav::platform::ClearClipboard();
    return 0;
}
