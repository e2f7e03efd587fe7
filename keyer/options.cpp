#include "keyer/options.h"

#include <cstdio>
#include <cstring>

#include "interface/parameter_record.h"

namespace tav::cli {
namespace {

constexpr const char* kVersion = "1.0.0";

constexpr const char* kMethodNames[kOutputMethodCount] = {
    "foreground-transparency", "foreground", "matte-transparency", "matte", "transparency", "background"};

const char* const kUsage =
    "Usage: tavrisk key INPUT... [-o OUTPUT | --outdir DIR] [options]\n"
    "       tavrisk key --raw WIDTHxHEIGHT [--raw-format rgba|rgb24] - [-o -] [options]\n"
    "       tavrisk preview INPUT -o PICTURE.png [--zoom fit|1|-N] [--center X,Y] [options]\n"
    "\n"
    "key: keys each INPUT (PNG or JPEG) off its blue or green screen and writes\n"
    "an 8-bit RGBA PNG; by default NAME-keyed.png beside the input.\n"
    "With --raw: keys raw frames from standard input, one after the other, and\n"
    "writes them as raw 8-bit RGBA frames to standard output.\n"
    "preview: opens the plug-in's parameters dialog on INPUT as a host's first\n"
    "run does, at the zoom asked (the whole image by default), centred on X,Y\n"
    "when given, writes the preview picture to PICTURE.png and cancels.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE      output file (one input only; - for standard output)\n"
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
    "  --max-pixels N         refuse images of more than N pixels\n"
    "                         (default 600000000)\n"
    "  --compression fast|default|best\n"
    "                         PNG compression: fast (default; files some 15 to\n"
    "                         30 % larger than libpng's defaults make, mattes\n"
    "                         up to 70 %),\n"
    "                         default (about their size), best (smaller, slower)\n"
    "  --accept-jpeg-warnings key JPEG files that decode only with warnings\n"
    "                         (damaged parts come out grey) instead of refusing\n"
    "  --zoom fit|1|-N        preview: the zoom (1 : 1, 1 : N)\n"
    "  --center X,Y           preview: the image point shown at the middle\n"
    "  --raw WIDTHxHEIGHT     key raw frames of that size from standard input\n"
    "  --raw-format rgba|rgb24\n"
    "                         the raw frames' pixels (default rgba)\n"
    "  --jobs N               use at most N threads (default: one a core)\n"
    "  --quiet                no progress bar\n"
    "  --timings              report decode, run and encode times and peak memory\n"
    "                         (with --raw: the frames keyed, at the end)\n"
    "  --help, --version\n";

// Splits "X,Y,W,H" into its four numbers; the first failure is reported.
int ParseRegion(const std::string& text, Region* region) {
    int64_t values[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos))
            return UsageError("--region takes X,Y,W,H, not '" + text + "'");
        std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
        const int64_t low = i < 2 ? 0 : 1;
        switch (ParseInteger(part, low, 32767, &values[i])) {
            case NumberText::Valid: break;
            case NumberText::NotANumber:
                return UsageError("--region takes X,Y,W,H, not '" + text + "'");
            case NumberText::OutOfRange:
                return UsageError("--region: " + part + " is outside " + std::to_string(low) + "..32767");
        }
        start = comma + 1;
    }
    *region = Region{int(values[0]), int(values[1]), int(values[2]), int(values[3])};
    return -1;
}

// "WIDTHxHEIGHT", each side within the host's 16-bit coordinates.
int ParseRawSize(const std::string& text, RawFrames* raw) {
    const size_t x = text.find('x');
    int64_t width = 0, height = 0;
    if (x == std::string::npos) return UsageError("--raw takes WIDTHxHEIGHT, not '" + text + "'");
    const std::string sides[2] = {text.substr(0, x), text.substr(x + 1)};
    int64_t* values[2] = {&width, &height};
    for (int i = 0; i < 2; ++i) switch (ParseInteger(sides[i], 1, 32767, values[i])) {
            case NumberText::Valid: break;
            case NumberText::NotANumber: return UsageError("--raw takes WIDTHxHEIGHT, not '" + text + "'");
            case NumberText::OutOfRange:
                return UsageError("--raw: " + sides[i] + " is outside 1..32767 (the frame's " +
                                  (i == 0 ? "width" : "height") + ")");
        }
    raw->width = int(width);
    raw->height = int(height);
    return -1;
}

