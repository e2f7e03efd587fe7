#include "keyer/plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "platform/posix/whole_file.h"
#include "keyer/settings.h"

namespace tav::cli {
namespace {

std::string OutputPath(const Options& o, const std::string& input) {
    if (!o.output.empty()) return o.output;
    const size_t slash = input.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    if (!o.outdir.empty()) folder = o.outdir + "/";
    return folder + name + "-keyed.png";
}

// A file as the file system knows it: links, "./" and "a/../" all lead to
// the same one.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> IdOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Where a file that may not exist yet would be: its folder and its name.
struct Place {
    std::optional<FileId> folder;
    std::string folderText, name;
    bool operator<(const Place& other) const {
        if (folder != other.folder) return folder < other.folder;
        if (!folder && folderText != other.folderText) return folderText < other.folderText;
        return name < other.name;
    }
};

Place PlaceOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    Place place;
    place.folderText = FolderOf(path);
    place.name = slash == std::string::npos ? path : path.substr(slash + 1);
    place.folder = IdOf(place.folderText);
    return place;
}

const char* KindOf(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// Why the keyer may not write `output` (anything but a regular file, a link
// to one, or a link to a new file in an existing folder), or the empty text;
// `target` is where the bytes would land.
std::string WhyNotWritable(const std::string& output, platform::posix::WriteTarget* target) {
    if (!platform::posix::FollowLinks(output, target))
        return "cannot write the output " + output + ": " + std::strerror(errno);
    const std::string leads = target->path == output ? "" : " leads to " + target->path + ", which";
    // A folder in an output's place fails that input's write alone, as any
    // output that cannot be written does (-o naming a folder is refused
    // before).
    if (target->exists && !S_ISREG(target->info.st_mode) && !S_ISDIR(target->info.st_mode))
        return "the output " + output + leads + " is " + KindOf(target->info.st_mode) +
               ", not a regular file; it is left as it is";
    struct stat st;
    if (!target->exists && !leads.empty() && (stat(FolderOf(target->path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return "the output " + output + " is a link to " + target->path + ", whose folder does not exist";
    return {};
}

}  // namespace

Plan PlanOutputs(const Options& o) {
    Plan plan;
    auto refuse = [&](const std::string& message) {
        plan.code = UsageError(message);
        plan.outputs.clear();
        return plan;
    };

    // Every file the keyer reads, by identity; the settings file apart, as
    // the settings may be saved back into it.
    std::map<FileId, std::string> read;
    if (!o.raw)  // raw frames come from standard input and go to standard output
        for (const std::string& input : o.inputs)
            if (auto id = IdOf(input)) read.emplace(*id, input);
    if (!o.background.empty())
        if (auto id = IdOf(o.background)) read.emplace(*id, o.background);

    struct stat st;
    if (!o.raw && !o.output.empty() && stat(o.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return refuse("-o " + o.output + " is a folder; use --outdir");
    std::map<Place, std::string> written;  // place -> the input written there
    for (const std::string& input : o.raw ? std::vector<std::string>{} : o.inputs) {
        std::string output = OutputPath(o, input);
        if (output == kStandardOutput) {  // one input only
            if (isatty(STDOUT_FILENO))
                return refuse("-o - writes the PNG to standard output: send it to a pipe or a file");
            plan.outputs.push_back(std::move(output));
            continue;
        }
        platform::posix::WriteTarget target;
        if (std::string why = WhyNotWritable(output, &target); !why.empty()) return refuse(why);
        if (auto id = IdOf(output)) {
            if (auto hit = read.find(*id); hit != read.end())
                return refuse("the output " + output + " of " + input + " would overwrite the input " + hit->second);
            if (!o.settings.empty() && IdOf(o.settings) == id)
                return refuse("the output " + output + " of " + input + " would overwrite the settings file " +
                              o.settings);
        }
        auto [where, fresh] = written.emplace(PlaceOf(target.path), input);
        if (!fresh)
            return refuse("the inputs " + where->second + " and " + input + " would both be written to " + output);
        plan.outputs.push_back(std::move(output));
    }

    if (!o.saveSettings.empty()) {
        const std::string& path = o.saveSettings;
        if (auto id = IdOf(path); id && read.count(*id))
            return refuse("--save-settings " + path + " would overwrite the input " + read[*id]);
        platform::posix::WriteTarget target;
        if (!platform::posix::FollowLinks(path, &target))
            return refuse("--save-settings " + path + ": " + std::strerror(errno));
        const Place place = PlaceOf(target.path);
        if (auto hit = written.find(place); hit != written.end())
            return refuse("--save-settings " + path + " is the output of " + hit->second);
        if (!place.folder) return refuse("--save-settings " + path + ": no folder " + place.folderText);
        switch (InspectSettingsFile(path)) {
            case SettingsFileKind::Missing:
            case SettingsFileKind::Empty:
            case SettingsFileKind::Settings:
                break;
            case SettingsFileKind::NoSection:
            case SettingsFileKind::NotSettings:
                return refuse("--save-settings " + path + " exists and is not a settings file; it is left as it is");
        }
    }
    return plan;
}

}  // namespace tav::cli
