// Temporary files and mappings on POSIX. Every file lives in a folder private
// to this process (made on first use, removed when the process exits, or by
// DiscardTempFilesNow when a signal ends it), so two processes never share a
// name. A file is unlinked the moment it is created, with the signals that
// end a process held back meanwhile: the open descriptor and the mapping keep
// the pages, and no name is left behind however the process ends.
//
// Fresh memory is dear on first touch (page faults, large-page compaction,
// the file system's block reservation), and a process that keys one image
// after another asks for the same buffers every run. So a released view of a
// large buffer is not given back at once: the last few are kept, still mapped
// and still backed by their unlinked files, and handed to the next request of
// the same size. They hold no name on disk and go with the process.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <new>

namespace tav::platform {
namespace {

struct Mapping {
    int fd;
    size_t size;
    void* view;  // the mapped view, or null
};

// Released views kept for reuse: at most this many, and never more bytes
// than this in all (the four working buffers of a 6000 x 4000 run come to
// about 190 MB).
constexpr int kKeptViews = 4;
constexpr size_t kKeptBytes = size_t(1) << 30;

struct KeptView {
    int fd;
    size_t size;
    void* view;
};

std::mutex g_keptLock;
KeptView g_kept[kKeptViews];  // the first g_keptCount, the newest first
int g_keptCount = 0;

// Lets every kept view go. The caller holds g_keptLock.
void DropKeptViews() {
    for (int i = 0; i < g_keptCount; ++i) {
        munmap(g_kept[i].view, g_kept[i].size);
        close(g_kept[i].fd);
    }
    g_keptCount = 0;
}

// Gives the newest kept view of exactly `size` bytes to `file`, closing the
// descriptor it had. When none fits the run evidently differs from the last,
// and every kept view is let go before new memory is taken: a process never
// holds more than one run's buffers besides those in use.
bool TakeKeptView(Mapping* file, size_t size) {
    std::lock_guard<std::mutex> lock(g_keptLock);
    for (int i = 0; i < g_keptCount; ++i) {
        if (g_kept[i].size != size) continue;
        close(file->fd);
        file->fd = g_kept[i].fd;
        file->size = size;
        file->view = g_kept[i].view;
        for (int j = i + 1; j < g_keptCount; ++j) g_kept[j - 1] = g_kept[j];
        --g_keptCount;
        return true;
    }
    DropKeptViews();
    return false;
}

// Keeps a released view (the newest first), letting the oldest go when the
// count or the bytes would pass their caps. False when the view is not kept.
bool KeepView(const Mapping& file);

// The private folder, written once before `g_folderFd` is published; read by
// DiscardTempFilesNow, possibly from a signal handler.
char g_folder[kMaxPath];      // with a trailing separator
char g_folderName[kMaxPath];  // without: for messages
std::atomic<int> g_folderFd{-1};

char g_lastError[kMaxPath + 160];
// Why the private folder could not be made, kept for every later request:
// the first request may come from a thread whose message nobody reads, and
// the last error is cleared between runs.
char g_folderError[kMaxPath + 160];

void RecordError(const char* where, int error) {
    std::snprintf(g_lastError, sizeof g_lastError, "%s: %s", where, std::strerror(error));
}

// The signals that end a process reach only the threads that do not hold
// them back, so a signal can arrive while another thread is between making a
// name and publishing or unlinking it. Each held section is counted; the
// ending discard announces itself first and waits for the sections under
// way, and a section that starts after the announcement parks its thread
// for the little life the process has left (its signals stay held, so it
// cannot be the thread running the discard).
std::atomic<bool> g_ending{false};
std::atomic<int> g_holding{0};

// Holds back the signals that end a process for the life of the object, so
// that nothing can be left half made.
class SignalHold {
public:
    SignalHold() {
        sigset_t hold;
        sigemptyset(&hold);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&hold, signal);
        pthread_sigmask(SIG_BLOCK, &hold, &previous_);
        g_holding.fetch_add(1);
        if (g_ending.load()) {
            g_holding.fetch_sub(1);
            for (;;) pause();
        }
    }
    ~SignalHold() {
        g_holding.fetch_sub(1);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

private:
    sigset_t previous_;
};

void RemoveFolderAndFiles();

void RemovePrivateFolder() { RemoveFolderAndFiles(); }

void MakePrivateFolder() {
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || *base == '\0') base = "/tmp";
    char pattern[kMaxPath];
    int n = std::snprintf(pattern, sizeof pattern, "%s/tavrisk-XXXXXX", base);
    if (n < 0 || size_t(n) + 2 > sizeof pattern) {
        RecordError(base, ENAMETOOLONG);
        return;
    }
    SignalHold hold;
    if (mkdtemp(pattern) == nullptr) {
        RecordError(base, errno);
        return;
    }
    int fd = open(pattern, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        RecordError(pattern, errno);
        rmdir(pattern);
        return;
    }
    // The pattern left room for the separator.
    const size_t length = std::strlen(pattern);
    std::memcpy(g_folderName, pattern, length + 1);
    std::memcpy(g_folder, pattern, length);
    g_folder[length] = '/';
    g_folder[length + 1] = '\0';
    g_folderFd.store(fd);
    std::atexit(RemovePrivateFolder);
}

}  // namespace