// What --raw excludes or needs, once the whole command line is known.
int CheckRaw(const Options& o, bool formatGiven) {
    if (!o.raw) return formatGiven ? UsageError("--raw-format needs --raw WIDTHxHEIGHT") : -1;
    const RawFrames& raw = *o.raw;
    if (o.inputs.size() != 1 || o.inputs[0] != "-")
        return UsageError("--raw reads standard input: give '-' as its only input");
    if (!o.output.empty() && o.output != "-") return UsageError("--raw writes standard output: -o takes only '-'");
    if (!o.outdir.empty()) return UsageError("--raw writes standard output: no --outdir");
    if (int64_t(raw.width) * raw.height > o.read.maxPixels)
        return UsageError("--raw: the frame's " + std::to_string(raw.width) + " x " + std::to_string(raw.height) +
                          " pixels exceed the budget of " + std::to_string(o.read.maxPixels) + " (--max-pixels)");
    if (const auto& r = o.region; r && (int64_t(r->x) + r->width > raw.width || int64_t(r->y) + r->height > raw.height))
        return UsageError("--region " + std::to_string(r->x) + "," + std::to_string(r->y) + "," +
                          std::to_string(r->width) + "," + std::to_string(r->height) + " lies outside the " +
                          std::to_string(raw.width) + " x " + std::to_string(raw.height) + " frame");
    return -1;
}

}  // namespace

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tavrisk: %s\nTry 'tavrisk --help'.\n", message.c_str());
    return 2;
}

NumberText ParseInteger(std::string_view text, int64_t low, int64_t high, int64_t* value) {
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++at;
    if (at == text.size()) return NumberText::NotANumber;
    uint64_t magnitude = 0;
    bool overflow = false;
    constexpr uint64_t kLimit = uint64_t(INT64_MAX) + 1;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return NumberText::NotANumber;
        const uint64_t digit = uint64_t(text[at] - '0');
        if (magnitude > (kLimit - digit) / 10) overflow = true;
        else magnitude = magnitude * 10 + digit;
    }
    if (overflow || (!negative && magnitude == kLimit)) return NumberText::OutOfRange;
    const int64_t v = negative ? (magnitude == kLimit ? INT64_MIN : -int64_t(magnitude)) : int64_t(magnitude);
    if (v < low || v > high) return NumberText::OutOfRange;
    *value = v;
    return NumberText::Valid;
}

