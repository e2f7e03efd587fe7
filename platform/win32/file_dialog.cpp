// File dialogs through the common dialog library. The dialog works on a copy
// of the file name, so that a cancelled or failed dialog leaves the caller's
// buffer as it was.
#include "platform/file_dialog.h"

#include <windows.h>

#include <commdlg.h>

#include <cstring>
#include <vector>

namespace tav::platform {
namespace {

bool ShowSystemDialog(const FileDialogRequest& request, bool save) {
    if (request.fileName == nullptr || request.fileNameSize == 0 || request.fileNameSize > 0xFFFF)
        return false;
    std::vector<char> name(request.fileNameSize, '\0');
    const void* end = std::memchr(request.fileName, '\0', request.fileNameSize);
    size_t length =
        end != nullptr ? size_t(static_cast<const char*>(end) - request.fileName) : request.fileNameSize - 1;
    std::memcpy(name.data(), request.fileName, length);

    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = reinterpret_cast<HWND>(request.owner);
    dialog.lpstrFilter = request.filters;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = DWORD(name.size());
    dialog.lpstrInitialDir = request.initialFolder;
    dialog.lpstrTitle = request.title;
    dialog.Flags = DWORD(request.flags);
    dialog.lpstrDefExt = request.defaultExtension;
    BOOL chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (!chosen) return false;
    std::memcpy(request.fileName, name.data(), name.size());
    request.fileName[request.fileNameSize - 1] = '\0';
    return true;
}

}  // namespace

bool ShowOpenFileDialog(const FileDialogRequest& request) { return ShowSystemDialog(request, false); }

bool ShowSaveFileDialog(const FileDialogRequest& request) { return ShowSystemDialog(request, true); }

}  // namespace tav::platform
