#include "platform/file_mapping.h"

#include <windows.h>

namespace tav::platform {

bool GetTempFolder(char* buffer, size_t size) {
    DWORD n = GetTempPathA(DWORD(size), buffer);
    return n != 0 && n < size;
}

bool MakeTempFileName(const char* folder, const char* prefix, unsigned unique, char* buffer) {
    if (unique == 0) return false;
    return GetTempFileNameA(folder, prefix, unique, buffer) != 0;
}

FileHandle CreateTempFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

void CloseTempFile(FileHandle file) {
    if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

MappingHandle CreateMapping(FileHandle file, uint64_t size) {
    if (file == kNoFile || size == 0 || size > uint64_t(SIZE_MAX)) return kNoMapping;
    HANDLE mapping = CreateFileMappingA(reinterpret_cast<HANDLE>(file), nullptr, PAGE_READWRITE,
                                        DWORD(size >> 32), DWORD(size & 0xFFFFFFFFu), nullptr);
    return mapping ? reinterpret_cast<MappingHandle>(mapping) : kNoMapping;
}

void CloseMapping(MappingHandle mapping) {
    if (mapping != kNoMapping) CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

void* MapWholeView(MappingHandle mapping) {
    if (mapping == kNoMapping) return nullptr;
    return MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_WRITE, 0, 0, 0);
}

void UnmapView(void* view, MappingHandle) {
    if (view) UnmapViewOfFile(view);
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace tav::platform
