#include "keyer/image_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "keyer/interrupt.h"
#include "keyer/jpeg_reader.h"
#include "keyer/png_reader.h"
#include "platform/posix/whole_file.h"

namespace tav::cli {

bool DecodeImage(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return DecodePng(data, size, options, image, error);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return DecodeJpeg(data, size, options, image, error);
    *error = "not a PNG or JPEG image";
    return false;
}

bool ReadImage(const std::string& path, const ReadOptions& options, Image* image, std::string* error) {
    // Non-blocking, so that a FIFO cannot hold the open up; only regular
    // files are read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(errno);
        return false;
    }
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { close(*f); });
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = SystemError(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = "is a directory";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "is not a regular file";
        return false;
    }
    // Eight bytes a pixel (16-bit RGBA) uncompressed, plus room for chunks
    // and markers: a larger file is no image within the budget.
    const uint64_t largest = uint64_t(options.maxPixels) * 8 + (uint64_t(64) << 20);
    if (uint64_t(st.st_size) > largest) {
        *error = "the file is too large for an image within the budget of " + std::to_string(options.maxPixels) +
                 " pixels (--max-pixels)";
        return false;
    }
    std::vector<uint8_t> bytes;
    AssignZeros(&bytes, size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = SystemError(errno);
            return false;
        }
        if (n == 0) break;  // the file shrank while it was read
        got += size_t(n);
    }
    bytes.resize(got);
    // The file's bytes are its own: a PNG's image data is joined in them.
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0)
        return DecodePng(bytes.data(), bytes.size(), options, image, error, bytes.data());
    return DecodeImage(bytes.data(), bytes.size(), options, image, error);
}

bool WritePng(const std::string& path, const Image& image, std::string* error, const WriteOptions& options) {
    int failure = 0;
    std::string why;
    auto writeTo = [&](int fd) {
        return EncodePng(image, options, [&](const uint8_t* bytes, size_t n) {
            while (n > 0) {
                const ssize_t written = write(fd, bytes, n);
                if (written < 0 && errno == EINTR) continue;
                if (written < 0) {
                    failure = errno;
                    return false;
                }
                bytes += written, n -= size_t(written);
            }
            return true;
        }, &why);
    };
    auto report = [&](const std::string& what) {
        *error = what + (failure == EPIPE ? "closed by its reader (EPIPE)" : failure > 0 ? SystemError(failure) : why);
        return false;
    };
    if (path == kStandardOutput) {
        // A reader that goes away is reported as such, not a signal's death.
        signal(SIGPIPE, SIG_IGN);
        return writeTo(STDOUT_FILENO) || report("cannot write: ");
    }

    // Through a symbolic link, the file it leads to is replaced and the
    // link stays; an existing file keeps its permissions.
    platform::posix::WriteTarget target;
    if (!platform::posix::FollowLinks(path, &target)) {
        *error = "cannot write: " + SystemError(errno);
        return false;
    }
    if (target.exists && !S_ISREG(target.info.st_mode) && !S_ISDIR(target.info.st_mode)) {
        *error = "cannot write: not a regular file; it is left as it is";
        return false;
    }
    PartialFile partial;
    const int fd = partial.Create(target.path);
    if (fd < 0) {
        *error = "cannot create a file beside it: " + SystemError(errno);
        return false;
    }
    fchmod(fd, target.exists ? target.info.st_mode & 07777 : 0644);
    bool ok = writeTo(fd);
    if (ok && fsync(fd) != 0) ok = false, failure = errno;
    if (close(fd) != 0 && ok) ok = false, failure = errno;
    if (ok && !partial.Commit()) ok = false, failure = errno;
    if (ok) return true;
    partial.Discard();
    return report("cannot write: ");
}

}  // namespace tav::cli
