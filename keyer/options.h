// The keyer's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "keyer/image_file.h"

namespace tav::cli {

struct Region {
    int x = 0, y = 0, width = 0, height = 0;
};

enum class Command { Key, Preview };

// --screen: a screen named, or the detection asked for over the settings'.
enum class ScreenChoice { Auto, Blue, Green };

// The pixels of a raw frame: 8-bit RGBA, or RGB (opaque).
enum class RawFormat { Rgba, Rgb24 };

// --raw: frames of this size from standard input to standard output.
struct RawFrames {
    int width = 0, height = 0;
    RawFormat format = RawFormat::Rgba;
};

struct Options {
    Command command = Command::Key;
    std::vector<std::string> inputs;
    std::string output, outdir;
    std::optional<int> method;
    // --screen; none: the settings' ScreenColor when they name one, else
    // detected.
    std::optional<ScreenChoice> screen;
    std::string settings, saveSettings, background;
    std::vector<std::pair<std::string, int64_t>> sets;
    std::optional<Region> region;
    ReadOptions read;
    WriteOptions write;
    bool quiet = false;
    bool timings = false;
    std::optional<RawFrames> raw;
    // The threads at most, the caller's included; 0: one for each core.
    int jobs = 0;
    // preview: the zoom (0: the fit, 1: 1 : 1, -N: 1 : N) and the image point
    // to centre on.
    int zoom = 0;
    std::optional<std::pair<int, int>> center;
};

// Parses the command line into `options`; returns -1 to go on, or the exit
// code (0 after --help or --version, 2 after a usage error, which has been
// reported).
int ParseArguments(int argc, char** argv, Options* options);

// Reports a usage error; returns 2.
int UsageError(const std::string& message);

enum class NumberText { Valid, NotANumber, OutOfRange };

// A decimal integer with an optional minus sign and nothing else around it,
// within [low, high]; OutOfRange also for numbers beyond 64 bits.
NumberText ParseInteger(std::string_view text, int64_t low, int64_t high, int64_t* value);

}  // namespace tav::cli
