#include "platform/posix/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace tav::platform::posix {
namespace {

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// At most this much of the target's name goes into the temporary name, so
// that with its decoration ('.', the process id, a counter, ".tmp") it stays
// within the 255 bytes of a file name whatever the target's name.
constexpr size_t kMaxTempBaseBytes = 200;

// A new file beside `target`, created with 0666 less the process's umask.
int CreateTempBeside(const std::string& target, std::string* temp) {
    static std::atomic<unsigned> counter{0};
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.size() > kMaxTempBaseBytes) base.resize(kMaxTempBaseBytes);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp = folder + "." + base + "." + std::to_string(getpid()) + "." +
                std::to_string(counter.fetch_add(1)) + ".tmp";
        int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool FollowLinks(const std::string& path, WriteTarget* target) {
    target->path = path;
    for (int links = 0;; ++links) {
        if (lstat(target->path.c_str(), &target->info) != 0) {
            target->exists = false;
            return errno == ENOENT;
        }
        target->exists = true;
        if (!S_ISLNK(target->info.st_mode)) return true;
        if (links == 40) {
            errno = ELOOP;
            return false;
        }
        std::string link(size_t(target->info.st_size) + 1, '\0');
        const ssize_t n = readlink(target->path.c_str(), link.data(), link.size());
        if (n < 0) return false;
        if (size_t(n) >= link.size()) {  // it changed meanwhile
            errno = EAGAIN;
            return false;
        }
        link.resize(size_t(n));
        // A relative link is relative to the folder it is in.
        const size_t slash = target->path.rfind('/');
        if (link.empty() || link[0] != '/') {
            if (slash != std::string::npos) link = target->path.substr(0, slash + 1) + link;
        }
        target->path = std::move(link);
    }
}

FileRead ReadWholeFile(const char* path, size_t maxBytes, std::string* text, mode_t* mode) {
    text->clear();
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || uint64_t(info.st_size) > maxBytes) {
        close(fd);
        return FileRead::Failed;
    }
    if (mode != nullptr) *mode = info.st_mode & 07777;
    char block[16384];
    for (;;) {
        ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return FileRead::Failed;
        }
        if (n == 0) break;
        text->append(block, size_t(n));
        if (text->size() > maxBytes) {
            close(fd);
            return FileRead::Failed;
        }
    }
    close(fd);
    return FileRead::Read;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::optional<mode_t> mode) {
    WriteTarget written;
    if (!FollowLinks(path, &written)) return false;
    if (written.exists && !S_ISREG(written.info.st_mode)) {
        errno = EINVAL;
        return false;
    }
    const std::string& target = written.path;
    std::string temp;
    int fd = CreateTempBeside(target, &temp);
    if (fd < 0) return false;
    bool ok = (!mode || fchmod(fd, *mode) == 0) && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;  // the reason, for the caller's message
        unlink(temp.c_str());
        errno = error;
        return false;
    }
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".")
                         : slash == 0               ? std::string("/")
                                                    : target.substr(0, slash);
    int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

}  // namespace tav::platform::posix
