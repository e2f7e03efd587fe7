// The settings files' format (*.tvk): initialisation files whose section
// "TavRisk Settings" holds a format version and one key for each stored
// field of the Parameter record, as decimal integers. The dialog's "Load..."
// and "Save..." (ui/settings_file.h) and the command-line keyer read and
// write the files with these.
#pragma once

#include <cstdint>
#include <string_view>

#include "interface/parameter_record.h"

namespace tav {

inline constexpr char kSettingsSection[] = "TavRisk Settings";
inline constexpr char kSettingsVersionKey[] = "Version";
constexpr int32_t kSettingsFileVersion = 1;
inline constexpr char kSettingsFileExtension[] = "tvk";

// Reads the keys of the file into `*record` with the load rules: a missing
// key keeps its field, 8-bit keys store the low 8 bits of the number, the
// others are clamped to their ranges, a value that is not a number reads as
// 0. `*newerVersion` (may be null) tells whether the file's format version is
// newer than ours. Shows no message. False only when the file cannot be
// opened for reading.
bool ReadSettingsFile(const char* path, ParameterRecord* record, bool* newerVersion);

// Writes Version and every key, in the file's order, into the section of
// `path` (created when missing), replacing those keys and keeping every other
// line of the file. False when the file cannot be written.
bool WriteSettingsFile(const char* path, const ParameterRecord& record);

enum class SettingsKeyResult { Unknown, Stored, Clamped };

// Applies one settings key (its name in any letter case; not "Version") with
// the load rule of a file. `*stored` (may be null) receives the value stored;
// Clamped when it differs from `value`. Unknown leaves the record untouched.
SettingsKeyResult ApplySettingsValue(ParameterRecord* record, std::string_view key, int64_t value,
                                     int64_t* stored);

// The settings keys in the order of the file, without Version; the list ends
// with a null.
const char* const* SettingsKeyNames();

}  // namespace tav
