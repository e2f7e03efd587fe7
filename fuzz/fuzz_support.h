// What the fuzz targets share: a check that stops the run (libFuzzer then
// keeps the input as a crash), and a folder private to the process for the
// files the targets write, with the settings stores inside it.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tav::fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tav::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

// A fresh folder under $TMPDIR (else /tmp), made on first use and removed
// with its contents when the process exits normally. The name is never
// destroyed: the exit handler still needs it.
inline const std::string& PrivateFolder() {
    static const std::string& folder = *new std::string([] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tavrisk-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        FUZZ_CHECK(mkdtemp(name.data()) != nullptr);
        std::atexit([] {
            nftw(
                PrivateFolder().c_str(),
                [](const char* path, const struct stat*, int, FTW*) { return std::remove(path); }, 16,
                FTW_DEPTH | FTW_PHYS);
        });
        return std::string(name.data());
    }());
    return folder;
}

// Points the registry's user and machine stores into the private folder, so
// that no run reads or changes the real ones.
inline void UsePrivateSettingsStores() {
    setenv("TAVRISK_USER_STORE", (PrivateFolder() + "/user").c_str(), 1);
    setenv("TAVRISK_MACHINE_STORE", (PrivateFolder() + "/machine").c_str(), 1);
}

// Removes the files directly inside `folder`.
inline void ClearFolder(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.' || (entry->d_name[1] != '\0' && entry->d_name[1] != '.'))
            unlink((folder + "/" + entry->d_name).c_str());
    closedir(dir);
}

// The names of the files directly inside `folder`.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.emplace_back(entry->d_name);
    closedir(dir);
    return names;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

inline std::string ReadFile(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(file != nullptr);
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, n);
    std::fclose(file);
    return bytes;
}

// The lines of `text` without their line breaks (LF, or CR LF), as the
// initialisation-file and store readers split them.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

}  // namespace tav::fuzz
