#include "ui/settings_file.h"

#include <cstdio>
#include <cstring>

#include "platform/file_dialog.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "resources/strings.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "ui/registry.h"

namespace tav {
namespace {

constexpr char kFilters[] = "TavRisk Files\0*.tvk\0All Files\0*.*\0";
constexpr char kLoadTitle[] = "Load Settings From File";
constexpr char kSaveTitle[] = "Save Settings To File";
constexpr size_t kMessageSize = 256;

// What the load and save dialogs ask alike: owner, filters, the starting
// folder when there is one, and the name buffer.
platform::FileDialogRequest SettingsDialogRequest(platform::WindowHandle dialog, const char* title,
                                                  const char* folder, char* fileName, size_t fileNameSize) {
    platform::FileDialogRequest request{};
    request.owner = dialog;
    request.title = title;
    request.filters = kFilters;
    request.initialFolder = folder;
    request.flags = platform::kFileDialogHideReadOnly | platform::kFileDialogNoChangeDir;
    request.fileName = fileName;
    request.fileNameSize = fileNameSize;
    return request;
}

ParameterRecord* RecordOf(PluginState* state) {
    return state != nullptr ? GetParameters(state->filterRecord) : nullptr;
}

}  // namespace

int LoadSettingsFile(platform::WindowHandle dialog, PluginState* state) {
    ParameterRecord* parameters = RecordOf(state);
    if (parameters == nullptr) return 0;
    ParameterRecord working = *parameters;

    char folder[kSettingsTextSize];
    bool haveFolder = LookUpParamDirectory(folder);
    platform::FileDialogRequest request = SettingsDialogRequest(
        dialog, kLoadTitle, haveFolder ? folder : nullptr, working.SettingsPath, sizeof working.SettingsPath);
    request.flags |= platform::kFileDialogFileMustExist;
    if (!platform::ShowOpenFileDialog(request)) return 0;
    working.SettingsPath[sizeof working.SettingsPath - 1] = '\0';

    bool newer = false;
    ReadSettingsFile(working.SettingsPath, &working, &newer);
    if (newer) {
        char text[kMessageSize];
        platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, text, int(sizeof text));
        platform::ShowMessageBox(dialog, text, nullptr, platform::MessageIcon::Information);
    }
    *parameters = working;
    return 1;
}

void SaveSettingsFile(platform::WindowHandle dialog, PluginState* state) {
    ParameterRecord* parameters = RecordOf(state);
    if (parameters == nullptr) return;

    // The dialog works on a copy, so that a cancel leaves SettingsPath as
    // it was whatever the dialog did to its buffer.
    char path[kSettingsPathSize];
    std::memcpy(path, parameters->SettingsPath, sizeof path);
    path[sizeof path - 1] = '\0';
    char folder[kSettingsTextSize];
    bool haveFolder = path[0] == '\0' && LookUpParamDirectory(folder);
    platform::FileDialogRequest request =
        SettingsDialogRequest(dialog, kSaveTitle, haveFolder ? folder : nullptr, path, sizeof path);
    request.defaultExtension = kSettingsFileExtension;
    request.flags |= platform::kFileDialogPathMustExist;
    if (!platform::ShowSaveFileDialog(request)) return;
    path[sizeof path - 1] = '\0';
    std::memcpy(parameters->SettingsPath, path, sizeof path);

    if (!WriteSettingsFile(parameters->SettingsPath, *parameters)) {
        // The user would believe the settings saved: say which file and why.
        char reason[128], format[kMessageSize], text[kMessageSize + kSettingsPathSize + 128];
        platform::DescribeLastFileError(reason, sizeof reason);
        platform::LoadStringResource(platform::ThisModule(), IDS_SAVE_FAILED, format, int(sizeof format));
        std::snprintf(text, sizeof text, format, parameters->SettingsPath, reason);
        char caption[64];
        platform::LoadStringResource(platform::ThisModule(), IDS_CAPTION, caption, int(sizeof caption));
        platform::ShowMessageBox(dialog, text, caption, platform::MessageIcon::Stop);
        return;
    }

    // The folder without its trailing separator; a bare file name gives the
    // empty text.
    const char* separator = platform::LastFolderSeparator(path);
    size_t length = separator != nullptr ? size_t(separator - path) : 0;
    path[length] = '\0';
    WriteSettingsValue(kUserSettingsKey, kParamDirectoryValue, path, platform::kRegistryText,
                       uint32_t(length + 1));
}

}  // namespace tav
