#include "platform/paths.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace tav::platform {

const char* LastFolderSeparator(const char* path) {
    return path != nullptr ? std::strrchr(path, '\\') : nullptr;
}

void DescribeLastFileError(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return;
    const DWORD code = GetLastError();
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             DWORD(size), nullptr);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == '.')) buffer[--n] = '\0';
    if (n == 0) std::snprintf(buffer, size, "error %lu", static_cast<unsigned long>(code));
}

}  // namespace tav::platform
