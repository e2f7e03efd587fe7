// Whole-file reading and replacement for the POSIX stand-ins that keep files
// of their own (the settings stores, initialisation files). A replacement
// leaves, after a crash, either the old file or the new one, never a mix.
#pragma once

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

// Writes `text` to a new file beside `target` (created with 0666 less the
// umask, or with `mode` when given), syncs it, renames it over `target`
// and syncs the folder. False, with `target` untouched, on any failure.
bool ReplaceFileAtomically(const std::string& target, const std::string& text,
                           std::optional<mode_t> mode = std::nullopt);

}  // namespace tav::platform::posix
