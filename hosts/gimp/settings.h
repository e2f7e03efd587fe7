// The filter's sixteen settings as GIMP sees them: the procedure's INT32
// arguments (in the settings file's order), a settings file (the filter's
// "Save..." format, read here by its published rules), and the last values,
// kept between runs in the registry store as a host keeps the parameters of
// its last filter.
#pragma once

#include <cstdint>
#include <string>

#include "interface/parameter_record.h"

namespace tav::gimp {

constexpr int kSettingCount = 16;

struct Setting {
    const char* key;  // in settings files
    const char* description;
    int32_t low, high;
    uint8_t ParameterRecord::*byteField;
    int32_t ParameterRecord::*wordField;

    int32_t Get(const ParameterRecord& p) const { return byteField != nullptr ? p.*byteField : p.*wordField; }
    void Set(ParameterRecord& p, int32_t v) const {
        if (byteField != nullptr)
            p.*byteField = uint8_t(v);
        else
            p.*wordField = v;
    }
};

// The settings in the file's order.
const Setting* SettingTable();

// The procedure argument's name of a setting: "ScreenColor" is "screen-color".
std::string ArgumentName(const Setting& setting);

// The settings a run is given, on top of the filter's defaults.
struct Settings {
    int32_t values[kSettingCount];
    bool given[kSettingCount] = {};  // a setting not given keeps the record's value
    bool showMatte = false, showMatteGiven = false;
    std::string settingsPath;  // the dialog's "Save..." proposes it

    bool ScreenGiven() const { return given[0]; }
    // Writes what was given into the record.
    void ApplyTo(ParameterRecord* record) const;
    // Takes every setting from the record.
    static Settings Of(const ParameterRecord& record);
};

// The sixteen arguments, each within its range; false with the reason when
// one is not.
bool FromArguments(const int32_t* arguments, Settings* settings, std::string* error);

// The keys a settings file holds, each held to its range; false with the
// reason when the file cannot be read or holds no settings.
bool FromSettingsFile(const std::string& path, Settings* settings, std::string* error);

// The settings of the last run that keyed, as stored; none stored: nothing
// given.
Settings LastSettings();
void StoreLastSettings(const ParameterRecord& record);

}  // namespace tav::gimp
