// File dialogs on POSIX: there is no window system to ask the user in, so
// every dialog answers cancel.
#include "platform/file_dialog.h"

namespace tav::platform {

bool ShowOpenFileDialog(const FileDialogRequest&) { return false; }

bool ShowSaveFileDialog(const FileDialogRequest&) { return false; }

}  // namespace tav::platform
