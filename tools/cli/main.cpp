// tavrisk: the command-line keyer. Each image is handed to the plug-in
// through its entry point, exactly as a host repeats the last filter: the
// parameters selector, the settings applied to the record with the dialog
// off, then prepare, start, continue and finish.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/allocator.h"
#include "host/capture.h"
#include "host/host_interface.h"
#include "host/parameters.h"
#include "platform/clipboard.h"
#include "platform/module.h"
#include "resources/strings.h"
#include "tools/cli/image_io.h"
#include "tools/testhost/test_host.h"
#include "ui/settings_file.h"

namespace tav::cli {
namespace {

constexpr const char* kVersion = "1.0.0";

constexpr const char* kMethodNames[kOutputMethodCount] = {
    "foreground-transparency", "foreground", "matte-transparency", "matte", "transparency", "background"};

const char* const kUsage =
    "Usage: tavrisk key INPUT... [-o OUTPUT | --outdir DIR] [options]\n"
    "\n"
    "Keys each INPUT (PNG or JPEG) off its blue or green screen and writes an\n"
    "8-bit RGBA PNG; by default NAME-keyed.png beside the input.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE      output file (one input only)\n"
    "  --outdir DIR           write NAME-keyed.png into DIR\n"
    "  --method N|NAME        0 foreground-transparency (default), 1 foreground,\n"
    "                         2 matte-transparency, 3 matte, 4 transparency,\n"
    "                         5 background\n"
    "  --screen auto|blue|green\n"
    "                         backing screen colour; without it, the settings'\n"
    "                         ScreenColor when they give one, else detected\n"
    "  --settings FILE.tvk    load settings from a settings file\n"
    "  --set KEY=VALUE        set one setting (repeatable; after --settings)\n"
    "  --save-settings FILE.tvk\n"
    "                         write the effective settings to a settings file\n"
    "  --background FILE      background picture for method 5 (size of the\n"
    "                         filtered area)\n"
    "  --region X,Y,W,H       key only this rectangle; the rest stays as it was\n"
    "  --quiet                no progress bar\n"
    "  --timings              report decode, run and encode times and peak memory\n"
    "  --help, --version\n";

struct Options {
    std::vector<std::string> inputs;
    std::string output, outdir;
    std::optional<int> method;
    std::optional<int> screen;  // -1: auto
    std::string settings, saveSettings, background;
    std::vector<std::pair<std::string, int64_t>> sets;
    bool region = false;
    int regionX = 0, regionY = 0, regionW = 0, regionH = 0;
    bool quiet = false;
    bool timings = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tavrisk: %s\nTry 'tavrisk --help'.\n", message.c_str());
    return 2;
}

bool ParseInt(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

// Parses the command line; returns -1 to go on, or an exit code.
int ParseArguments(int argc, char** argv, Options* o) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tavrisk %s\n", kVersion);
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "key") != 0) return UsageError("expected the command 'key'");
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("tavrisk %s\n", kVersion);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&o->output)) return UsageError(arg + " needs a file name");
        } else if (arg == "--outdir") {
            if (!value(&o->outdir)) return UsageError("--outdir needs a folder");
        } else if (arg == "--method") {
            if (!value(&v)) return UsageError("--method needs a number or a name");
            int64_t n;
            int found = -1;
            if (ParseInt(v, &n) && n >= 0 && n < kOutputMethodCount) found = int(n);
            for (int m = 0; m < kOutputMethodCount; ++m)
                if (v == kMethodNames[m]) found = m;
            if (found < 0) return UsageError("unknown method '" + v + "'");
            o->method = found;
        } else if (arg == "--screen") {
            if (!value(&v)) return UsageError("--screen needs auto, blue or green");
            if (v == "auto") o->screen = -1;
            else if (v == "blue") o->screen = 0;
            else if (v == "green") o->screen = 1;
            else return UsageError("--screen takes auto, blue or green, not '" + v + "'");
        } else if (arg == "--settings") {
            if (!value(&o->settings)) return UsageError("--settings needs a file");
        } else if (arg == "--save-settings") {
            if (!value(&o->saveSettings)) return UsageError("--save-settings needs a file");
        } else if (arg == "--set") {
            if (!value(&v)) return UsageError("--set needs KEY=VALUE");
            size_t eq = v.find('=');
            int64_t n;
            if (eq == std::string::npos || eq == 0) return UsageError("--set needs KEY=VALUE, not '" + v + "'");
            if (!ParseInt(v.substr(eq + 1), &n))
                return UsageError("--set " + v.substr(0, eq) + ": '" + v.substr(eq + 1) + "' is not an integer");
            o->sets.emplace_back(v.substr(0, eq), n);
        } else if (arg == "--background") {
            if (!value(&o->background)) return UsageError("--background needs a file");
        } else if (arg == "--region") {
            if (!value(&v)) return UsageError("--region needs X,Y,W,H");
            int x, y, w, h;
            char tail;
            if (std::sscanf(v.c_str(), "%d,%d,%d,%d%c", &x, &y, &w, &h, &tail) != 4 || x < 0 || y < 0 ||
                w <= 0 || h <= 0)
                return UsageError("--region takes X,Y,W,H with W and H above 0, not '" + v + "'");
            o->region = true;
            o->regionX = x;
            o->regionY = y;
            o->regionW = w;
            o->regionH = h;
        } else if (arg == "--quiet" || arg == "-q") {
            o->quiet = true;
        } else if (arg == "--timings") {
            o->timings = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            o->inputs.push_back(arg);
        }
    }
    if (o->inputs.empty()) return UsageError("no input image");
    if (!o->output.empty() && !o->outdir.empty()) return UsageError("-o and --outdir exclude each other");
    if (!o->output.empty() && o->inputs.size() > 1) return UsageError("-o takes one input only; use --outdir");
    return -1;
}

