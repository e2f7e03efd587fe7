#include "hosts/gimp/settings.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ini_file.h"
#include "platform/registry.h"

namespace tav::gimp {
namespace {

constexpr Setting Byte(const char* key, const char* description, int32_t high, uint8_t ParameterRecord::*field) {
    return {key, description, 0, high, field, nullptr};
}
constexpr Setting Word(const char* key, const char* description, int32_t low, int32_t high,
                       int32_t ParameterRecord::*field) {
    return {key, description, low, high, nullptr, field};
}

constexpr Setting kSettings[kSettingCount] = {
    Byte("ScreenColor", "The backing screen: 0 blue, 1 green", 1, &ParameterRecord::ScreenColor),
    Byte("OutputMethod",
         "What is written: 0 foreground and transparency, 1 foreground, 2 matte and transparency, 3 matte, "
         "4 transparency, 5 the foreground over the clipboard's picture",
         5, &ParameterRecord::OutputMethod),
    Byte("DynamicRange", "Stretch the matte over the range of screen keys found (0, 1)", 1,
         &ParameterRecord::DynamicRange),
    Byte("ForceBlack", "Matte values at or below this become fully transparent (0..255)", 255,
         &ParameterRecord::ForceBlack),
    Byte("ForceWhite", "Matte values at or above 255 minus this become fully opaque (0..255)", 255,
         &ParameterRecord::ForceWhite),
    Byte("Gamma", "Matte gamma: higher makes soft areas more transparent (0..255, 0 none)", 255,
         &ParameterRecord::Gamma),
    Byte("Protection", "Keeps the colours of opaque pixels that resemble the screen (0..255)", 255,
         &ParameterRecord::Protection),
    Byte("RestoreR", "Light colour, red: light added back where the screen colour is taken out (0..255)", 255,
         &ParameterRecord::RestoreR),
    Byte("RestoreG", "Light colour, green (0..255)", 255, &ParameterRecord::RestoreG),
    Byte("RestoreB", "Light colour, blue (0..255)", 255, &ParameterRecord::RestoreB),
    Word("CorrectionR", "Colour correction vector, red (-255..255)", -255, 255, &ParameterRecord::CorrectionR),
    Word("CorrectionG", "Colour correction vector, green (-255..255)", -255, 255, &ParameterRecord::CorrectionG),
    Word("CorrectionB", "Colour correction vector, blue (-255..255)", -255, 255, &ParameterRecord::CorrectionB),
    Byte("BlueRemoval", "Screen removal: how strongly the screen colour is taken out (0..255)", 255,
         &ParameterRecord::BlueRemoval),
    Byte("MatteBlur", "Gaussian blur radius of the matte, in pixels (0..255)", 255, &ParameterRecord::MatteBlur),
    Word("MatteChoke", "Grows (positive) or shrinks (negative) the matte's opaque part, in pixels (-128..128)", -128,
         128, &ParameterRecord::MatteChoke),
};

// The settings files' section, and the last values' key in the store.
constexpr char kSection[] = "TavRisk Settings";
constexpr char kLastValuesKey[] = "SOFTWARE\\Brackwater Works\\Tavrisk\\GIMP";
constexpr char kSettingsValue[] = "Settings";
constexpr char kShowMatteValue[] = "ShowMatte";
constexpr char kSettingsPathValue[] = "SettingsPath";

std::string Range(const Setting& s) { return std::to_string(s.low) + ".." + std::to_string(s.high); }

// The store's text of the settings: "Key=value" for each, blank-separated.
std::string StoredText(const ParameterRecord& record) {
    std::string text;
    for (const Setting& s : kSettings) text += std::string(s.key) + "=" + std::to_string(s.Get(record)) + " ";
    return text + kShowMatteValue + "=" + std::to_string(record.ShowMatte);
}

bool ReadText(platform::RegistryKey key, const char* name, std::string* text) {
    char buffer[1024] = {};
    uint32_t type = 0, size = sizeof buffer - 1;
    if (!platform::QueryRegistryValue(key, name, buffer, &type, &size) || type != platform::kRegistryText) return false;
    text->assign(buffer, strnlen(buffer, size));
    return true;
}

void WriteText(platform::RegistryKey key, const char* name, const std::string& text) {
    platform::SetRegistryValue(key, name, platform::kRegistryText, text.c_str(), uint32_t(text.size() + 1));
}

}  // namespace

const Setting* SettingTable() { return kSettings; }

std::string ArgumentName(const Setting& setting) {
    std::string name;
    for (const char* p = setting.key; *p != '\0'; ++p) {
        if (std::isupper(static_cast<unsigned char>(*p)) && p != setting.key) name += '-';
        name += char(std::tolower(static_cast<unsigned char>(*p)));
    }
    return name;
}

void Settings::ApplyTo(ParameterRecord* record) const {
    for (int i = 0; i < kSettingCount; ++i)
        if (given[i]) kSettings[i].Set(*record, values[i]);
    if (showMatteGiven) record->ShowMatte = showMatte ? 1 : 0;
    if (!settingsPath.empty()) {
        std::memset(record->SettingsPath, 0, sizeof record->SettingsPath);
        settingsPath.copy(record->SettingsPath, sizeof record->SettingsPath - 1);
    }
}

Settings Settings::Of(const ParameterRecord& record) {
    Settings s;
    for (int i = 0; i < kSettingCount; ++i) {
        s.values[i] = kSettings[i].Get(record);
        s.given[i] = true;
    }
    s.showMatte = record.ShowMatte != 0;
    s.showMatteGiven = true;
    s.settingsPath.assign(record.SettingsPath, strnlen(record.SettingsPath, sizeof record.SettingsPath));
    return s;
}

bool FromArguments(const int32_t* arguments, Settings* settings, std::string* error) {
    for (int i = 0; i < kSettingCount; ++i) {
        const Setting& s = kSettings[i];
        if (arguments[i] < s.low || arguments[i] > s.high) {
            *error = ArgumentName(s) + " is " + std::to_string(arguments[i]) + "; it must lie in " + Range(s);
            return false;
        }
        settings->values[i] = arguments[i];
        settings->given[i] = true;
    }
    return true;
}

bool FromSettingsFile(const std::string& path, Settings* settings, std::string* error) {
    if (!platform::CanReadIniFile(path.c_str())) {
        *error = "cannot read the settings file " + path;
        return false;
    }
    // A key the file lacks keeps its value; a number beyond a key's range is
    // held to it, as the keyer holds it.
    constexpr char kMissing[] = "\x7f";
    bool any = false;
    for (int i = 0; i < kSettingCount; ++i) {
        char text[platform::kIniIntegerTextSize];
        platform::ReadIniString(path.c_str(), kSection, kSettings[i].key, kMissing, text, sizeof text);
        if (std::strcmp(text, kMissing) == 0) continue;
        const int64_t value = platform::ParseIniInteger(text);
        settings->values[i] = int32_t(std::clamp<int64_t>(value, kSettings[i].low, kSettings[i].high));
        settings->given[i] = any = true;
    }
    if (!any) {
        *error = path + " holds no Tavrisk settings (no [" + std::string(kSection) + "] keys)";
        return false;
    }
    settings->settingsPath = path;
    return true;
}

Settings LastSettings() {
    Settings s;
    platform::RegistryKey key = platform::CreateRegistryKey(platform::RegistryRoot::CurrentUser, kLastValuesKey);
    if (key == platform::kNoRegistryKey) return s;
    std::string text;
    if (ReadText(key, kSettingsValue, &text)) {
        for (size_t at = 0; at < text.size();) {
            const size_t end = std::min(text.find(' ', at), text.size());
            const std::string item = text.substr(at, end - at);
            at = end + 1;
            const size_t equals = item.find('=');
            if (equals == std::string::npos) continue;
            const std::string name = item.substr(0, equals);
            const int64_t value = platform::ParseIniInteger(item.c_str() + equals + 1);
            for (int i = 0; i < kSettingCount; ++i)
                if (name == kSettings[i].key) {
                    s.values[i] = int32_t(std::clamp<int64_t>(value, kSettings[i].low, kSettings[i].high));
                    s.given[i] = true;
                }
            if (name == kShowMatteValue) s.showMatte = value != 0, s.showMatteGiven = true;
        }
    }
    ReadText(key, kSettingsPathValue, &s.settingsPath);
    platform::CloseRegistryKey(key);
    return s;
}

void StoreLastSettings(const ParameterRecord& record) {
    platform::RegistryKey key = platform::CreateRegistryKey(platform::RegistryRoot::CurrentUser, kLastValuesKey);
    if (key == platform::kNoRegistryKey) return;
    WriteText(key, kSettingsValue, StoredText(record));
    WriteText(key, kSettingsPathValue,
              std::string(record.SettingsPath, strnlen(record.SettingsPath, sizeof record.SettingsPath - 1)));
    platform::CloseRegistryKey(key);
}

}  // namespace tav::gimp
