// The common dialogs that ask the user for a file to open or to save to.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_mapping.h"
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

// The last folder separator of `path`, or null when it has none. The
// separators are '\' and, on POSIX systems, '/' as well.
const char* LastFolderSeparator(const char* path);

}  // namespace tav::platform

namespace tav::platform {

// Tests and batch tools can script the dialogs. While a script is set, every
// dialog takes the next answer instead of asking the user: a path, or
// nullopt for cancel; with no answers left it answers cancel. The answer is
// handled as the dialog would handle it: the save dialog appends the default
// extension to a name without one, a dialog with "file must exist" cancels
// when the file does not exist, one with "path must exist" when the folder
// does not, and a path that does not fit cancels. On POSIX systems, where
// there is no dialog to show, a dialog without a script answers cancel.
inline void SetFileDialogScript(std::vector<std::optional<std::string>> answers);
// Ends the script and drops the answers left and what was recorded.
inline void ClearFileDialogScript();

// What each scripted dialog was asked, in order.
struct FileDialogCall {
    bool save;
    WindowHandle owner;
    std::string title;
    std::vector<std::string> filters;  // description, pattern, description, pattern...
    std::optional<std::string> defaultExtension;
    std::optional<std::string> initialFolder;
    std::string initialName;
    uint32_t flags;
};
inline std::vector<FileDialogCall> RecordedFileDialogCalls();

}  // namespace tav::platform

// The script, shared by the platforms' dialogs.
namespace tav::platform::detail {

struct FileDialogScript {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    bool active = false;
    std::deque<std::optional<std::string>> answers;
    std::vector<FileDialogCall> calls;
};

inline FileDialogScript& TheFileDialogScript() {
    static FileDialogScript script;
    return script;
}

// Holds the script for the few steps of one change; the Windows runtime we
// link has no std::mutex.
class ScriptLock {
public:
    explicit ScriptLock(FileDialogScript& script) : busy_(script.busy) {
        while (busy_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~ScriptLock() { busy_.clear(std::memory_order_release); }
    ScriptLock(const ScriptLock&) = delete;
    ScriptLock& operator=(const ScriptLock&) = delete;

private:
    std::atomic_flag& busy_;
};

// While a script is set: records the request, takes the next answer and
// returns true, with `*chosen` telling whether it chose a file (copied into
// the request's fileName). Returns false when no script is set.
inline bool AnswerFromScript(const FileDialogRequest& request, bool save, bool* chosen) {
    FileDialogScript& script = TheFileDialogScript();
    std::optional<std::string> answer;
    {
        detail::ScriptLock lock(script);
        if (!script.active) return false;
        FileDialogCall call{};
        call.save = save;
        call.owner = request.owner;
        call.title = request.title != nullptr ? request.title : "";
        for (const char* p = request.filters; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
            call.filters.emplace_back(p);
        if (request.defaultExtension != nullptr) call.defaultExtension = request.defaultExtension;
        if (request.initialFolder != nullptr) call.initialFolder = request.initialFolder;
        if (request.fileName != nullptr && request.fileNameSize > 0) {
            const void* nul = std::memchr(request.fileName, '\0', request.fileNameSize);
            size_t length = nul != nullptr ? size_t(static_cast<const char*>(nul) - request.fileName)
                                           : request.fileNameSize;
            call.initialName.assign(request.fileName, length);
        }
        call.flags = request.flags;
        script.calls.push_back(std::move(call));
        if (!script.answers.empty()) {
            answer = std::move(script.answers.front());
            script.answers.pop_front();
        }
    }
    *chosen = false;
    if (!answer) return true;
    std::string path = std::move(*answer);
    const char* separator = LastFolderSeparator(path.c_str());
    size_t folderLength = separator != nullptr ? size_t(separator - path.c_str()) : 0;
    size_t nameStart = separator != nullptr ? folderLength + 1 : 0;
    if (save && request.defaultExtension != nullptr && *request.defaultExtension != '\0' &&
        path.find('.', nameStart) == std::string::npos)
        path += std::string(".") + request.defaultExtension;
    if ((request.flags & kFileDialogFileMustExist) != 0 && !FileExists(path.c_str())) return true;
    if ((request.flags & (kFileDialogPathMustExist | kFileDialogFileMustExist)) != 0 && folderLength > 0 &&
        !FileExists(path.substr(0, folderLength).c_str()))
        return true;
    if (request.fileName == nullptr || path.size() + 1 > request.fileNameSize) return true;
    std::memcpy(request.fileName, path.c_str(), path.size() + 1);
    *chosen = true;
    return true;
}

}  // namespace tav::platform::detail

namespace tav::platform {

inline void SetFileDialogScript(std::vector<std::optional<std::string>> answers) {
    detail::FileDialogScript& script = detail::TheFileDialogScript();
    detail::ScriptLock lock(script);
    script.active = true;
    script.answers.assign(std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
}

inline void ClearFileDialogScript() {
    detail::FileDialogScript& script = detail::TheFileDialogScript();
    detail::ScriptLock lock(script);
    script.active = false;
    script.answers.clear();
    script.calls.clear();
}

inline std::vector<FileDialogCall> RecordedFileDialogCalls() {
    detail::FileDialogScript& script = detail::TheFileDialogScript();
    detail::ScriptLock lock(script);
    return script.calls;
}

}  // namespace tav::platform
