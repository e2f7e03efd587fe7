#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tav::platform {

const char* LastFolderSeparator(const char* path) {
    if (path == nullptr) return nullptr;
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    if (slash == nullptr) return backslash;
    if (backslash == nullptr) return slash;
    return slash > backslash ? slash : backslash;
}

void DescribeLastFileError(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return;
    std::snprintf(buffer, size, "%s", std::strerror(errno));
}

}  // namespace tav::platform
