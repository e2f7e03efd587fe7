#include "ui/registry.h"

#include <cstdio>
#include <cstring>

namespace tav {
namespace {

constexpr char kMachineRoot[] = "HKEY_LOCAL_MACHINE";  // 18 characters
constexpr char kUserRoot[] = "HKEY_CURRENT_USER";      // 17 characters

// The subkey after a root name of `length` characters: the character after
// the name is skipped whatever it is, unless the path ends there.
const char* SubkeyAfter(const char* path, size_t length) {
    return path[length] == '\0' ? path + length : path + length + 1;
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Text of `size` bytes, ending at the first NUL if any, as an integer;
// saturates at the 32-bit limits.
int32_t TextToInt(const char* text, uint32_t size) {
    uint32_t i = 0;
    while (i < size && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t magnitude = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) magnitude = int64_t(INT32_MAX) + 1;
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) value = INT32_MAX;
    return int32_t(value);
}

// A text value into `buffer` of kSettingsTextSize characters, NUL-terminated.
// Fails for a missing value, another type, or text that does not fit with
// its terminator.
bool ReadSettingsText(const char* path, const char* name, char* buffer) {
    buffer[0] = '\0';
    uint32_t type = 0;
    uint32_t size = kSettingsTextSize;
    if (!QuerySettingsValue(path, name, buffer, &type, &size) || type != platform::kRegistryText) {
        buffer[0] = '\0';
        return false;
    }
    if (size > 0 && buffer[size - 1] == '\0') return true;
    if (size < kSettingsTextSize) {
        buffer[size] = '\0';
        return true;
    }
    buffer[0] = '\0';
    return false;
}

}  // namespace

platform::RegistryKey OpenSettingsKey(const char* path) {
    if (path == nullptr) return platform::kNoRegistryKey;
    if (std::strncmp(path, kMachineRoot, sizeof kMachineRoot - 1) == 0)
        return platform::CreateRegistryKey(platform::RegistryRoot::LocalMachine,
                                           SubkeyAfter(path, sizeof kMachineRoot - 1));
    if (std::strncmp(path, kUserRoot, sizeof kUserRoot - 1) == 0)
        return platform::CreateRegistryKey(platform::RegistryRoot::CurrentUser,
                                           SubkeyAfter(path, sizeof kUserRoot - 1));
    return platform::kNoRegistryKey;
}

int QuerySettingsValue(const char* path, const char* name, void* data, uint32_t* type, uint32_t* size) {
    platform::RegistryKey key = OpenSettingsKey(path);
    if (key == platform::kNoRegistryKey) return 0;
    bool read = platform::QueryRegistryValue(key, name, data, type, size);
    platform::CloseRegistryKey(key);
    return read ? 1 : 0;
}

int32_t ConvertSettingsInt(bool read, uint32_t type, const void* data, uint32_t size, int32_t defaultValue) {
    if (!read || data == nullptr) return defaultValue;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (type == platform::kRegistryText) return TextToInt(static_cast<const char*>(data), size);
    if (type == platform::kRegistryNumber) {
        uint32_t number = 0;
        for (uint32_t i = 0; i < 4 && i < size; ++i) number |= uint32_t(bytes[i]) << (8 * i);
        return int32_t(number);
    }
    return defaultValue;
}

int32_t ReadSettingsInt(const char* path, const char* name, int32_t defaultValue) {
    char buffer[kSettingsIntBufferSize] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    int read = QuerySettingsValue(path, name, buffer, &type, &size);
    if (size > sizeof buffer) size = sizeof buffer;
    return ConvertSettingsInt(read != 0, type, buffer, size, defaultValue);
}

int WriteSettingsValue(const char* path, const char* name, const void* data, uint32_t type, uint32_t size) {
    platform::RegistryKey key = OpenSettingsKey(path);
    if (key == platform::kNoRegistryKey) return 0;
    bool written = platform::SetRegistryValue(key, name, type, data, size);
    platform::CloseRegistryKey(key);
    return written ? 1 : 0;
}

int WriteSettingsInt(const char* path, const char* name, int32_t value) {
    if (value >= 0) {
        auto number = uint32_t(value);
        const uint8_t bytes[4] = {uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
                                  uint8_t(number >> 24)};
        return WriteSettingsValue(path, name, bytes, platform::kRegistryNumber, sizeof bytes);
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d", int(value));
    return WriteSettingsValue(path, name, text, platform::kRegistryText, uint32_t(length + 1));
}

bool LookUpParamDirectory(char* folder) {
    if (ReadSettingsText(kUserSettingsKey, kParamDirectoryValue, folder) && folder[0] != '\0') return true;
    return ReadSettingsText(kMachineSettingsKey, kParamDirectoryValue, folder) && folder[0] != '\0';
}

void LookUpHelpFile(char* path) {
    if (!ReadSettingsText(kMachineSettingsKey, kHelpFileValue, path))
        std::snprintf(path, kSettingsTextSize, "%s", kDefaultHelpFile);
}

}  // namespace tav
