// Ending the keyer by a signal without leaving anything behind: neither the
// output being written nor the working files of the plug-in.
#pragma once

#include <string>

namespace tav::cli {

// Handles SIGINT, SIGTERM and SIGHUP (those not ignored when the program
// started): removes the partial output and the process's temporary files,
// then ends the process by the same signal.
void InstallInterruptCleanup();

// A file written under a temporary name beside its final place and renamed
// into it when complete. Until then a signal that ends the process removes
// it, on whichever thread its handler runs. One at a time.
class PartialFile {
public:
    // Creates "FOLDER/.NAME.XXXXXX" for `path` (FOLDER/NAME); -1 with errno
    // on failure. The descriptor belongs to the caller.
    int Create(const std::string& path);
    // Renames the file into `path`; false with errno on failure (the file is
    // then removed).
    bool Commit();
    // Removes the file.
    void Discard();
    ~PartialFile() { Discard(); }

private:
    std::string path_;
    bool active_ = false;
};

}  // namespace tav::cli
