// Initialisation files on POSIX, read and written by our own code in the
// manner of the Windows private-profile functions:
//
// - A line whose first non-blank character is '[' and that holds a ']' is a
//   section header; the name is what lies between the '[' and the last ']',
//   without surrounding blanks. A line starting with ';' is a comment. A line
//   holding '=' is a key line: the key is the text before the first '=', the
//   value the text after it, both without surrounding blanks (and the value
//   without one pair of matching quotes). Any other line, and any line before
//   the first header, is kept and ignored. A CR before the LF is not part of
//   the line; the last line need not end with a line break; any bytes may
//   occur.
// - Names are compared without regard to the letter case of A-Z. The first
//   section of a name and the first key of a name in it are the ones read and
//   written.
// - A write changes only the key's own line, or inserts one after the
//   section's last key line (after its header when it has none), or appends
//   the section at the end of the file. New lines end as the file's first
//   line does (CRLF or LF; LF in a new file).
// - A write replaces the file atomically: the new text goes to a temporary
//   file in the same folder, which is synced and renamed over the file, so
//   the file is always either the old one or the new one. A symbolic link is
//   followed (the link stays), and an existing file keeps its permissions.
// - Only regular files of at most 16 MiB are read or written; anything else
//   reads as missing and cannot be written.
#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/names.h"
#include "platform/posix/whole_file.h"

namespace tav::platform {
namespace {

constexpr size_t kMaxIniBytes = 16u << 20;

using posix::FileRead;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// One line of the file: [begin, end) is its text, [end, next) its line break.
struct Line {
    size_t begin;
    size_t end;
    size_t next;
};

// The line starting at `begin` (< text.size()).
Line LineAt(std::string_view text, size_t begin) {
    size_t lf = text.find('\n', begin);
    if (lf == std::string_view::npos) {
        size_t end = text.size();
        if (end > begin && text[end - 1] == '\r') --end;
        return {begin, end, text.size()};
    }
    size_t end = lf;
    if (end > begin && text[end - 1] == '\r') --end;
    return {begin, end, lf + 1};
}

bool SectionHeader(std::string_view line, std::string_view* name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) return false;
    *name = Trim(line.substr(1, close - 1));
    return true;
}

bool KeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '[') return false;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
        value->back() == value->front()) {
        *value = value->substr(1, value->size() - 2);
    }
    return !key->empty();
}

// Where `key` of `section` is, or would go.
struct KeyPlace {
    bool sectionFound = false;
    bool keyFound = false;
    Line keyLine{};
    size_t insertAt = 0;            // after the section's last key line, or its header
    bool insertNeedsBreak = false;  // the line before insertAt has no line break
    std::string_view value;
};

KeyPlace FindKey(std::string_view text, std::string_view section, std::string_view key) {
    KeyPlace place;
    bool inSection = false;
    for (size_t at = 0; at < text.size();) {
        Line line = LineAt(text, at);
        at = line.next;
        std::string_view content = text.substr(line.begin, line.end - line.begin);
        std::string_view name;
        std::string_view value;
        if (SectionHeader(content, &name)) {
            if (inSection) break;  // the section ended
            if (!place.sectionFound && SameName(name, section)) {
                place.sectionFound = true;
                inSection = true;
                place.insertAt = line.next;
                place.insertNeedsBreak = text[line.next - 1] != '\n';
            }
        } else if (inSection && KeyLine(content, &name, &value)) {
            if (SameName(name, key)) {
                place.keyFound = true;
                place.keyLine = line;
                place.value = value;
                return place;
            }
            place.insertAt = line.next;
            place.insertNeedsBreak = text[line.next - 1] != '\n';
        }
    }
    return place;
}

std::string_view LineBreakOf(std::string_view text) {
    size_t lf = text.find('\n');
    if (lf != std::string_view::npos && lf > 0 && text[lf - 1] == '\r') return "\r\n";
    return "\n";
}

// The break that ends an unterminated last line before `at`: a CR there
// already reads as its start, so only the LF is missing.
std::string_view BreakBefore(std::string_view text, size_t at, std::string_view lineBreak) {
    return at > 0 && text[at - 1] == '\r' ? std::string_view("\n") : lineBreak;
}

void SetKey(std::string* text, std::string_view section, std::string_view key, std::string_view value) {
    std::string_view lineBreak = LineBreakOf(*text);
    KeyPlace place = FindKey(*text, section, key);
    std::string line = std::string(key) + "=" + std::string(value);
    if (place.keyFound) {
        text->replace(place.keyLine.begin, place.keyLine.end - place.keyLine.begin, line);
        return;
    }
    if (place.sectionFound) {
        std::string insert =
            place.insertNeedsBreak ? std::string(BreakBefore(*text, place.insertAt, lineBreak)) : std::string();
        insert += line;
        insert += lineBreak;
        text->insert(place.insertAt, insert);
        return;
    }
    if (!text->empty() && text->back() != '\n') text->append(BreakBefore(*text, text->size(), lineBreak));
    text->append("[").append(section).append("]").append(lineBreak);
    text->append(line).append(lineBreak);
}

}  // namespace

size_t ReadIniString(const char* path, const char* section, const char* key, const char* fallback,
                     char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    std::string text;
    std::string_view result = fallback != nullptr ? std::string_view(fallback) : std::string_view();
    KeyPlace place;
    if (path != nullptr && section != nullptr && key != nullptr &&
        posix::ReadWholeFile(path, kMaxIniBytes, &text, nullptr) == FileRead::Read) {
        place = FindKey(text, section, key);
        if (place.keyFound) result = place.value;
    }
    size_t length = result.size() < size - 1 ? result.size() : size - 1;
    if (length > 0) std::memcpy(buffer, result.data(), length);
    buffer[length] = '\0';
    return length;
}

bool WriteIniStrings(const char* path, const char* section, const char* const* keys,
                     const char* const* values, size_t count) {
    if (path == nullptr || (count > 0 && (keys == nullptr || values == nullptr))) return false;
    for (size_t i = 0; i < count; ++i)
        if (!CanStoreIniEntry(section, keys[i], values[i])) return false;
    // Through a symbolic link, the file it leads to is read and replaced.
    posix::WriteTarget written;
    if (*path == '\0' || !posix::FollowLinks(path, &written)) return false;
    const std::string& target = written.path;
    std::string text;
    mode_t mode = 0;
    FileRead read = posix::ReadWholeFile(target.c_str(), kMaxIniBytes, &text, &mode);
    if (read == FileRead::Failed) return false;
    for (size_t i = 0; i < count; ++i) SetKey(&text, section, keys[i], values[i]);
    return posix::ReplaceFileAtomically(target, text,
                                        read == FileRead::Read ? std::optional<mode_t>(mode) : std::nullopt);
}

bool WriteIniString(const char* path, const char* section, const char* key, const char* value) {
    return WriteIniStrings(path, section, &key, &value, 1);
}

bool CanReadIniFile(const char* path) {
    if (path == nullptr) return false;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool readable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && uint64_t(info.st_size) <= kMaxIniBytes;
    close(fd);
    return readable;
}

}  // namespace tav::platform
