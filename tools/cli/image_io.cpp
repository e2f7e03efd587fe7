#include "tools/cli/image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "tools/cli/interrupt.h"

namespace tav::cli {
namespace {

constexpr int64_t kMaxSide = 32767;  // the host's coordinates are 16-bit

// "No space left on device (ENOSPC)".
std::string SystemError(int error) {
    std::string text = std::strerror(error);
    if (const char* name = strerrorname_np(error)) text += std::string(" (") + name + ")";
    return text;
}

bool CheckSize(int64_t width, int64_t height, const ReadOptions& options, std::string* error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        *error = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1..32767";
        return false;
    }
    if (width * height > options.maxPixels) {
        *error = "the image's " + std::to_string(width) + " x " + std::to_string(height) + " pixels exceed the budget of " +
                 std::to_string(options.maxPixels) + " (--max-pixels)";
        return false;
    }
    return true;
}

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// What the chunk list of a PNG says before anything is decoded: whether the
// file is whole, and how many bytes of compressed image data it holds.
struct PngChunks {
    bool whole = false;  // every chunk complete, up to IEND
    uint64_t imageDataBytes = 0;
    int bitDepth = 0, colourType = 0;
};

PngChunks WalkPngChunks(const uint8_t* data, size_t size) {
    PngChunks chunks;
    size_t at = 8;
    while (size - at >= 12) {
        const uint64_t length = BigEndian32(data + at);
        const uint8_t* type = data + at + 4;
        if (length > size - at - 12) return chunks;  // the file ends inside the chunk
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
            chunks.bitDepth = data[at + 16];
            chunks.colourType = data[at + 17];
        }
        if (std::memcmp(type, "IDAT", 4) == 0) chunks.imageDataBytes += length;
        if (std::memcmp(type, "IEND", 4) == 0) {
            chunks.whole = true;
            return chunks;
        }
        at += 12 + size_t(length);
    }
    return chunks;
}

// The fewest bytes the image data inflates to: every pixel's bits, rows
// rounded up to whole bytes, without the filter bytes (an interlaced image
// holds at least as many).
uint64_t LeastInflatedBytes(const PngChunks& chunks, uint64_t width, uint64_t height) {
    int samples = chunks.colourType == 2 ? 3 : chunks.colourType == 4 ? 2 : chunks.colourType == 6 ? 4 : 1;
    return height * ((width * uint64_t(samples) * uint64_t(std::max(chunks.bitDepth, 1)) + 7) / 8);
}

// Deflate turns one byte into at most 1032 (zlib's own figure); rounded up.
constexpr uint64_t kMostInflation = 1100;

bool DecodePng(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    const PngChunks chunks = WalkPngChunks(data, size);
    if (!chunks.whole) {
        *error = "truncated PNG (the file ends before its last chunk)";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data, size)) {
        *error = std::string("not a valid PNG (") + png.message + ")";
        return false;
    }
    std::unique_ptr<png_image, void (*)(png_image*)> release(&png, png_image_free);
    if (!CheckSize(png.width, png.height, options, error)) return false;
    if (chunks.imageDataBytes * kMostInflation < LeastInflatedBytes(chunks, png.width, png.height)) {
        *error = "truncated PNG (" + std::to_string(chunks.imageDataBytes) + " bytes of image data cannot hold " +
                 std::to_string(png.width) + " x " + std::to_string(png.height) + " pixels)";
        return false;
    }
    image->hadAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGBA;
    // 16-bit files without gamma information are, in practice, sRGB encoded
    // like their 8-bit siblings: scale them, do not re-encode them.
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image->width = int(png.width);
    image->height = int(png.height);
    image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr)) {
        const bool short_ = std::strstr(png.message, "Not enough image data") != nullptr ||
                            std::strstr(png.message, "beyond end") != nullptr;
        *error = std::string(short_ ? "truncated PNG (" : "corrupt PNG (") + png.message + ")";
        image->rgba.clear();
        return false;
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool acceptWarnings;
    char message[JMSG_LENGTH_MAX + 32];
};