bool GetTempFolder(char* buffer, size_t size) {
    static std::once_flag once;
    std::call_once(once, [] {
        MakePrivateFolder();
        if (g_folderFd.load() < 0) {
            if (g_lastError[0] == '\0') RecordError("the temporary folder", ENOENT);
            std::memcpy(g_folderError, g_lastError, sizeof g_folderError);
        }
    });
    if (g_folderFd.load() < 0) {
        std::memcpy(g_lastError, g_folderError, sizeof g_lastError);
        return false;
    }
    size_t length = std::strlen(g_folder);
    if (length + 1 > size) return false;
    std::memcpy(buffer, g_folder, length + 1);
    return true;
}

bool MakeTempFileName(const char* folder, const char* prefix, unsigned unique, char* buffer) {
    if (unique == 0) return false;
    int n = std::snprintf(buffer, kMaxPath, "%s%.3s%X.tmp", folder, prefix, unique & 0xFFFFu);
    return n > 0 && size_t(n) < kMaxPath;
}

FileHandle CreateTempFile(const char* path) {
    auto* file = new (std::nothrow) Mapping{-1, 0, nullptr};
    if (file == nullptr) {
        RecordError(path, ENOMEM);
        return kNoFile;
    }
    {
        SignalHold hold;
        file->fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (file->fd >= 0) unlink(path);
    }
    if (file->fd < 0) {
        RecordError(path, errno);
        delete file;
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

void CloseTempFile(FileHandle handle) {
    if (handle == kNoFile) return;
    auto* file = reinterpret_cast<Mapping*>(handle);
    // A view released by UnmapView is still mapped: kept, or let go now.
    if (file->view == nullptr || !KeepView(*file)) {
        if (file->view != nullptr) munmap(file->view, file->size);
        close(file->fd);
    }
    delete file;
}

MappingHandle CreateMapping(FileHandle handle, uint64_t size) {
    if (handle == kNoFile || size == 0 || size > uint64_t(SIZE_MAX) ||
        size > uint64_t(std::numeric_limits<off_t>::max()))
        return kNoMapping;
    auto* file = reinterpret_cast<Mapping*>(handle);
    if (file->view == nullptr && TakeKeptView(file, size_t(size))) return handle;
    // Reserve the blocks now: a sparse file on a full disk would fail later,
    // at a page fault in the middle of keying, and end the host. Reserved
    // blocks are also cheaper to fault in.
    int reserved = posix_fallocate(file->fd, 0, off_t(size));
    if (reserved == EINVAL || reserved == EOPNOTSUPP) {
        if (ftruncate(file->fd, off_t(size)) != 0) {
            RecordError(g_folderName, errno);
            return kNoMapping;
        }
    } else if (reserved != 0) {
        RecordError(g_folderName, reserved);
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
        int error = errno;
        munmap(area, reserved);
        errno = error;
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
    if (file->view != nullptr) return file->view;  // a kept view, still mapped
    void* view = MapAligned(file->fd, file->size);
    if (view == MAP_FAILED) {
        RecordError(g_folderName, errno);
        return nullptr;
    }
    // Every byte of a working buffer gets written: large pages where the
    // kernel has them (ignored where it does not).
    madvise(view, file->size, MADV_HUGEPAGE);
    file->view = view;
    return view;
}

void PrepareKeptViews(uint64_t size, int count) {
    char folder[kMaxPath];
    if (count <= 0 || count > kKeptViews || !GetTempFolder(folder, sizeof folder)) return;
    // All made before any is released: each must become a kept view of its
    // own, not the one released before it.
    struct Held {
        FileHandle file = kNoFile;
        MappingHandle mapping = kNoMapping;
        void* view = nullptr;
    } held[kKeptViews];
    for (int i = 0; i < count; ++i) {
        char path[kMaxPath];
        if (!MakeTempFileName(folder, "tav", 0xFFFFu - unsigned(i), path)) break;
        held[i].file = CreateTempFile(path);
        held[i].mapping = CreateMapping(held[i].file, size);
        held[i].view = MapWholeView(held[i].mapping);
        PrefaultView(held[i].view, held[i].mapping);
    }
    for (int i = count - 1; i >= 0; --i) {
        UnmapView(held[i].view, held[i].mapping);
        CloseMapping(held[i].mapping);
        CloseTempFile(held[i].file);
    }
}

void ReleaseKeptViews() {
    std::lock_guard<std::mutex> lock(g_keptLock);
    DropKeptViews();
}

void PrefaultView(void* view, MappingHandle handle) {
    if (view == nullptr || handle == kNoMapping) return;
    // Kernels without the advice fault pages in as they are touched.
    madvise(view, reinterpret_cast<Mapping*>(handle)->size, MADV_POPULATE_WRITE);
}

// The view stays mapped until its file is closed, which keeps it for reuse
// or unmaps it. A view of another address is unmapped at once.
void UnmapView(void* view, MappingHandle handle) {
    if (view == nullptr || handle == kNoMapping) return;
    auto* file = reinterpret_cast<Mapping*>(handle);
    if (view == file->view) return;
    munmap(view, file->size);
}

namespace {

// Every view is kept, small ones too: the mattes of a 1920 x 1080 run (2 MB
// each, below a large page) made afresh cost a file, its blocks and a fault a
// page every frame of a stream.
bool KeepView(const Mapping& file) {
    if (file.size > kKeptBytes) return false;
    std::lock_guard<std::mutex> lock(g_keptLock);
    size_t bytes = file.size;
    int count = 0;
    while (count < g_keptCount && count + 1 < kKeptViews && bytes + g_kept[count].size <= kKeptBytes)
        bytes += g_kept[count++].size;
    for (int i = count; i < g_keptCount; ++i) {
        munmap(g_kept[i].view, g_kept[i].size);
        close(g_kept[i].fd);
    }
    for (int i = count; i > 0; --i) g_kept[i] = g_kept[i - 1];
    g_kept[0] = KeptView{file.fd, file.size, file.view};
    g_keptCount = count + 1;
    return true;
}

}  // namespace

bool FileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

const char* LastTempFileError() { return g_lastError; }

void ClearTempFileError() { g_lastError[0] = '\0'; }

void DiscardTempFilesNow() {
    g_ending.store(true);
    // A section under way on another thread ends within microseconds; a
    // thread stuck in one (a hung file system) is not waited for past 2 s.
    const timespec tick{0, 1000000};
    for (int waited = 0; g_holding.load() > 0 && waited < 2000; ++waited) nanosleep(&tick, nullptr);
    RemoveFolderAndFiles();
}

namespace {

// Only system calls: this may run in a signal handler.
void RemoveFolderAndFiles() {
    int fd = g_folderFd.exchange(-1);
    if (fd < 0) return;
    // Files are unlinked as they are made, so the folder is normally empty;
    // anything found in it is removed all the same.
    struct Entry {
        uint64_t inode;
        int64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
    };
    alignas(8) char entries[4096];
    for (int pass = 0; pass < 64; ++pass) {
        lseek(fd, 0, SEEK_SET);
        long got = syscall(SYS_getdents64, fd, entries, sizeof entries);
        if (got <= 0) break;
        bool removed = false;
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const Entry*>(entries + at);
            const char* name = entries + at + offsetof(Entry, name);
            at += entry->length;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            removed |= unlinkat(fd, name, 0) == 0;
        }
        if (!removed) break;
    }
    close(fd);
    rmdir(g_folder);
}

}  // namespace

}  // namespace tav::platform
