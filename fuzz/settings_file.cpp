// The settings-file reader and writer on arbitrary files. The fuzzed bytes
// are a settings file:
// - it loads (any regular file does), and the load agrees key by key with
//   ApplySettingsValue, the rule the keyer's --set uses;
// - the record saved to a new file loads back equal in every stored key,
//   over a record that differed in every one;
// - saving into the fuzzed file keeps each of its other lines, in order, and
//   the value of every other key of every section, and a load of the result
//   gives the record written.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "interface/parameter_record.h"
#include "platform/ini_file.h"
#include "platform/names.h"
#include "ui/settings_format.h"

namespace {

using tav::ParameterRecord;
using tav::fuzz::PrivateFolder;

// The stored fields, in the order of SettingsKeyNames().
struct Field {
    const char* name;
    uint8_t ParameterRecord::*byteField;
    int32_t ParameterRecord::*wordField;
};
constexpr Field kFields[] = {
    {"ScreenColor", &ParameterRecord::ScreenColor, nullptr},
    {"OutputMethod", &ParameterRecord::OutputMethod, nullptr},
    {"DynamicRange", &ParameterRecord::DynamicRange, nullptr},
    {"ForceBlack", &ParameterRecord::ForceBlack, nullptr},
    {"ForceWhite", &ParameterRecord::ForceWhite, nullptr},
    {"Gamma", &ParameterRecord::Gamma, nullptr},
    {"Protection", &ParameterRecord::Protection, nullptr},
    {"RestoreR", &ParameterRecord::RestoreR, nullptr},
    {"RestoreG", &ParameterRecord::RestoreG, nullptr},
    {"RestoreB", &ParameterRecord::RestoreB, nullptr},
    {"CorrectionR", nullptr, &ParameterRecord::CorrectionR},
    {"CorrectionG", nullptr, &ParameterRecord::CorrectionG},
    {"CorrectionB", nullptr, &ParameterRecord::CorrectionB},
    {"BlueRemoval", &ParameterRecord::BlueRemoval, nullptr},
    {"MatteBlur", &ParameterRecord::MatteBlur, nullptr},
    {"MatteChoke", nullptr, &ParameterRecord::MatteChoke},
};

int64_t Get(const ParameterRecord& r, const Field& f) {
    return f.byteField != nullptr ? int64_t(r.*f.byteField) : int64_t(r.*f.wordField);
}

void Put(ParameterRecord* r, const Field& f, int64_t value) {
    if (f.byteField != nullptr)
        r->*f.byteField = uint8_t(value);
    else
        r->*f.wordField = int32_t(value);
}

bool SameStored(const ParameterRecord& a, const ParameterRecord& b) {
    for (const Field& f : kFields)
        if (Get(a, f) != Get(b, f)) return false;
    return true;
}

// `name` with the letter case of every ASCII letter swapped.
std::string SwapCase(std::string_view name) {
    std::string swapped(name);
    for (char& c : swapped)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return swapped;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// True for the name of a key a save writes.
bool SavedKey(std::string_view key) {
    if (tav::platform::SameName(key, tav::kSettingsVersionKey)) return true;
    for (const Field& f : kFields)
        if (tav::platform::SameName(key, f.name)) return true;
    return false;
}

// The name before a line's '=', without surrounding blanks.
std::string_view KeyOf(std::string_view line) {
    size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
}

// Every (section, key) the lines of `text` name, but the keys a save writes
// into its own section; the reader decides what they hold. Names are handed
// to the reader as C strings, so they end at a NUL.
struct Entry {
    std::string section;
    std::string key;
    std::string value;
};
std::vector<Entry> OtherEntries(std::string_view text) {
    std::vector<Entry> entries;
    std::string section;
    bool haveSection = false;
    for (std::string_view line : tav::fuzz::SplitLines(text)) {
        std::string_view trimmed = Trim(line);
        size_t close = trimmed.rfind(']');
        if (!trimmed.empty() && trimmed.front() == '[' && close != 0 && close != std::string_view::npos) {
            section = std::string(Trim(trimmed.substr(1, close - 1))).c_str();
            haveSection = true;
            continue;
        }
        std::string key = std::string(KeyOf(trimmed)).c_str();
        if (!haveSection || key.empty()) continue;
        if (tav::platform::SameName(section, tav::kSettingsSection) && SavedKey(key)) continue;
        entries.push_back({section, key, {}});
    }
    return entries;
}

std::string ReadText(const std::string& path, const std::string& section, const std::string& key,
                     const char* fallback) {
    char text[tav::platform::kIniIntegerTextSize];
    tav::platform::ReadIniString(path.c_str(), section.c_str(), key.c_str(), fallback, text, sizeof text);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* const* names = tav::SettingsKeyNames();
    for (const Field& f : kFields) FUZZ_CHECK(*names != nullptr && std::strcmp(*names++, f.name) == 0);
    FUZZ_CHECK(*names == nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string fuzzed = PrivateFolder() + "/fuzzed.tvk";
    const std::string saved = PrivateFolder() + "/saved.tvk";
    const std::string_view original(reinterpret_cast<const char*>(data), size);
    tav::fuzz::WriteFile(fuzzed, original);
    const char* section = tav::kSettingsSection;

    ParameterRecord start;
    std::memset(&start, 0, sizeof start);
    tav::SetParameterDefaults(&start);
    std::strcpy(start.SettingsPath, "/keep/this.tvk");

    ParameterRecord loaded;
    std::memcpy(&loaded, &start, sizeof loaded);
    bool newer = true;
    FUZZ_CHECK(tav::ReadSettingsFile(fuzzed.c_str(), &loaded, &newer));

    // The same load key by key: a key the file holds is applied with
    // ApplySettingsValue (named in the other letter case), a missing one
    // keeps its field.
    ParameterRecord applied;
    std::memcpy(&applied, &start, sizeof applied);
    for (const Field& f : kFields) {
        const std::string text = ReadText(fuzzed, section, f.name, "0");
        if (text != ReadText(fuzzed, section, f.name, "1")) continue;  // missing
        const int64_t value = tav::platform::ParseIniInteger(text.c_str());
        int64_t stored = 0;
        tav::SettingsKeyResult result = tav::ApplySettingsValue(&applied, SwapCase(f.name), value, &stored);
        FUZZ_CHECK(result != tav::SettingsKeyResult::Unknown);
        FUZZ_CHECK((result == tav::SettingsKeyResult::Stored) == (stored == value));
        FUZZ_CHECK(Get(applied, f) == stored);
        // What was stored is stored as it is.
        ParameterRecord again;
        std::memcpy(&again, &applied, sizeof again);
        FUZZ_CHECK(tav::ApplySettingsValue(&again, f.name, stored, nullptr) == tav::SettingsKeyResult::Stored);
        FUZZ_CHECK(std::memcmp(&again, &applied, sizeof again) == 0);
    }
    FUZZ_CHECK(std::memcmp(&applied, &loaded, sizeof applied) == 0);
    FUZZ_CHECK(tav::ApplySettingsValue(&applied, tav::kSettingsVersionKey, 1, nullptr) ==
               tav::SettingsKeyResult::Unknown);
    FUZZ_CHECK(std::memcmp(&applied, &loaded, sizeof applied) == 0);

    // Saved to a new file and loaded over a record that differs in every
    // stored key: equal in every one.
    unlink(saved.c_str());
    FUZZ_CHECK(tav::WriteSettingsFile(saved.c_str(), loaded));
    ParameterRecord reloaded;
    std::memcpy(&reloaded, &loaded, sizeof reloaded);
    for (const Field& f : kFields) Put(&reloaded, f, Get(loaded, f) + 1);
    FUZZ_CHECK(tav::ReadSettingsFile(saved.c_str(), &reloaded, &newer) && !newer);
    FUZZ_CHECK(SameStored(reloaded, loaded));

    // Saved into the fuzzed file: a record whose every key differs from the
    // one loaded, each within its range.
    ParameterRecord written;
    std::memcpy(&written, &loaded, sizeof written);
    for (const Field& f : kFields)
        if (tav::ApplySettingsValue(&written, f.name, Get(loaded, f) + 1, nullptr) != tav::SettingsKeyResult::Stored)
            Put(&written, f, Get(loaded, f) - 1);
    std::vector<Entry> others = OtherEntries(original);
    for (Entry& e : others) e.value = ReadText(fuzzed, e.section, e.key, "\x01missing");
    FUZZ_CHECK(tav::WriteSettingsFile(fuzzed.c_str(), written));

    FUZZ_CHECK(tav::ReadSettingsFile(fuzzed.c_str(), &reloaded, &newer) && !newer);
    FUZZ_CHECK(SameStored(reloaded, written));
    for (const Entry& e : others) FUZZ_CHECK(ReadText(fuzzed, e.section, e.key, "\x01missing") == e.value);
    // Every line but those of the saved keys is still there, in its order.
    const std::string after = tav::fuzz::ReadFile(fuzzed);
    std::vector<std::string_view> newLines = tav::fuzz::SplitLines(after);
    size_t next = 0;
    for (std::string_view line : tav::fuzz::SplitLines(original)) {
        if (SavedKey(KeyOf(Trim(line)))) continue;
        while (next < newLines.size() && newLines[next] != line) ++next;
        FUZZ_CHECK(next < newLines.size());
        ++next;
    }
    return 0;
}
