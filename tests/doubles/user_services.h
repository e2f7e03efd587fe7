// The tests' stand-ins for the services that face the user: file dialogs that
// take their answers from a script, and message boxes that are recorded
// instead of shown. Linked into the tests in place of the platform's own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/file_dialog.h"
#include "platform/message_box.h"

namespace tav::test {

// While a script is set, every dialog takes the next answer: a path, or
// nullopt for cancel; with no answers left it answers cancel. The answer is
// handled as the system's dialog would handle it: the save dialog appends the
// default extension to a name without one, a dialog with "file must exist"
// cancels when the file does not exist, one with "path must exist" when the
// folder does not, and a path that does not fit cancels. Without a script
// every dialog cancels.
void SetFileDialogScript(std::vector<std::optional<std::string>> answers);
// Ends the script and drops the answers left and what was recorded.
void ClearFileDialogScript();

// Where each dialog was asked to start, in order.
struct FileDialogCall {
    std::optional<std::string> initialFolder;
    std::string initialName;
};
std::vector<FileDialogCall> RecordedFileDialogCalls();

struct CapturedMessage {
    std::string caption;  // "Error" for the system's default caption
    std::string text;
    platform::MessageIcon icon;
};
// The message boxes shown since the last ClearMessages, in order.
std::vector<CapturedMessage> RecordedMessages();
void ClearMessages();

}  // namespace tav::test
