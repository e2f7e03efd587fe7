// The common dialogs that ask the user for a file to open or to save to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/message_box.h"

namespace tav::platform {

constexpr size_t kFileNameSize = 256;

// Flags, with the system's own values.
constexpr uint32_t kFileDialogOverwritePrompt = 0x0002;  // ask before replacing a file
constexpr uint32_t kFileDialogHideReadOnly = 0x0004;     // no "read only" box
constexpr uint32_t kFileDialogNoChangeDir = 0x0008;      // keep the current folder
constexpr uint32_t kFileDialogPathMustExist = 0x0800;    // the folder must exist
constexpr uint32_t kFileDialogFileMustExist = 0x1000;    // the file must exist

struct FileDialogRequest {
    WindowHandle owner;
    const char* title;
    // Pairs of description and pattern ("*.tvk"), each NUL-terminated, the
    // list ended by an empty description; the first pair is selected.
    const char* filters;
    // Appended, after a dot, to a typed name without an extension; null for
    // none.
    const char* defaultExtension;
    // Where the dialog starts; null for the dialog's own choice.
    const char* initialFolder;
    uint32_t flags;
    // In: the name proposed (may be empty); out: the full path chosen.
    char* fileName;
    size_t fileNameSize;
};

// True when the user chose a file; false when they cancelled or the dialog
// failed (also when the path does not fit `fileName`), and then `fileName`
// is unchanged.
bool ShowOpenFileDialog(const FileDialogRequest& request);
bool ShowSaveFileDialog(const FileDialogRequest& request);

}  // namespace tav::platform
