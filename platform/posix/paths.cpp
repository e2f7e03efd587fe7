#include "platform/paths.h"

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

}  // namespace tav::platform
