// Initialisation files through the system's private-profile functions. A
// relative path is made full first: the system would otherwise look for it
// in the Windows folder.
#include "platform/ini_file.h"

#include <windows.h>

namespace tav::platform {
namespace {

bool FullPath(const char* path, char (&full)[MAX_PATH]) {
    if (path == nullptr || *path == '\0') return false;
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH;
}

}  // namespace

size_t ReadIniString(const char* path, const char* section, const char* key, const char* fallback,
                     char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    if (fallback == nullptr) fallback = "";
    if (size > 0x7FFFFFFF) size = 0x7FFFFFFF;
    char full[MAX_PATH];
    if (section == nullptr || key == nullptr || !FullPath(path, full)) {
        lstrcpynA(buffer, fallback, int(size));
        return lstrlenA(buffer);
    }
    return GetPrivateProfileStringA(section, key, fallback, buffer, DWORD(size), full);
}

bool WriteIniStrings(const char* path, const char* section, const char* const* keys,
                     const char* const* values, size_t count) {
    if (count > 0 && (keys == nullptr || values == nullptr)) return false;
    char full[MAX_PATH];
    if (!FullPath(path, full)) return false;
    for (size_t i = 0; i < count; ++i)
        if (!CanStoreIniEntry(section, keys[i], values[i])) return false;
    bool ok = true;
    for (size_t i = 0; i < count; ++i)
        ok = WritePrivateProfileStringA(section, keys[i], values[i], full) != 0 && ok;
    return ok;
}

bool WriteIniString(const char* path, const char* section, const char* key, const char* value) {
    return WriteIniStrings(path, section, &key, &value, 1);
}

bool CanReadIniFile(const char* path) {
    char full[MAX_PATH];
    if (!FullPath(path, full)) return false;
    HANDLE file = CreateFileA(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace tav::platform
