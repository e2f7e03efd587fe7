// The keyer's settings: defaults, a settings file, --set values, --method
// and --screen, each clamped to its documented range with the clamp
// reported; and what may be written with --save-settings.
#pragma once

#include <string>

#include "interface/parameter_record.h"
#include "keyer/options.h"

namespace tav::cli {

// The settings every input starts from.
struct BaseSettings {
    ParameterRecord record;
    // The screen is --screen's blue or green, or, without --screen, the one
    // the settings file or a --set names: the image does not decide it.
    bool screenDecided = false;
};

// False (reported) when the settings file cannot be read or a --set key is
// unknown.
bool LoadBaseSettings(const Options& options, BaseSettings* base);

enum class SettingsFileKind {
    Missing,
    Empty,
    Settings,     // an initialisation file with the settings section
    NoSection,    // an initialisation file without it
    NotSettings,  // anything else: an image, a text, a folder, a device
};
SettingsFileKind InspectSettingsFile(const std::string& path);

// Writes the settings; false on failure, with the reason in `error`.
bool SaveSettings(const std::string& path, const ParameterRecord& record, std::string* error);

}  // namespace tav::cli
