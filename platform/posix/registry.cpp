// The registry on POSIX: two stores of our own, folders holding one file for
// each key.
//
//   per user:    $TAVRISK_USER_STORE, else $XDG_CONFIG_HOME/tavrisk, else
//                ~/.config/tavrisk
//   per machine: $TAVRISK_MACHINE_STORE, else /etc/tavrisk
//
// A key's file name is its subkey path folded to lower case (key names are
// case-insensitive), with every byte other than a-z, 0-9, blank, '_' and '-'
// written as %XX, plus ".key"; the empty subkey (the root itself) is
// "(root).key". No name can hold a separator or be "." or "..", so no subkey
// reaches outside its store.
//
// A key file holds one value a line, in the order of their first writing:
//
//   name=dword:0000001e          a 4-byte number (REG_DWORD)
//   name=sz:C:%5Cpath            text; the stored bytes are the text and a NUL
//   name=hex(3):01,ff,20         any other type or size, byte by byte
//
// In names and text a byte below 0x20, 0x7F and '%' are written %XX; in names
// also '=' and '#'. Lines starting with '#' are comments, blank lines and a
// trailing CR are ignored. A line that does not parse is skipped and dropped
// at the next write; a later duplicate of a name is ignored, so a damaged or
// foreign file reads as (partly) empty and never fails. A write replaces the
// whole file: a temporary file in the same folder is written, synced and
// renamed over the key file, so a crash leaves the old file or the new one.
//
// Opening stands for full access: an existing store folder must be writable
// and an existing key file readable and writable; otherwise there is no key.
// Opening creates nothing: a key that does not exist yet reads as empty, and
// its folder (with its parents) and file are made by the first write, so
// that reading settings leaves no trace. Two processes writing the same key
// at once may lose one of the two writes, never the file.
#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/names.h"
#include "platform/posix/whole_file.h"

namespace tav::platform {
namespace {

constexpr size_t kMaxStoreBytes = 8u << 20;    // a larger file is not ours: read as empty
constexpr uint32_t kMaxValueBytes = 1u << 20;  // the system's limit for one value
constexpr size_t kMaxFileNameBytes = 240;

struct OpenKey {
    std::string folder;
    std::string file;
    mode_t folderMode;
    mode_t fileMode;
};

struct StoredValue {
    std::string name;
    uint32_t type;
    std::string data;
};

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (IsAbsolute(home)) return home;
    if (const passwd* user = getpwuid(getuid()); user != nullptr && IsAbsolute(user->pw_dir))
        return user->pw_dir;
    return {};
}

std::string StoreFolder(RegistryRoot root) {
    if (root == RegistryRoot::LocalMachine) {
        const char* store = std::getenv("TAVRISK_MACHINE_STORE");
        if (store != nullptr && *store != '\0') return store;
        return "/etc/tavrisk";
    }
    const char* store = std::getenv("TAVRISK_USER_STORE");
    if (store != nullptr && *store != '\0') return store;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (IsAbsolute(config)) return std::string(config) + "/tavrisk";
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return home + "/.config/tavrisk";
}

// Creates `folder` and its missing parents.
bool MakeFolders(const std::string& folder, mode_t mode) {
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        std::string part = folder.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A byte written as %XX.
void AppendEscapedByte(uint8_t byte, std::string* out) {
    static const char kHex[] = "0123456789ABCDEF";
    *out += '%';
    *out += kHex[byte >> 4];
    *out += kHex[byte & 15];
}

std::string KeyFileName(const char* subkey) {
    if (*subkey == '\0') return "(root).key";
    std::string name;
    for (const char* p = subkey; *p != '\0'; ++p) {
        char c = FoldCase(*p);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '_' || c == '-') {
            name += c;
        } else {
            AppendEscapedByte(uint8_t(c), &name);
        }
        if (name.size() > kMaxFileNameBytes) return {};
    }
    return name + ".key";
}

// ---- The key file's text ----------------------------------------------------

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int high = HexDigit(text[i + 1]);
        int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *out += char(high * 16 + low);
        i += 2;
    }
    return true;
}

