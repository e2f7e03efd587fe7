#include "keyer/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "platform/ini_file.h"
#include "platform/module.h"
#include "platform/names.h"
#include "resources/strings.h"
#include "ui/settings_format.h"

namespace tav::cli {
namespace {

// The keys a plug-in's file load stores as 8 bits unchecked; the keyer holds
// them to their documented ranges like every other key.
struct SettingRange {
    const char* key;
    int64_t low, high;
};
constexpr SettingRange kNarrowKeys[] = {
    {"ScreenColor", 0, 1}, {"OutputMethod", 0, kOutputMethodCount - 1}, {"DynamicRange", 0, 1}};

// Stores `value` under `key`, clamped to the key's range; the value stored,
// or nothing for an unknown key.
std::optional<int64_t> StoreSetting(ParameterRecord* record, std::string_view key, int64_t value) {
    for (const SettingRange& range : kNarrowKeys)
        if (platform::SameName(key, range.key)) value = std::clamp(value, range.low, range.high);
    int64_t stored = 0;
    if (ApplySettingsValue(record, key, value, &stored) == SettingsKeyResult::Unknown) return std::nullopt;
    return stored;
}

// Loads every key the file holds, each reported when it had to be clamped;
// true when the file names the screen.
bool LoadSettingsKeys(const std::string& path, BaseSettings* base) {
    constexpr char kMissing[] = "\x7f";
    bool named = false;
    for (const char* const* key = SettingsKeyNames(); *key != nullptr; ++key) {
        char text[platform::kIniIntegerTextSize];
        platform::ReadIniString(path.c_str(), kSettingsSection, *key, kMissing, text, sizeof text);
        if (std::strcmp(text, kMissing) == 0) continue;
        const int64_t value = platform::ParseIniInteger(text);
        const int64_t stored = *StoreSetting(&base->record, *key, value);
        if (stored != value)
            std::fprintf(stderr, "tavrisk: %s: %s=%s stored as %lld\n", path.c_str(), *key, text,
                         static_cast<long long>(stored));
        if (platform::SameName(*key, "ScreenColor")) named = true;
    }
    return named;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

}  // namespace

SettingsFileKind InspectSettingsFile(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? SettingsFileKind::Missing : SettingsFileKind::NotSettings;
    if (!S_ISREG(st.st_mode) || st.st_size > (16 << 20)) return SettingsFileKind::NotSettings;
    if (st.st_size == 0) return SettingsFileKind::Empty;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return SettingsFileKind::NotSettings;
    if (text.find('\0') != std::string::npos) return SettingsFileKind::NotSettings;
    // Every line is blank, a comment, a section header or a key line.
    bool section = false;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = Trim(std::string_view(text).substr(begin, end - begin));
        begin = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string_view::npos) return SettingsFileKind::NotSettings;
            section |= platform::SameName(Trim(line.substr(1, close - 1)), kSettingsSection);
        } else if (line.find('=') == std::string_view::npos) {
            return SettingsFileKind::NotSettings;
        }
    }
    return section ? SettingsFileKind::Settings : SettingsFileKind::NoSection;
}

bool LoadBaseSettings(const Options& o, BaseSettings* base) {
    std::memset(&base->record, 0, sizeof base->record);
    SetParameterDefaults(&base->record);
    bool named = false;  // the screen, by the file or a --set
    if (!o.settings.empty()) {
        ParameterRecord scratch = base->record;
        bool newer = false;
        if (!ReadSettingsFile(o.settings.c_str(), &scratch, &newer)) {
            std::fprintf(stderr, "tavrisk: %s: cannot read the settings file (%s)\n", o.settings.c_str(),
                         InspectSettingsFile(o.settings) == SettingsFileKind::Missing ? "no such file"
                                                                                   : "not a readable regular file");
            return false;
        }
        const SettingsFileKind kind = InspectSettingsFile(o.settings);
        if (kind != SettingsFileKind::Settings)
            std::fprintf(stderr, "tavrisk: %s: warning: no [%s] section; no settings taken from it\n",
                         o.settings.c_str(), kSettingsSection);
        if (newer) {
            char text[256];
            platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, text, sizeof text);
            std::fprintf(stderr, "tavrisk: %s: %s\n", o.settings.c_str(), text);
        }
        named = LoadSettingsKeys(o.settings, base);
    }
    for (const auto& [key, value] : o.sets) {
        const std::optional<int64_t> stored = StoreSetting(&base->record, key, value);
        if (!stored) {
            std::fprintf(stderr, "tavrisk: --set: unknown setting '%s'\n", key.c_str());
            return false;
        }
        if (*stored != value)
            std::fprintf(stderr, "tavrisk: --set %s=%lld: stored as %lld\n", key.c_str(),
                         static_cast<long long>(value), static_cast<long long>(*stored));
        if (platform::SameName(key, "ScreenColor")) named = true;
    }
    if (o.method) base->record.OutputMethod = uint8_t(*o.method);
    if (o.screen && *o.screen != ScreenChoice::Auto) base->record.ScreenColor = *o.screen == ScreenChoice::Green;
    base->screenDecided = o.screen ? *o.screen != ScreenChoice::Auto : named;
    return true;
}

bool SaveSettings(const std::string& path, const ParameterRecord& record, std::string* error) {
    errno = 0;
    if (WriteSettingsFile(path.c_str(), record)) return true;
    *error = "cannot write the settings file";
    if (errno != 0) *error += std::string(": ") + std::strerror(errno);
    return false;
}

}  // namespace tav::cli
