#include "platform/paths.h"

#include <cstring>

namespace tav::platform {

const char* LastFolderSeparator(const char* path) {
    return path != nullptr ? std::strrchr(path, '\\') : nullptr;
}

}  // namespace tav::platform
