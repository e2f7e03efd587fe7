// Settings files (*.tvk): initialisation files whose section
// "TavRisk Settings" holds a format version and one key for each stored
// field of the Parameter record, as decimal integers. The dialog's "Load..."
// and "Save..." buttons use LoadSettingsFile and SaveSettingsFile; the
// command-line keyer reads and writes the files directly.
#pragma once

#include <cstdint>
#include <string_view>

#include "interface/parameter_record.h"
#include "platform/message_box.h"

namespace tav {

struct PluginState;

inline constexpr char kSettingsSection[] = "TavRisk Settings";
inline constexpr char kSettingsVersionKey[] = "Version";
constexpr int32_t kSettingsFileVersion = 1;
inline constexpr char kSettingsFileExtension[] = "tvk";

// Asks for a file with the open dialog (owned by `dialog`, starting in
// ParamDirectory) and loads it into the Parameter record: 1 when a file was
// chosen and read, 0 when the user cancelled (the record is then untouched).
// A file of a newer format version is reported with message 205 and loaded
// all the same. SettingsPath becomes the file's path; ParamDirectory is left
// as it is.
int LoadSettingsFile(platform::WindowHandle dialog, PluginState* state);

// Asks for a file with the save dialog, proposing SettingsPath (and starting
// in ParamDirectory when SettingsPath is empty), writes the settings into it
// and remembers its folder in ParamDirectory. Cancel changes nothing. A file
// that cannot be written is reported in a message box owned by the dialog,
// naming it and the reason, and ParamDirectory is left as it was.
void SaveSettingsFile(platform::WindowHandle dialog, PluginState* state);

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