void Escape(std::string_view bytes, bool isName, std::string* out) {
    for (char c : bytes) {
        auto b = uint8_t(c);
        if (b < 0x20 || b == 0x7F || c == '%' || (isName && (c == '=' || c == '#'))) {
            AppendEscapedByte(b, out);
        } else {
            *out += c;
        }
    }
}

bool ParseHexBytes(std::string_view text, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    for (size_t i = 0;; i += 3) {
        if (i + 2 > text.size()) return false;
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        *out += char(high * 16 + low);
        if (i + 2 == text.size()) return out->size() <= kMaxValueBytes;
        if (text[i + 2] != ',') return false;
    }
}

bool ParseLine(std::string_view line, StoredValue* value) {
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    if (!Unescape(line.substr(0, equals), &value->name)) return false;
    std::string_view rest = line.substr(equals + 1);
    if (rest.starts_with("dword:")) {
        std::string_view digits = rest.substr(6);
        if (digits.size() != 8) return false;
        uint32_t number = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) return false;
            number = number * 16 + uint32_t(digit);
        }
        value->type = kRegistryNumber;
        value->data.assign({char(number & 0xFF), char((number >> 8) & 0xFF), char((number >> 16) & 0xFF),
                            char(number >> 24)});
        return true;
    }
    if (rest.starts_with("sz:")) {
        if (!Unescape(rest.substr(3), &value->data)) return false;
        value->data += '\0';
        value->type = kRegistryText;
        return value->data.size() <= kMaxValueBytes;
    }
    if (rest.starts_with("hex(")) {
        size_t close = rest.find("):");
        if (close == std::string_view::npos || close == 4 || close > 14) return false;
        uint64_t type = 0;
        for (char c : rest.substr(4, close - 4)) {
            if (c < '0' || c > '9') return false;
            type = type * 10 + uint64_t(c - '0');
        }
        if (type > UINT32_MAX) return false;
        value->type = uint32_t(type);
        return ParseHexBytes(rest.substr(close + 2), &value->data);
    }
    return false;
}

std::vector<StoredValue> ParseStore(std::string_view text) {
    std::vector<StoredValue> values;
    std::unordered_set<std::string> seen;  // names folded to lower case
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        StoredValue value;
        if (!ParseLine(line, &value)) continue;
        std::string folded = value.name;
        for (char& c : folded) c = FoldCase(c);
        if (seen.insert(std::move(folded)).second) values.push_back(std::move(value));
    }
    return values;
}

std::string FormatStore(const std::vector<StoredValue>& values) {
    std::string text =
        "# Tavrisk settings store: name=dword:<8 hex digits>, name=sz:<text> or\n"
        "# name=hex(<type>):<bytes>, one value a line; %XX stands for a byte.\n";
    for (const StoredValue& value : values) {
        Escape(value.name, true, &text);
        text += '=';
        const std::string& data = value.data;
        if (value.type == kRegistryNumber && data.size() == 4) {
            char digits[16];
            uint32_t number = uint32_t(uint8_t(data[0])) | uint32_t(uint8_t(data[1])) << 8 |
                              uint32_t(uint8_t(data[2])) << 16 | uint32_t(uint8_t(data[3])) << 24;
            std::snprintf(digits, sizeof digits, "dword:%08x", unsigned(number));
            text += digits;
        } else if (value.type == kRegistryText && !data.empty() && data.back() == '\0') {
            text += "sz:";
            Escape(std::string_view(data).substr(0, data.size() - 1), false, &text);
        } else {
            char head[24];
            std::snprintf(head, sizeof head, "hex(%u):", unsigned(value.type));
            text += head;
            static const char kHex[] = "0123456789abcdef";
            for (size_t i = 0; i < data.size(); ++i) {
                if (i > 0) text += ',';
                text += kHex[uint8_t(data[i]) >> 4];
                text += kHex[uint8_t(data[i]) & 15];
            }
        }
        text += '\n';
    }
    return text;
}

