// Paths of the file system.
#pragma once

namespace tav::platform {

// The last folder separator of `path`, or null when it has none. The
// separators are '\\' and, on POSIX systems, '/' as well.
const char* LastFolderSeparator(const char* path);

}  // namespace tav::platform
