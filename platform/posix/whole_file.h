// Whole-file reading and replacement for the POSIX stand-ins that keep files
// of their own (the settings stores, initialisation files). A replacement
// leaves, after a crash, either the old file or the new one, never a mix.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace tav::platform::posix {

enum class FileRead { Missing, Read, Failed };

// The whole of the regular file at `path` into `text`, with its permission
// bits into `mode` when given. Missing when there is no such file; Failed
// for anything else that is not a regular file of at most `maxBytes` bytes,
// or that cannot be read.
FileRead ReadWholeFile(const char* path, size_t maxBytes, std::string* text, mode_t* mode);

// The file that a write to `path` lands in: `path` itself or, when `path` is
// a symbolic link, the file its chain of links ends at, which need not exist
// yet. Replacing a file through a link writes this file and keeps the link.
struct WriteTarget {
    std::string path;
    bool exists = false;
    struct stat info {};  // its lstat, when it exists
};

// Follows the links from `path`; false with errno for a chain of more than
// 40 links or a file that cannot be looked at.
bool FollowLinks(const std::string& path, WriteTarget* target);

// Writes `text` to a new file beside `target` (created with 0666 less the
// umask, or with `mode` when given), syncs it, renames it over `target`
// and syncs the folder. A link is written through: the file it leads to is
// replaced and the link stays. False, with `target` untouched, on any
// failure, and when `target` is something other than a regular file (a
// folder, a device, a FIFO or a socket: EINVAL).
bool ReplaceFileAtomically(const std::string& target, const std::string& text,
                           std::optional<mode_t> mode = std::nullopt);

}  // namespace tav::platform::posix
