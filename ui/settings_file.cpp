#include "ui/settings_file.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "runtime/plugin_state.h"
#include "platform/file_dialog.h"
#include "platform/paths.h"
#include "platform/ini_file.h"
#include "platform/module.h"
#include "platform/names.h"
#include "platform/registry.h"
#include "resources/strings.h"
#include "ui/registry.h"
#include "runtime/parameters.h"

namespace tav {
namespace {

// One key of the file. 8-bit fields without a range store the low 8 bits of
// the number read; the others are clamped to [low, high].
struct SettingsKey {
    const char* name;
    uint8_t ParameterRecord::*byteField;
    int32_t ParameterRecord::*wordField;
    bool lowBits;
    int32_t low;
    int32_t high;
};

constexpr SettingsKey Low8(const char* name, uint8_t ParameterRecord::*field) {
    return {name, field, nullptr, true, 0, 255};
}
constexpr SettingsKey Byte(const char* name, uint8_t ParameterRecord::*field) {
    return {name, field, nullptr, false, 0, 255};
}
constexpr SettingsKey Word(const char* name, int32_t ParameterRecord::*field, int32_t low, int32_t high) {
    return {name, nullptr, field, false, low, high};
}

// In the order of the file.
constexpr SettingsKey kKeys[] = {
    Low8("ScreenColor", &ParameterRecord::ScreenColor),
    Low8("OutputMethod", &ParameterRecord::OutputMethod),
    Low8("DynamicRange", &ParameterRecord::DynamicRange),
    Byte("ForceBlack", &ParameterRecord::ForceBlack),
    Byte("ForceWhite", &ParameterRecord::ForceWhite),
    Byte("Gamma", &ParameterRecord::Gamma),
    Byte("Protection", &ParameterRecord::Protection),
    Byte("RestoreR", &ParameterRecord::RestoreR),
    Byte("RestoreG", &ParameterRecord::RestoreG),
    Byte("RestoreB", &ParameterRecord::RestoreB),
    Word("CorrectionR", &ParameterRecord::CorrectionR, -255, 255),
    Word("CorrectionG", &ParameterRecord::CorrectionG, -255, 255),
    Word("CorrectionB", &ParameterRecord::CorrectionB, -255, 255),
    Byte("BlueRemoval", &ParameterRecord::BlueRemoval),
    Byte("MatteBlur", &ParameterRecord::MatteBlur),
    Word("MatteChoke", &ParameterRecord::MatteChoke, -128, 128),
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

constexpr char kFilters[] = "TavRisk Files\0*.tvk\0All Files\0*.*\0";
constexpr char kLoadTitle[] = "Load Settings From File";
constexpr char kSaveTitle[] = "Save Settings To File";
constexpr size_t kMessageSize = 256;

int64_t FieldValue(const ParameterRecord& record, const SettingsKey& key) {
    return key.byteField != nullptr ? int64_t(record.*key.byteField) : int64_t(record.*key.wordField);
}

// Stores `value` by the key's load rule; returns what was stored.
int64_t StoreValue(ParameterRecord* record, const SettingsKey& key, int64_t value) {
    int64_t stored = key.lowBits        ? (value & 0xFF)
                     : value < key.low  ? key.low
                     : value > key.high ? key.high
                                        : value;
    if (key.byteField != nullptr)
        record->*key.byteField = uint8_t(stored);
    else
        record->*key.wordField = int32_t(stored);
    return stored;
}

// True when the file's format version, taken as an unsigned 32-bit number,
// is newer than ours; a missing Version counts as ours.
bool HasNewerVersion(const char* path) {
    int64_t version =
        platform::ReadIniInteger(path, kSettingsSection, kSettingsVersionKey, kSettingsFileVersion);
    return uint32_t(uint64_t(version)) > uint32_t(kSettingsFileVersion);
}

// Every key, in the file's order, with the field's current value as default.
void ReadKeys(const char* path, ParameterRecord* record) {
    for (const SettingsKey& key : kKeys)
        StoreValue(record, key,
                   platform::ReadIniInteger(path, kSettingsSection, key.name, FieldValue(*record, key)));
}

// What the load and save dialogs ask alike: owner, filters, the starting
// folder when there is one, and the name buffer.
platform::FileDialogRequest SettingsDialogRequest(platform::WindowHandle dialog, const char* title,
                                                  const char* folder, char* fileName, size_t fileNameSize) {
    platform::FileDialogRequest request{};
    request.owner = dialog;
    request.title = title;
    request.filters = kFilters;
    request.initialFolder = folder;
    request.flags = platform::kFileDialogHideReadOnly | platform::kFileDialogNoChangeDir;
    request.fileName = fileName;
    request.fileNameSize = fileNameSize;
    return request;
}

ParameterRecord* RecordOf(PluginState* state) {
    return state != nullptr ? GetParameters(state->filterRecord) : nullptr;
}

}  // namespace

bool ReadSettingsFile(const char* path, ParameterRecord* record, bool* newerVersion) {
    if (newerVersion != nullptr) *newerVersion = false;
    if (record == nullptr || !platform::CanReadIniFile(path)) return false;
    bool newer = HasNewerVersion(path);
    if (newerVersion != nullptr) *newerVersion = newer;
    ReadKeys(path, record);
    return true;
}

bool WriteSettingsFile(const char* path, const ParameterRecord& record) {
    char texts[kKeyCount + 1][24];
    const char* keys[kKeyCount + 1];
    const char* values[kKeyCount + 1];
    keys[0] = kSettingsVersionKey;
    std::snprintf(texts[0], sizeof texts[0], "%ld", long(kSettingsFileVersion));
    for (size_t i = 0; i < kKeyCount; ++i) {
        keys[i + 1] = kKeys[i].name;
        std::snprintf(texts[i + 1], sizeof texts[i + 1], "%ld", long(FieldValue(record, kKeys[i])));
    }
    for (size_t i = 0; i <= kKeyCount; ++i) values[i] = texts[i];
    return platform::WriteIniStrings(path, kSettingsSection, keys, values, kKeyCount + 1);
}

SettingsKeyResult ApplySettingsValue(ParameterRecord* record, std::string_view key, int64_t value,
                                     int64_t* stored) {
    for (const SettingsKey& entry : kKeys) {
        if (!platform::SameName(key, entry.name)) continue;
        int64_t result = StoreValue(record, entry, value);
        if (stored != nullptr) *stored = result;
        return result == value ? SettingsKeyResult::Stored : SettingsKeyResult::Clamped;
    }
    return SettingsKeyResult::Unknown;
}

const char* const* SettingsKeyNames() {
    static const std::array<const char*, kKeyCount + 1> names = [] {
        std::array<const char*, kKeyCount + 1> list{};
        for (size_t i = 0; i < kKeyCount; ++i) list[i] = kKeys[i].name;
        return list;
    }();
    return names.data();
}

int LoadSettingsFile(platform::WindowHandle dialog, PluginState* state) {
    ParameterRecord* parameters = RecordOf(state);
    if (parameters == nullptr) return 0;
    ParameterRecord working = *parameters;

    char folder[kSettingsTextSize];
    bool haveFolder = LookUpParamDirectory(folder);
    platform::FileDialogRequest request = SettingsDialogRequest(
        dialog, kLoadTitle, haveFolder ? folder : nullptr, working.SettingsPath, sizeof working.SettingsPath);
    request.flags |= platform::kFileDialogFileMustExist;
    if (!platform::ShowOpenFileDialog(request)) return 0;
    working.SettingsPath[sizeof working.SettingsPath - 1] = '\0';

    if (HasNewerVersion(working.SettingsPath)) {
        char text[kMessageSize];
        platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, text, int(sizeof text));
        platform::ShowMessageBox(dialog, text, nullptr, platform::MessageIcon::Information);
    }
    ReadKeys(working.SettingsPath, &working);
    *parameters = working;
    return 1;
}

void SaveSettingsFile(platform::WindowHandle dialog, PluginState* state) {
    ParameterRecord* parameters = RecordOf(state);
    if (parameters == nullptr) return;

    // The dialog works on a copy, so that a cancel leaves SettingsPath as
    // it was whatever the dialog did to its buffer.
    char path[kSettingsPathSize];
    std::memcpy(path, parameters->SettingsPath, sizeof path);
    path[sizeof path - 1] = '\0';
    char folder[kSettingsTextSize];
    bool haveFolder = path[0] == '\0' && LookUpParamDirectory(folder);
    platform::FileDialogRequest request =
        SettingsDialogRequest(dialog, kSaveTitle, haveFolder ? folder : nullptr, path, sizeof path);
    request.defaultExtension = kSettingsFileExtension;
    request.flags |= platform::kFileDialogPathMustExist;
    if (!platform::ShowSaveFileDialog(request)) return;
    path[sizeof path - 1] = '\0';
    std::memcpy(parameters->SettingsPath, path, sizeof path);

    if (!WriteSettingsFile(parameters->SettingsPath, *parameters)) {
        // The user would believe the settings saved: say which file and why.
        char reason[128], format[kMessageSize], text[kMessageSize + kSettingsPathSize + 128];
        platform::DescribeLastFileError(reason, sizeof reason);
        platform::LoadStringResource(platform::ThisModule(), IDS_SAVE_FAILED, format, int(sizeof format));
        std::snprintf(text, sizeof text, format, parameters->SettingsPath, reason);
        char caption[64];
        platform::LoadStringResource(platform::ThisModule(), IDS_CAPTION, caption, int(sizeof caption));
        platform::ShowMessageBox(dialog, text, caption, platform::MessageIcon::Stop);
        return;
    }

    // The folder without its trailing separator; a bare file name gives the
    // empty text.
    const char* separator = platform::LastFolderSeparator(path);
    size_t length = separator != nullptr ? size_t(separator - path) : 0;
    path[length] = '\0';
    WriteSettingsValue(kUserSettingsKey, kParamDirectoryValue, path, platform::kRegistryText,
                       uint32_t(length + 1));
}

}  // namespace tav
