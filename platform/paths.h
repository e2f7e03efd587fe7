// Paths of the file system.
#pragma once

#include <cstddef>

namespace tav::platform {

// The last folder separator of `path`, or null when it has none. The
// separators are '\\' and, on POSIX systems, '/' as well.
const char* LastFolderSeparator(const char* path);

// The system's words for why the last file operation of this thread failed,
// into `buffer` of `size` characters (cut to fit, NUL-terminated).
void DescribeLastFileError(char* buffer, size_t size);

}  // namespace tav::platform
