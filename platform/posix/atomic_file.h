// Whole-file replacement for the POSIX stand-ins that keep files of their
// own (the settings stores, initialisation files): a crash leaves either
// the old file or the new one, never a mix.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace tav::platform::posix {

// Writes `text` to a new file beside `target` (created with 0666 less the
// umask, or with `mode` when given), syncs it, renames it over `target`
// and syncs the folder. False, with `target` untouched, on any failure.
bool ReplaceFileAtomically(const std::string& target, const std::string& text,
                           std::optional<mode_t> mode = std::nullopt);

}  // namespace tav::platform::posix
