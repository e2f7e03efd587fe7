// The registry: keys under the current user's and the machine's branches,
// holding named values of a type and a few bytes.
#pragma once

#include <cstdint>

namespace tav::platform {

using RegistryKey = intptr_t;  // kNoRegistryKey: none
constexpr RegistryKey kNoRegistryKey = 0;

enum class RegistryRoot { CurrentUser, LocalMachine };

// Value types, with the system's own codes.
constexpr uint32_t kRegistryText = 1;            // REG_SZ: text with its terminating NUL
constexpr uint32_t kRegistryExpandableText = 2;  // REG_EXPAND_SZ
constexpr uint32_t kRegistryBinary = 3;          // REG_BINARY
constexpr uint32_t kRegistryNumber = 4;          // REG_DWORD: 32 bits, little-endian
constexpr uint32_t kRegistryTextList = 7;        // REG_MULTI_SZ
constexpr uint32_t kRegistryNumber64 = 11;       // REG_QWORD

// Creates `subkey` of `root`, or opens it when it exists, for full access
// (reading and writing). Returns kNoRegistryKey when the key can be neither
// created nor fully opened, for example without the rights to.
RegistryKey CreateRegistryKey(RegistryRoot root, const char* subkey);

// True when the key exists; never creates it.
bool RegistryKeyExists(RegistryRoot root, const char* subkey);

// Reads value `name` (case-insensitive; "" is the key's default value).
// `*size` is the capacity of `data` on entry and the value's size on return,
// also when the value does not fit, in which case the read fails. With
// `data` null only the size and type are read. `type` may be null. Fails for
// a missing value; text is given as stored, and need not end with a NUL.
bool QueryRegistryValue(RegistryKey key, const char* name, void* data, uint32_t* type, uint32_t* size);

// Stores value `name` with `type` and the `size` bytes at `data`, replacing
// any value of that name.
bool SetRegistryValue(RegistryKey key, const char* name, uint32_t type, const void* data, uint32_t size);

// kNoRegistryKey is ignored.
void CloseRegistryKey(RegistryKey key);

}  // namespace tav::platform
