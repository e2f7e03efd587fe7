// Initialisation files: "[section]" header lines followed by "key=value"
// lines. Section and key names are found whatever their letter case; blanks
// around names and values are ignored, as is one pair of matching quotes
// around a value. Only the first section of a name and the first key of a
// name in it count. Lines of other forms are kept but not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tav::platform {

// The text of `key` in `section` of the file into `buffer` of `size`
// characters, cut to fit and always NUL-terminated; `fallback` (null: empty)
// when the file, the section or the key is missing. Returns the length.
size_t ReadIniString(const char* path, const char* section, const char* key, const char* fallback,
                     char* buffer, size_t size);

// Replaces the value of `key` in `section`, or adds the key (at the end of
// the section, which is added at the end of the file when missing), keeping
// every other line of the file; the file is created when missing. Names and
// values cannot hold line breaks, and keys cannot hold '=' or begin with '['
// or ';'. False when the file cannot be written.
bool WriteIniString(const char* path, const char* section, const char* key, const char* value);

// Several keys of one section in one update of the file; on some platforms
// the update is a single atomic replacement of the file. False when any
// write failed.
bool WriteIniStrings(const char* path, const char* section, const char* const* keys,
                     const char* const* values, size_t count);

// True when the file exists and can be read (on POSIX systems: a regular
// file of at most 16 MiB).
bool CanReadIniFile(const char* path);

// True when the entry can be written so that it reads back as written:
// a section name and a key without surrounding blanks and line breaks, the
// section name without ']', the key without '=' and not beginning with '['
// or ';', and a value without line breaks.
inline bool CanStoreIniEntry(const char* section, const char* key, const char* value) {
    if (section == nullptr || key == nullptr || value == nullptr) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    auto nameOk = [&](const char* name, const char* forbidden) {
        if (*name == '\0' || blank(*name)) return false;
        const char* p = name;
        for (; *p != '\0'; ++p)
            for (const char* f = forbidden; *f != '\0'; ++f)
                if (*p == *f) return false;
        return !blank(p[-1]);
    };
    if (!nameOk(section, "]\r\n") || !nameOk(key, "=\r\n")) return false;
    if (*key == '[' || *key == ';') return false;
    for (const char* p = value; *p != '\0'; ++p)
        if (*p == '\r' || *p == '\n') return false;
    return true;
}

// A value as a decimal integer with an optional minus sign, saturating at the
// 64-bit limits: leading blanks are skipped and the digits end at the first
// other character; a value that does not begin with a number is 0.
inline int64_t ParseIniInteger(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = *text == '-';
    if (negative) ++text;
    uint64_t magnitude = 0;
    constexpr uint64_t kLimit = uint64_t(INT64_MAX) + 1;
    for (; *text >= '0' && *text <= '9'; ++text) {
        uint64_t digit = uint64_t(*text - '0');
        magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
    }
    if (negative) return magnitude == kLimit ? INT64_MIN : -int64_t(magnitude);
    return magnitude >= kLimit ? INT64_MAX : int64_t(magnitude);
}

// Capacity of the text an integer value is read into; longer values are cut.
constexpr size_t kIniIntegerTextSize = 64;

// The integer value of `key` (ParseIniInteger), `fallback` when the file, the
// section or the key is missing. Reads alike on every platform.
inline int64_t ReadIniInteger(const char* path, const char* section, const char* key, int64_t fallback) {
    char fallbackText[24];
    std::snprintf(fallbackText, sizeof fallbackText, "%lld", static_cast<long long>(fallback));
    char text[kIniIntegerTextSize];
    ReadIniString(path, section, key, fallbackText, text, sizeof text);
    return ParseIniInteger(text);
}

}  // namespace tav::platform
