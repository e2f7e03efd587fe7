// One input on its way through the keyer, and the stages it passes: read,
// the screen decided, keyed through the plug-in, written.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "interface/parameter_record.h"
#include "keyer/image_file.h"
#include "keyer/options.h"
#include "keyer/settings.h"

namespace tav::cli {

// What a run needs besides each input: the settings, the background picture
// (read once, on first need) and whether the settings have been saved. Only
// the key stage changes it.
struct Batch {
    explicit Batch(const Options& o) : options(o) {}
    const Options& options;
    BaseSettings base{};
    bool backgroundTried = false;
    bool backgroundRead = false;
    Image background;
    std::vector<uint8_t> backgroundDib;  // the clipboard's copy of it
    bool backgroundOnClipboard = false;  // put there once for every run
    std::string backgroundError;
    bool settingsSaved = false;
    bool settingsFailed = false;
};

struct Job {
    size_t item = 0;  // its place among the inputs, for the messages
    std::string input, output;
    Image image;
    Region area;  // the filtered area
    ParameterRecord settings;
    bool ok = false;
    double decodeSeconds = 0, runSeconds = 0, encodeSeconds = 0;
};

double Seconds(std::chrono::steady_clock::time_point from);

// Reports "tavrisk: FILE: WHY" about the job's item; returns false.
bool ReportFailure(const Job& job, const std::string& file, const std::string& why);

// Reads the input file and places the filtered area in it.
// `sizeKnown`, when given, is told the image's size before its pixels are
// decoded (see ReadOptions).
bool ReadInput(const Batch& batch, Job* job, std::function<void(int width, int height)> sizeKnown = {});

// The settings of this input: the batch's, with the screen detected from
// the filtered area unless the command line or the settings named it. The
// pixels are the job's image's, or those at `pixels` (of its size).
void DecideScreen(const Batch& batch, Job* job, const uint8_t* pixels = nullptr);

// Reads the background picture on first need; false when it cannot be read
// (the reason is in the batch).
bool LoadBackground(Batch* batch);

// Why the loaded background cannot stand behind `area` (its size differs),
// or the empty text when it can.
std::string BackgroundMismatch(const Batch& batch, const Region& area);

// Puts the background picture on the clipboard for method 5 (once: the runs
// only read it).
bool PrepareBackground(Batch* batch, const Job& job);

// Why the plug-in could not key the image.
std::string RunFailure(int16_t result);

// Keys the image in place through the plug-in, with a progress bar on a
// terminal when `progress` is set.
bool KeyImage(const Batch& batch, Job* job, bool progress);

// The same over `pixels` (the job's image's size in RGBA, keyed in place),
// telling the run's time in `seconds`; on failure says why in `why` rather
// than reporting it.
bool RunPlugin(const Batch& batch, const Job& job, uint8_t* pixels, bool progress, double* seconds,
               std::string* why);

// Writes the output file, and the input's timings when they are asked for.
bool WriteOutput(const Options& options, Job* job);

// The settings file is written once, with the settings of the first input
// that got as far as keying (its detected screen included), or the batch's;
// a failure is reported about `item`.
void SaveSettingsOnce(Batch* batch, const ParameterRecord& settings, size_t item);

}  // namespace tav::cli
