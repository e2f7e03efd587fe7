// File dialogs on POSIX: there is no window system to ask the user in, so
// only a script (set by a test or a batch tool) can answer; without one every
// dialog answers cancel.
#include "platform/file_dialog.h"

#include <cstring>

namespace tav::platform {

bool ShowOpenFileDialog(const FileDialogRequest& request) {
    bool chosen = false;
    return detail::AnswerFromScript(request, false, &chosen) && chosen;
}

bool ShowSaveFileDialog(const FileDialogRequest& request) {
    bool chosen = false;
    return detail::AnswerFromScript(request, true, &chosen) && chosen;
}

const char* LastFolderSeparator(const char* path) {
    if (path == nullptr) return nullptr;
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    if (slash == nullptr) return backslash;
    if (backslash == nullptr) return slash;
    return slash > backslash ? slash : backslash;
}

}  // namespace tav::platform
