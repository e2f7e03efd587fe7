#include "platform/file_mapping.h"

#include <windows.h>

#include <cstdio>

namespace tav::platform {
namespace {

char g_lastError[kMaxPath + 256];

// Keeps "where: the system's words for the last error".
void RecordError(const char* where) {
    DWORD code = GetLastError();
    int n = std::snprintf(g_lastError, sizeof g_lastError, "%s: ", where);
    if (n < 0 || size_t(n) >= sizeof g_lastError) return;
    DWORD written = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   0, g_lastError + n, DWORD(sizeof g_lastError - size_t(n)), nullptr);
    // The system's text ends with a line break.
    while (written > 0 && (g_lastError[n + written - 1] == '\n' || g_lastError[n + written - 1] == '\r'))
        g_lastError[n + --written] = '\0';
    if (written == 0) std::snprintf(g_lastError + n, sizeof g_lastError - size_t(n), "error %lu", code);
}

}  // namespace

bool GetTempFolder(char* buffer, size_t size) {
    DWORD n = GetTempPathA(DWORD(size), buffer);
    if (n == 0) RecordError("the temporary folder");
    return n != 0 && n < size;
}

bool MakeTempFileName(const char* folder, const char* prefix, unsigned unique, char* buffer) {
    if (unique == 0) return false;
    return GetTempFileNameA(folder, prefix, unique, buffer) != 0;
}

FileHandle CreateTempFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        RecordError(path);
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

void CloseTempFile(FileHandle file) {
    if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

MappingHandle CreateMapping(FileHandle file, uint64_t size) {
    if (file == kNoFile || size == 0 || size > uint64_t(SIZE_MAX)) return kNoMapping;
    HANDLE mapping = CreateFileMappingA(reinterpret_cast<HANDLE>(file), nullptr, PAGE_READWRITE,
                                        DWORD(size >> 32), DWORD(size & 0xFFFFFFFFu), nullptr);
    if (mapping == nullptr) {
        RecordError("the temporary file's mapping");
        return kNoMapping;
    }
    return reinterpret_cast<MappingHandle>(mapping);
}

void CloseMapping(MappingHandle mapping) {
    if (mapping != kNoMapping) CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

void* MapWholeView(MappingHandle mapping) {
    if (mapping == kNoMapping) return nullptr;
    void* view = MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) RecordError("the temporary file's view");
    return view;
}

void UnmapView(void* view, MappingHandle) {
    if (view) UnmapViewOfFile(view);
}

// Released views are unmapped at once: none is kept.
void PrepareKeptViews(uint64_t, int) {}

void ReleaseKeptViews() {}

// The system commits a view's pages as they are first written.
void PrefaultView(void*, MappingHandle) {}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

const char* LastTempFileError() { return g_lastError; }

void ClearTempFileError() { g_lastError[0] = '\0'; }

// The files are delete-on-close: the system removes them when the process's
// handles close, however it ends.
void DiscardTempFilesNow() {}

}  // namespace tav::platform
