// The dialog's "Load..." and "Save..." of settings files (*.tvk, their
// format in ui/settings_format.h).
#pragma once

#include "platform/message_box.h"
#include "ui/settings_format.h"

namespace tav {

struct PluginState;

// Asks for a file with the open dialog (owned by `dialog`, starting in
// ParamDirectory) and loads it into the Parameter record: 1 when a file was
// chosen and read, 0 when the user cancelled (the record is then untouched).
// A file of a newer format version is reported with message 205 and loaded
// all the same. SettingsPath becomes the file's path; ParamDirectory is left
// as it is.
int LoadSettingsFile(platform::WindowHandle dialog, PluginState* state);

// Asks for a file with the save dialog, proposing SettingsPath (and starting
// in ParamDirectory when SettingsPath is empty), writes the settings into it
// and remembers its folder in ParamDirectory. Cancel changes nothing. A file
// that cannot be written is reported in a message box owned by the dialog,
// naming it and the reason, and ParamDirectory is left as it was.
void SaveSettingsFile(platform::WindowHandle dialog, PluginState* state);

}  // namespace tav