std::string OutputPath(const Options& o, const std::string& input) {
    if (!o.output.empty()) return o.output;
    size_t slash = input.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    if (!o.outdir.empty()) folder = o.outdir + "/";
    return folder + name + "-keyed.png";
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The settings every input starts from: defaults, the settings file, then
// the --set values. Reports clamped values once.
struct BaseSettings {
    ParameterRecord record;
    bool screenGiven = false;  // the file or a --set named ScreenColor
};

bool SettingsFileNamesScreen(const std::string& path) {
    // A file that sets ScreenColor changes the record's value whatever it was:
    // read it over two different starting values and compare.
    ParameterRecord a{}, b{};
    a.ScreenColor = 0;
    b.ScreenColor = 1;
    bool newer;
    ReadSettingsFile(path.c_str(), &a, &newer);
    ReadSettingsFile(path.c_str(), &b, &newer);
    return a.ScreenColor == b.ScreenColor;
}

bool LoadBaseSettings(const Options& o, BaseSettings* base) {
    std::memset(&base->record, 0, sizeof base->record);
    SetParameterDefaults(&base->record);
    if (!o.settings.empty()) {
        struct stat st;
        bool newer = false;
        if (stat(o.settings.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !ReadSettingsFile(o.settings.c_str(), &base->record, &newer)) {
            std::fprintf(stderr, "tavrisk: %s: cannot read the settings file\n", o.settings.c_str());
            return false;
        }
        if (newer) {
            char text[256];
            platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, text, sizeof text);
            std::fprintf(stderr, "tavrisk: %s: %s\n", o.settings.c_str(), text);
        }
        base->screenGiven = SettingsFileNamesScreen(o.settings);
    }
    for (const auto& [key, value] : o.sets) {
        int64_t stored = 0;
        switch (ApplySettingsValue(&base->record, key, value, &stored)) {
            case SettingsKeyResult::Unknown:
                std::fprintf(stderr, "tavrisk: --set: unknown setting '%s'\n", key.c_str());
                return false;
            case SettingsKeyResult::Clamped:
                std::fprintf(stderr, "tavrisk: --set %s=%lld: stored as %lld\n", key.c_str(),
                             static_cast<long long>(value), static_cast<long long>(stored));
                break;
            case SettingsKeyResult::Stored:
                break;
        }
        if (strcasecmp(key.c_str(), "ScreenColor") == 0) base->screenGiven = true;
    }
    if (o.method) base->record.OutputMethod = uint8_t(*o.method);
    if (o.screen && *o.screen >= 0) base->record.ScreenColor = uint8_t(*o.screen);
    return true;
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

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The background picture for method 5, read on first need.
struct Background {
    bool tried = false;
    bool read = false;
    Image picture;
    std::string error;
};

// Keys one input; false (with a message) when it failed.
bool KeyOne(const Options& o, const BaseSettings& base, const std::string& input, Background* background,
            bool* savedSettings) {
    auto fail = [&](const std::string& file, const std::string& why) {
        std::fprintf(stderr, "tavrisk: %s: %s\n", file.c_str(), why.c_str());
        return false;
    };
    const std::string output = OutputPath(o, input);
    if (SameFile(input, output)) return fail(input, "the output " + output + " would overwrite the input");

    auto start = std::chrono::steady_clock::now();
    Image image;
    std::string error;
    if (!ReadImage(input, &image, &error)) return fail(input, error);
    double decodeSeconds = Seconds(start);

    int left = 0, top = 0, width = image.width, height = image.height;
    if (o.region) {
        if (int64_t(o.regionX) + o.regionW > image.width || int64_t(o.regionY) + o.regionH > image.height)
            return fail(input, "the region " + std::to_string(o.regionX) + "," + std::to_string(o.regionY) +
                                   "," + std::to_string(o.regionW) + "," + std::to_string(o.regionH) +
                                   " lies outside the " + std::to_string(image.width) + " x " +
                                   std::to_string(image.height) + " image");
        left = o.regionX;
        top = o.regionY;
        width = o.regionW;
        height = o.regionH;
    }

    ParameterRecord settings = base.record;
    bool detect = o.screen ? *o.screen < 0 : !base.screenGiven;
    if (detect) {
        const uint8_t* first = &image.rgba[(size_t(top) * image.width + left) * 4];
        const int64_t count = int64_t(width) * height;
        if (width == image.width) {
            // Whole rows lie one after the other: no copy needed.
            settings.ScreenColor = uint8_t(ScreenColorOf(first, count, 4));
        } else {
            std::vector<uint8_t> area;
            area.reserve(size_t(count) * 4);
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = first + size_t(y) * image.width * 4;
                area.insert(area.end(), row, row + size_t(width) * 4);
            }
            settings.ScreenColor = uint8_t(ScreenColorOf(area.data(), count, 4));
        }
    }

    if (settings.OutputMethod == kOutputBackground) {
        if (o.background.empty()) return fail(input, "method 5 (background) needs --background FILE");
        // Read once for all the inputs.
        if (!background->tried) {
            background->tried = true;
            background->read = ReadImage(o.background, &background->picture, &background->error);
        }
        if (!background->read) return fail(o.background, background->error);
        const Image& picture = background->picture;
        if (picture.width != width || picture.height != height)
            return fail(o.background, "the background is " + std::to_string(picture.width) + " x " +
                                          std::to_string(picture.height) + ", the filtered area " +
                                          std::to_string(width) + " x " + std::to_string(height));
        std::vector<uint8_t> dib = PackedDib(picture);
        platform::SetClipboardDib(dib.data(), dib.size());
    }

    if (!o.saveSettings.empty() && !*savedSettings) {
        *savedSettings = true;
        if (!WriteSettingsFile(o.saveSettings.c_str(), settings))
            std::fprintf(stderr, "tavrisk: %s: cannot write the settings file\n", o.saveSettings.c_str());
    }

    testing::TestHost host(ENTRYPOINT);
    host.SetImage(image.width, image.height, 4, std::move(image.rgba));
    host.SetFilterRect(left, top, left + width, top + height);
    host.SetFilterCase(o.region ? filterCaseEditableTransparencyWithSelection
                                : filterCaseEditableTransparencyNoSelection);
    ProgressBar bar;
    bar.enabled = !o.quiet && isatty(STDERR_FILENO);
    bar.label = input;
    host.progressListener = ShowProgress;
    host.progressContext = &bar;

    start = std::chrono::steady_clock::now();
    int16_t result = host.Call(filterSelectorParameters);
    if (result == noErr) {
        ParameterRecord* record = GetParameters(&host.record());
        std::memcpy(record, &settings, sizeof settings);
        record->ShowDialog = 0;
        result = host.RunFilter(false);
    }
    double runSeconds = Seconds(start);
    if (bar.enabled && bar.lastShown >= 0) std::fputs("\n", stderr);
    if (result != noErr) {
        return fail(input, result == memFullErr ? std::string("not enough memory to key this image")
                                                : "keying failed (result " + std::to_string(result) + ")");
    }

    start = std::chrono::steady_clock::now();
    Image keyed;
    keyed.width = host.width();
    keyed.height = host.height();
    keyed.rgba = host.TakeImage();
    if (!WritePng(output, keyed, &error)) return fail(output, error);
    double encodeSeconds = Seconds(start);

    if (o.timings) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::fprintf(stderr, "%s: decode %.3f s, run %.3f s, encode %.3f s, peak memory %ld MiB\n",
                     input.c_str(), decodeSeconds, runSeconds, encodeSeconds, usage.ru_maxrss / 1024);
    }
    return true;
}

}  // namespace

int Main(int argc, char** argv) {
    // Each input gets a host of its own; the handles it was given go when it does.
    testing::TestHost::SetHandleDisposer(DisposeMacHandle);
    Options options;
    int code = ParseArguments(argc, argv, &options);
    if (code >= 0) return code;
    BaseSettings base;
    if (!LoadBaseSettings(options, &base)) return 2;
    if (!options.outdir.empty()) {
        struct stat st;
        if (stat(options.outdir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return UsageError("--outdir " + options.outdir + " is not a folder");
    }
    bool savedSettings = false;
    Background background;
    int failures = 0;
    for (const std::string& input : options.inputs)
        if (!KeyOne(options, base, input, &background, &savedSettings)) ++failures;
    if (!options.saveSettings.empty() && !savedSettings &&
        !WriteSettingsFile(options.saveSettings.c_str(), base.record))
        std::fprintf(stderr, "tavrisk: %s: cannot write the settings file\n", options.saveSettings.c_str());
    return failures == 0 ? 0 : 1;
}

}  // namespace tav::cli

int main(int argc, char** argv) { return tav::cli::Main(argc, argv); }