// ---- Files --------------------------------------------------------------------

// The whole file; a missing, unreadable or oversized file reads as empty.
std::string ReadStoreFile(const std::string& path) {
    std::string text;
    if (posix::ReadWholeFile(path.c_str(), kMaxStoreBytes, &text, nullptr) != posix::FileRead::Read)
        text.clear();
    return text;
}

bool HasFullAccess(const std::string& path, int mode) {
    return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// The store folder of `root` and the name of the key file for `subkey`;
// false when the subkey is no valid key name or the store has no folder.
bool LocateKey(RegistryRoot root, const char* subkey, std::string* folder, std::string* name) {
    if (subkey == nullptr || subkey[0] == '\\') return false;
    *folder = StoreFolder(root);
    *name = KeyFileName(subkey);
    return !folder->empty() && !name->empty();
}

}  // namespace

RegistryKey CreateRegistryKey(RegistryRoot root, const char* subkey) {
    std::string folder, name;
    if (!LocateKey(root, subkey, &folder, &name)) return kNoRegistryKey;
    bool machine = root == RegistryRoot::LocalMachine;
    struct stat info;
    if (stat(folder.c_str(), &info) == 0 &&
        (!S_ISDIR(info.st_mode) || !HasFullAccess(folder, R_OK | W_OK | X_OK)))
        return kNoRegistryKey;

    auto* key = new (std::nothrow)
        OpenKey{folder, folder + "/" + name, mode_t(machine ? 0755 : 0700), mode_t(machine ? 0644 : 0600)};
    if (key == nullptr) return kNoRegistryKey;
    if (lstat(key->file.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || !HasFullAccess(key->file, R_OK | W_OK)) {
            delete key;
            return kNoRegistryKey;
        }
        key->fileMode = info.st_mode & 07777;
    }
    return reinterpret_cast<RegistryKey>(key);
}

bool RegistryKeyExists(RegistryRoot root, const char* subkey) {
    std::string folder, name;
    if (!LocateKey(root, subkey, &folder, &name)) return false;
    struct stat info;
    return lstat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool QueryRegistryValue(RegistryKey handle, const char* name, void* data, uint32_t* type, uint32_t* size) {
    if (handle == kNoRegistryKey || (data != nullptr && size == nullptr)) return false;
    const auto* key = reinterpret_cast<const OpenKey*>(handle);
    if (name == nullptr) name = "";
    for (const StoredValue& value : ParseStore(ReadStoreFile(key->file))) {
        if (!SameName(value.name, name)) continue;
        if (type != nullptr) *type = value.type;
        uint32_t capacity = size != nullptr ? *size : 0;
        if (size != nullptr) *size = uint32_t(value.data.size());
        if (data == nullptr) return true;
        if (value.data.size() > capacity) return false;
        if (!value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
        return true;
    }
    return false;
}

bool SetRegistryValue(RegistryKey handle, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (handle == kNoRegistryKey || size > kMaxValueBytes || (data == nullptr && size != 0)) return false;
    const auto* key = reinterpret_cast<const OpenKey*>(handle);
    if (name == nullptr) name = "";
    std::vector<StoredValue> values = ParseStore(ReadStoreFile(key->file));
    std::string bytes = size != 0 ? std::string(static_cast<const char*>(data), size) : std::string();
    bool replaced = false;
    for (StoredValue& value : values) {
        if (!SameName(value.name, name)) continue;
        value.type = type;
        value.data = bytes;
        replaced = true;
        break;
    }
    if (!replaced) values.push_back({name, type, bytes});
    // The first write makes the store.
    if (!MakeFolders(key->folder, key->folderMode)) return false;
    return posix::ReplaceFileAtomically(key->file, FormatStore(values), key->fileMode);
}

void CloseRegistryKey(RegistryKey key) {
    if (key != kNoRegistryKey) delete reinterpret_cast<OpenKey*>(key);
}

}  // namespace tav::platform