[[noreturn]] void FailJpeg(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    char detail[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, detail);
    std::snprintf(error->message, sizeof error->message, "truncated or corrupt JPEG (%s)", detail);
    std::longjmp(error->jump, 1);
}

extern "C" void OnJpegError(j_common_ptr info) { FailJpeg(info); }

// Warnings (level -1) are data the decoder had to make up: a cut or damaged
// file. Trace messages (levels 0 and up) are ignored; nothing is printed.
extern "C" void OnJpegMessage(j_common_ptr info, int level) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    if (level < 0 && !error->acceptWarnings) FailJpeg(info);
}

extern "C" void OnJpegOutput(j_common_ptr) {}

bool DecodeJpeg(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    jpeg_decompress_struct info;
    JpegError jerr;
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = OnJpegError;
    jerr.manager.emit_message = OnJpegMessage;
    jerr.manager.output_message = OnJpegOutput;
    jerr.acceptWarnings = options.acceptJpegWarnings;
    std::vector<uint8_t>* rgba = &image->rgba;
    // Everything with a destructor lives outside the jump's reach.
    std::vector<JSAMPLE> row;
    if (setjmp(jerr.jump)) {
        *error = jerr.message;
        jpeg_destroy_decompress(&info);
        rgba->clear();
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        std::snprintf(jerr.message, sizeof jerr.message, "CMYK JPEG images are not supported");
        std::longjmp(jerr.jump, 1);
    }
    if (!CheckSize(info.image_width, info.image_height, options, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image->width = int(info.output_width);
    image->height = int(info.output_height);
    image->hadAlpha = false;
    const size_t rowBytes = size_t(image->width) * 4;
    // The pixels grow with the rows decoded: a small file that claims a large
    // size fails at its end before it has cost much memory.
    rgba->clear();
    rgba->reserve(std::min(rowBytes * size_t(image->height), std::max<size_t>(size * 64, size_t(1) << 20)));
    row.resize(size_t(image->width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        rgba->resize(rgba->size() + rowBytes);
        uint8_t* out = rgba->data() + rgba->size() - rowBytes;
        for (int x = 0; x < image->width; ++x) {
            out[4 * x] = row[3 * size_t(x)];
            out[4 * x + 1] = row[3 * size_t(x) + 1];
            out[4 * x + 2] = row[3 * size_t(x) + 2];
            out[4 * x + 3] = 255;
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) return DecodePng(data, size, options, image, error);
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
    std::vector<uint8_t> bytes(size_t(st.st_size));
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
    return DecodeImage(bytes.data(), bytes.size(), options, image, error);
}

bool WritePng(const std::string& path, const Image& image, std::string* error) {
    PartialFile partial;
    int fd = partial.Create(path);
    if (fd < 0) {
        *error = "cannot create a file beside it: " + SystemError(errno);
        return false;
    }
    fchmod(fd, 0644);
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        *error = SystemError(errno);
        close(fd);
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGBA;
    // Keyed photographs compress poorly whatever the effort: favour speed.
    png.flags = PNG_IMAGE_FLAG_FAST;
    errno = 0;
    bool ok = png_image_write_to_stdio(&png, file, 0, image.rgba.data(), 0, nullptr) != 0;
    int failure = ok ? 0 : (std::ferror(file) && errno != 0 ? errno : -1);
    if (ok && (std::fflush(file) != 0 || fsync(fileno(file)) != 0)) ok = false, failure = errno;
    if (std::fclose(file) != 0 && ok) ok = false, failure = errno;
    if (ok && !partial.Commit()) ok = false, failure = errno;
    if (ok) return true;
    partial.Discard();
    *error = failure > 0 ? "cannot write: " + SystemError(failure) : std::string("cannot write: ") + png.message;
    return false;
}

}  // namespace tav::cli
