// The registry settings store: a few values that outlive the host's
// parameters handle (dialog position, last settings folder, help file,
// debugging switch), in a key of our own under the current user's and the
// machine's branches. Every operation opens the key, does one thing and
// closes it; opening creates the key when it is missing. No failure is
// reported: reads give their defaults, writes give 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/registry.h"

namespace tav {

// A settings key path is a root name, one separator character (whatever it
// is) and the subkey. The roots are "HKEY_LOCAL_MACHINE" and
// "HKEY_CURRENT_USER"; any other start names no key.
inline constexpr char kUserSettingsKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Brackwater Works\\Tavrisk";
inline constexpr char kMachineSettingsKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwater Works\\Tavrisk";

// Value names.
inline constexpr char kDebugValue[] = "debug";
inline constexpr char kPosXValue[] = "PosX";
inline constexpr char kPosYValue[] = "PosY";
inline constexpr char kParamDirectoryValue[] = "ParamDirectory";
inline constexpr char kHelpFileValue[] = "HelpFile";

// PosX and PosY when no position is stored.
constexpr int32_t kNoStoredPosition = -9999;
inline constexpr char kDefaultHelpFile[] = "TAVRSK.HLP";
// Capacity of the buffers ParamDirectory and HelpFile are read into, and of
// the buffer an integer value is read into.
constexpr size_t kSettingsTextSize = 256;
constexpr uint32_t kSettingsIntBufferSize = 16;

// The key, created when missing; kNoRegistryKey for a null path, an unknown
// root, or a key that cannot be created or fully opened. The caller closes
// it with platform::CloseRegistryKey.
platform::RegistryKey OpenSettingsKey(const char* path);

// Reads `name` into `data`: `*size` is the capacity on entry and the value's
// size on return; `type` receives the value type (may be null). 1 when read,
// 0 otherwise (also when the value does not fit). Text is returned as stored,
// without a terminating NUL when it was stored without one.
int QuerySettingsValue(const char* path, const char* name, void* data, uint32_t* type, uint32_t* size);

// A value read into a 16-byte buffer: text gives its decimal number (leading
// white space, an optional sign, then digits up to the first other
// character; no digits give 0), a 32-bit number gives itself, anything else
// or no value gives `defaultValue`.
int32_t ReadSettingsInt(const char* path, const char* name, int32_t defaultValue);

// The conversion ReadSettingsInt applies to the result of QuerySettingsValue:
// `read` false (the query failed) gives `defaultValue`. `size` bytes of
// `data` are looked at; text need not end with a NUL.
int32_t ConvertSettingsInt(bool read, uint32_t type, const void* data, uint32_t size, int32_t defaultValue);

// Stores `size` bytes of `data` as `name` with `type`. 1 when written.
int WriteSettingsValue(const char* path, const char* name, const void* data, uint32_t type, uint32_t size);

// 0 or more: a 4-byte number; negative: the "%d" text with its NUL. 1 when
// written.
int WriteSettingsInt(const char* path, const char* name, int32_t value);

// ParamDirectory into `folder` (kSettingsTextSize characters): the user's
// key, then the machine's; only text counts and empty text counts as absent.
// False, with `folder` empty, when neither key holds one.
bool LookUpParamDirectory(char* folder);

// HelpFile of the machine's key into `path` (kSettingsTextSize characters)
// when it holds text, else "TAVRSK.HLP".
void LookUpHelpFile(char* path);

}  // namespace tav
