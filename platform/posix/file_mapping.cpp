// Temporary files and mappings on POSIX. Every file lives in a folder private
// to this process (made on first use, removed when the process exits), so two
// processes never share a name. A file is unlinked as soon as its mapping
// exists: the mapping keeps the pages, and nothing is left behind when the
// process ends, however it ends.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

namespace tav::platform {
namespace {

struct Mapping {
    int fd;
    size_t size;
    char path[kMaxPath];
};

std::string& PrivateFolder() {
    static std::string folder;
    return folder;
}

void RemovePrivateFolder() {
    if (!PrivateFolder().empty()) rmdir(PrivateFolder().c_str());
}

}  // namespace

bool GetTempFolder(char* buffer, size_t size) {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* base = std::getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = "/tmp";
        std::string pattern = std::string(base) + "/tavrisk-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            PrivateFolder() = pattern + "/";
            std::atexit(RemovePrivateFolder);
        }
    });
    const std::string& folder = PrivateFolder();
    if (folder.empty() || folder.size() + 1 > size) return false;
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return true;
}

bool MakeTempFileName(const char* folder, const char* prefix, unsigned unique, char* buffer) {
    if (unique == 0) return false;
    int n = std::snprintf(buffer, kMaxPath, "%s%.3s%X.tmp", folder, prefix, unique & 0xFFFFu);
    return n > 0 && size_t(n) < kMaxPath;
}

FileHandle CreateTempFile(const char* path) {
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return kNoFile;
    auto* file = new (std::nothrow) Mapping{fd, 0, {}};
    if (file == nullptr) {
        close(fd);
        unlink(path);
        return kNoFile;
    }
    std::snprintf(file->path, kMaxPath, "%s", path);
    return reinterpret_cast<FileHandle>(file);
}

void CloseTempFile(FileHandle handle) {
    if (handle == kNoFile) return;
    auto* file = reinterpret_cast<Mapping*>(handle);
    if (file->path[0] != '\0') unlink(file->path);
    close(file->fd);
    delete file;
}

MappingHandle CreateMapping(FileHandle handle, uint64_t size) {
    if (handle == kNoFile || size == 0 || size > uint64_t(SIZE_MAX) ||
        size > uint64_t(std::numeric_limits<off_t>::max()))
        return kNoMapping;
    auto* file = reinterpret_cast<Mapping*>(handle);
    // Reserve the blocks now: a sparse file on a full disk would fail later,
    // at a page fault in the middle of keying, and end the host. Reserved
    // blocks are also cheaper to fault in.
    int reserved = posix_fallocate(file->fd, 0, off_t(size));
    if (reserved == EINVAL || reserved == EOPNOTSUPP) {
        if (ftruncate(file->fd, off_t(size)) != 0) return kNoMapping;
    } else if (reserved != 0) {
        return kNoMapping;
    }
    file->size = size_t(size);
    return handle;
}

void CloseMapping(MappingHandle) {}

namespace {

// Large pages make first use of a fresh buffer far cheaper (one fault per
// 2 MiB instead of one per 4 KiB page), but the kernel maps a file with them
// only where the view's address is aligned to that size.
constexpr size_t kLargePage = size_t(2) << 20;

// Maps the whole file at an address aligned to kLargePage when the buffer is
// at least that big; any address otherwise.
void* MapAligned(int fd, size_t size) {
    if (size < kLargePage) return mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    // Reserve room for the view plus the alignment, place the view inside the
    // reservation, and give the slack on either side back.
    if (size > SIZE_MAX - kLargePage) return MAP_FAILED;
    const size_t reserved = size + kLargePage;
    void* area = mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) return MAP_FAILED;
    const uintptr_t start = reinterpret_cast<uintptr_t>(area);
    const uintptr_t aligned = (start + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
    void* view = mmap(reinterpret_cast<void*>(aligned), size, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_FIXED, fd, 0);
    if (view == MAP_FAILED) {
        munmap(area, reserved);
        return MAP_FAILED;
    }
    if (aligned > start) munmap(area, aligned - start);
    const uintptr_t end = start + reserved;
    if (aligned + size < end) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    return view;
}

}  // namespace

void* MapWholeView(MappingHandle handle) {
    if (handle == kNoMapping) return nullptr;
    auto* file = reinterpret_cast<Mapping*>(handle);
    void* view = MapAligned(file->fd, file->size);
    if (view == MAP_FAILED) return nullptr;
    // Every byte of a working buffer gets written: ask for large pages, then
    // fault the whole view in with one call rather than one page at a time.
    // Kernels without either advice ignore it and fault pages in as they are
    // touched.
    madvise(view, file->size, MADV_HUGEPAGE);
    madvise(view, file->size, MADV_POPULATE_WRITE);
    // The mapping holds the pages now: the name is no longer needed.
    unlink(file->path);
    file->path[0] = '\0';
    return view;
}

void UnmapView(void* view, MappingHandle handle) {
    if (view == nullptr || handle == kNoMapping) return;
    munmap(view, reinterpret_cast<Mapping*>(handle)->size);
}

bool FileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

}  // namespace tav::platform
