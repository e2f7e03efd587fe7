#include "ui/settings_format.h"

#include <array>
#include <cstdio>

#include "platform/ini_file.h"
#include "platform/names.h"

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

}  // namespace tav