int ParseArguments(int argc, char** argv, Options* o) {
    auto help = [] {
        std::fputs(kUsage, stdout);
        return 0;
    };
    auto version = [] {
        std::printf("tavrisk %s\n", kVersion);
        return 0;
    };
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) return help();
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) return version();
    if (argc >= 2 && std::strcmp(argv[1], "preview") == 0) o->command = Command::Preview;
    else if (argc < 2 || std::strcmp(argv[1], "key") != 0) return UsageError("expected the command 'key' or 'preview'");
    bool rawFormatGiven = false;
    RawFormat rawFormat = RawFormat::Rgba;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string v;
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") return help();
        if (arg == "--version") return version();
        if (arg == "-o" || arg == "--output") {
            if (!value(&o->output)) return UsageError(arg + " needs a file name");
        } else if (arg == "--outdir") {
            if (!value(&o->outdir)) return UsageError("--outdir needs a folder");
        } else if (arg == "--method") {
            if (!value(&v)) return UsageError("--method needs a number or a name");
            int64_t n = -1;
            if (ParseInteger(v, 0, kOutputMethodCount - 1, &n) != NumberText::Valid) n = -1;
            for (int m = 0; m < kOutputMethodCount; ++m)
                if (v == kMethodNames[m]) n = m;
            if (n < 0) return UsageError("unknown method '" + v + "'");
            o->method = int(n);
        } else if (arg == "--screen") {
            if (!value(&v)) return UsageError("--screen needs auto, blue or green");
            if (v == "auto") o->screen = ScreenChoice::Auto;
            else if (v == "blue") o->screen = ScreenChoice::Blue;
            else if (v == "green") o->screen = ScreenChoice::Green;
            else return UsageError("--screen takes auto, blue or green, not '" + v + "'");
        } else if (arg == "--settings") {
            if (!value(&o->settings)) return UsageError("--settings needs a file");
        } else if (arg == "--save-settings") {
            if (!value(&o->saveSettings)) return UsageError("--save-settings needs a file");
        } else if (arg == "--set") {
            if (!value(&v)) return UsageError("--set needs KEY=VALUE");
            const size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) return UsageError("--set needs KEY=VALUE, not '" + v + "'");
            const std::string key = v.substr(0, eq), text = v.substr(eq + 1);
            int64_t n = 0;
            switch (ParseInteger(text, INT64_MIN, INT64_MAX, &n)) {
                case NumberText::Valid: break;
                case NumberText::NotANumber:
                    return UsageError("--set " + key + ": '" + text + "' is not an integer");
                case NumberText::OutOfRange:
                    return UsageError("--set " + key + ": " + text + " is beyond any setting's range");
            }
            o->sets.emplace_back(key, n);
        } else if (arg == "--background") {
            if (!value(&o->background)) return UsageError("--background needs a file");
        } else if (arg == "--region") {
            if (!value(&v)) return UsageError("--region needs X,Y,W,H");
            Region region;
            if (int code = ParseRegion(v, &region); code >= 0) return code;
            o->region = region;
        } else if (arg == "--max-pixels") {
            if (!value(&v)) return UsageError("--max-pixels needs a number");
            if (ParseInteger(v, 1, INT64_MAX / 16, &o->read.maxPixels) != NumberText::Valid)
                return UsageError("--max-pixels takes a positive number of pixels, not '" + v + "'");
        } else if (arg == "--compression") {
            if (!value(&v)) return UsageError("--compression needs fast, default or best");
            if (v == "fast") o->write.compression = Compression::Fast;
            else if (v == "default") o->write.compression = Compression::Default;
            else if (v == "best") o->write.compression = Compression::Best;
            else return UsageError("--compression takes fast, default or best, not '" + v + "'");
        } else if (arg == "--zoom" && o->command == Command::Preview) {
            if (!value(&v)) return UsageError("--zoom needs fit, 1 or -N");
            int64_t n = 0;
            if (v == "fit") o->zoom = 0;
            else if (ParseInteger(v, -128, 1, &n) == NumberText::Valid && n != 0 && n != -1) o->zoom = int(n);
            else return UsageError("--zoom takes fit, 1 or -2 .. -128, not '" + v + "'");
        } else if (arg == "--center" && o->command == Command::Preview) {
            if (!value(&v)) return UsageError("--center needs X,Y");
            const size_t comma = v.find(',');
            int64_t x = 0, y = 0;
            if (comma == std::string::npos || ParseInteger(v.substr(0, comma), 0, 32766, &x) != NumberText::Valid ||
                ParseInteger(v.substr(comma + 1), 0, 32766, &y) != NumberText::Valid)
                return UsageError("--center takes X,Y within the image, not '" + v + "'");
            o->center = std::make_pair(int(x), int(y));
        } else if (arg == "--raw" && o->command == Command::Key) {
            if (!value(&v)) return UsageError("--raw needs WIDTHxHEIGHT");
            RawFrames raw;
            if (int code = ParseRawSize(v, &raw); code >= 0) return code;
            o->raw = raw;
        } else if (arg == "--raw-format" && o->command == Command::Key) {
            if (!value(&v)) return UsageError("--raw-format needs rgba or rgb24");
            if (v == "rgba") rawFormat = RawFormat::Rgba;
            else if (v == "rgb24") rawFormat = RawFormat::Rgb24;
            else return UsageError("--raw-format takes rgba or rgb24, not '" + v + "'");
            rawFormatGiven = true;
        } else if (arg == "--jobs" && o->command == Command::Key) {
            if (!value(&v)) return UsageError("--jobs needs a number of threads");
            int64_t n = 0;
            if (ParseInteger(v, 1, 1024, &n) != NumberText::Valid)
                return UsageError("--jobs takes a number of threads from 1 to 1024, not '" + v + "'");
            o->jobs = int(n);
            o->write.threads = int(n);  // the writer's pieces, its own thread included
        } else if (arg == "--accept-jpeg-warnings") {
            o->read.acceptJpegWarnings = true;
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
    if (o->raw) o->raw->format = rawFormat;
    if (int code = CheckRaw(*o, rawFormatGiven); code >= 0) return code;
    if (o->command == Command::Preview && (o->inputs.size() != 1 || o->output.empty()))
        return UsageError("preview takes one input and -o PICTURE.png");
    if (!o->output.empty() && !o->outdir.empty()) return UsageError("-o and --outdir exclude each other");
    if (!o->output.empty() && o->inputs.size() > 1) return UsageError("-o takes one input only; use --outdir");
    return -1;
}

}  // namespace tav::cli
