#include "tests/doubles/user_services.h"

#include <cstring>
#include <deque>
#include <mutex>

#include "platform/file_mapping.h"
#include "platform/paths.h"

namespace tav::test {
namespace {

struct Records {
    std::mutex lock;
    bool scripted = false;
    std::deque<std::optional<std::string>> answers;
    std::vector<FileDialogCall> calls;
    std::vector<CapturedMessage> messages;
};

Records& TheRecords() {
    static Records records;
    return records;
}

// Records the request and answers it from the script.
bool Answer(const platform::FileDialogRequest& request, bool save) {
    Records& r = TheRecords();
    std::optional<std::string> answer;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        FileDialogCall call{};
        if (request.initialFolder != nullptr) call.initialFolder = request.initialFolder;
        if (request.fileName != nullptr && request.fileNameSize > 0)
            call.initialName.assign(request.fileName, strnlen(request.fileName, request.fileNameSize));
        r.calls.push_back(std::move(call));
        if (!r.scripted || r.answers.empty()) return false;
        answer = std::move(r.answers.front());
        r.answers.pop_front();
    }
    if (!answer) return false;
    std::string path = std::move(*answer);
    const char* separator = platform::LastFolderSeparator(path.c_str());
    const size_t folderLength = separator != nullptr ? size_t(separator - path.c_str()) : 0;
    const size_t nameStart = separator != nullptr ? folderLength + 1 : 0;
    if (save && request.defaultExtension != nullptr && *request.defaultExtension != '\0' &&
        path.find('.', nameStart) == std::string::npos)
        path += std::string(".") + request.defaultExtension;
    if ((request.flags & platform::kFileDialogFileMustExist) != 0 && !platform::FileExists(path.c_str()))
        return false;
    if ((request.flags & (platform::kFileDialogPathMustExist | platform::kFileDialogFileMustExist)) != 0 &&
        folderLength > 0 && !platform::FileExists(path.substr(0, folderLength).c_str()))
        return false;
    if (request.fileName == nullptr || path.size() + 1 > request.fileNameSize) return false;
    std::memcpy(request.fileName, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

void SetFileDialogScript(std::vector<std::optional<std::string>> answers) {
    Records& r = TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    r.scripted = true;
    r.answers.assign(std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
}

void ClearFileDialogScript() {
    Records& r = TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    r.scripted = false;
    r.answers.clear();
    r.calls.clear();
}

std::vector<FileDialogCall> RecordedFileDialogCalls() {
    Records& r = TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.calls;
}

std::vector<CapturedMessage> RecordedMessages() {
    Records& r = TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.messages;
}

void ClearMessages() {
    Records& r = TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    r.messages.clear();
}

}  // namespace tav::test

namespace tav::platform {

bool ShowOpenFileDialog(const FileDialogRequest& request) { return test::Answer(request, false); }

bool ShowSaveFileDialog(const FileDialogRequest& request) { return test::Answer(request, true); }

void ShowMessageBox(WindowHandle, const char* text, const char* caption, MessageIcon icon) {
    test::Records& r = test::TheRecords();
    std::lock_guard<std::mutex> hold(r.lock);
    r.messages.push_back({caption != nullptr ? caption : "Error", text != nullptr ? text : "", icon});
}

}  // namespace tav::platform
