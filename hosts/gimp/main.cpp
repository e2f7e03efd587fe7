// tavrisk-gimp: the filter in GIMP 2.10. A GIMP plug-in program that loads
// libtavrsk.so from its own folder and drives it through ENTRYPOINT with the
// in-process host, as every host drives the filter: one more host of the one
// filter, its dialog the filter's own (on GTK 3).
//
// Procedures:
//   plug-in-tavrisk       run-mode, image, drawable, the sixteen settings as
//                         INT32 in the settings file's order
//   plug-in-tavrisk-file  run-mode, image, drawable, a settings file's path
// RUN-INTERACTIVE opens the filter's dialog (on the last settings, or the
// file's); RUN-NONINTERACTIVE keys with the arguments and shows nothing;
// RUN-WITH-LAST-VALS repeats the filter with the settings of its last run.
#include <libgimp/gimp.h>

#include <string>
#include <vector>

#include "hosts/gimp/filter_names.h"
#include "hosts/gimp/keying.h"
#include "hosts/gimp/settings.h"

namespace tav::gimp {
namespace {

constexpr char kProcedure[] = "plug-in-tavrisk";
constexpr char kFileProcedure[] = "plug-in-tavrisk-file";
constexpr char kBlurb[] = "Key a blue or green screen: matte, screen colour removal and six outputs";
constexpr char kHelp[] =
    "Pulls a subject off a blue or green backing screen in the selection's bounds: computes a matte and a "
    "foreground cleaned of the screen colour, and writes one of six outputs (the foreground with transparency, "
    "the foreground, the matte with transparency, the matte, the transparency, or the foreground over the "
    "picture on GIMP's clipboard). A layer without alpha gets one when the output writes transparency.";
constexpr char kAuthor[] = "Brackwater Works";
constexpr char kDate[] = "2026";
// The filter's property list accepts RGB images only.
constexpr char kImageTypes[] = "RGB*";

GimpParamDef Parameter(GimpPDBArgType type, const char* name, const char* description) {
    return GimpParamDef{type, const_cast<gchar*>(name), const_cast<gchar*>(description)};
}

void Query() {
    std::vector<std::string> names;
    for (int i = 0; i < kSettingCount; ++i) names.push_back(ArgumentName(SettingTable()[i]));
    std::vector<GimpParamDef> common = {
        Parameter(GIMP_PDB_INT32, "run-mode", "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"),
        Parameter(GIMP_PDB_IMAGE, "image", "Input image"),
        Parameter(GIMP_PDB_DRAWABLE, "drawable", "Input drawable (an RGB layer)")};
    std::vector<GimpParamDef> arguments = common;
    for (int i = 0; i < kSettingCount; ++i)
        arguments.push_back(Parameter(GIMP_PDB_INT32, names[size_t(i)].c_str(), SettingTable()[i].description));
    gimp_install_procedure(kProcedure, kBlurb, kHelp, kAuthor, kAuthor, kDate, kFilterName, kImageTypes, GIMP_PLUGIN,
                           gint(arguments.size()), 0, arguments.data(), nullptr);
    std::vector<GimpParamDef> fileArguments = common;
    fileArguments.push_back(Parameter(GIMP_PDB_STRING, "settings-file",
                                      "A settings file (*.tvk, the filter's \"Save...\" format)"));
    gimp_install_procedure(kFileProcedure, kBlurb, kHelp, kAuthor, kAuthor, kDate, nullptr, kImageTypes, GIMP_PLUGIN,
                           gint(fileArguments.size()), 0, fileArguments.data(), nullptr);
    gimp_plugin_menu_register(kProcedure, ("<Image>/Filters/" + std::string(kFilterCategory)).c_str());
}

// The request of a call; false, with the reason, for a calling error.
bool ReadRequest(const std::string& name, gint count, const GimpParam* p, KeyRequest* r, std::string* error) {
    if (count < 3) {
        *error = "the run mode, the image and the drawable are needed";
        return false;
    }
    const auto mode = GimpRunMode(p[0].data.d_int32);
    r->image = p[1].data.d_image;
    r->drawable = p[2].data.d_drawable;
    r->kind = mode == GIMP_RUN_INTERACTIVE ? RunKind::Dialog
              : mode == GIMP_RUN_WITH_LAST_VALS ? RunKind::LastValues : RunKind::Direct;
    if (r->kind == RunKind::LastValues) {
        r->settings = LastSettings();
        return true;
    }
    if (name == kFileProcedure) {
        const char* path = count > 3 ? p[3].data.d_string : nullptr;
        if (path == nullptr || *path == '\0') {
            if (r->kind == RunKind::Dialog) {
                r->settings = LastSettings();
                return true;
            }
            *error = "no settings file was given";
            return false;
        }
        return FromSettingsFile(path, &r->settings, error);
    }
    // The menu's call carries no settings: the dialog opens on the last ones.
    if (r->kind == RunKind::Dialog) {
        r->settings = LastSettings();
        return true;
    }
    if (count != 3 + kSettingCount) {
        *error = "the sixteen settings are needed";
        return false;
    }
    int32_t values[kSettingCount];
    for (int i = 0; i < kSettingCount; ++i) values[i] = p[3 + i].data.d_int32;
    return FromArguments(values, &r->settings, error);
}

void Run(const gchar* name, gint count, const GimpParam* parameters, gint* returnCount, GimpParam** returned) {
    static GimpParam values[2];
    static std::string message;
    KeyRequest request{};
    Outcome outcome{GIMP_PDB_SUCCESS, ""};
    if (!ReadRequest(name, count, parameters, &request, &outcome.message))
        outcome.status = GIMP_PDB_CALLING_ERROR;
    else
        outcome = KeyDrawable(request);
    message = outcome.message;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = outcome.status;
    *returnCount = 1;
    if (!message.empty()) {
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(message.c_str());
        *returnCount = 2;
    }
    *returned = values;
}

}  // namespace
}  // namespace tav::gimp

namespace tav::gimp {
std::chrono::steady_clock::time_point ProgramStart() {
    static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    return start;
}
}  // namespace tav::gimp

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, tav::gimp::Query, tav::gimp::Run};

int main(int argc, char** argv) {
    tav::gimp::ProgramStart();
    return gimp_main(&PLUG_IN_INFO, argc, argv);
}
