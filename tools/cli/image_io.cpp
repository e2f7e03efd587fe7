#include "tools/cli/image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

namespace tav::cli {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool ReadPng(std::FILE* file, Image* image, std::string* error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&png, file)) {
        *error = png.message;
        return false;
    }
    image->hadAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    if (png.width == 0 || png.height == 0 || png.width > 32767 || png.height > 32767) {
        png_image_free(&png);
        *error = "image size " + std::to_string(png.width) + " x " + std::to_string(png.height) +
                 " is outside 1..32767";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    // 16-bit files without gamma information are, in practice, sRGB encoded
    // like their 8-bit siblings: scale them, do not re-encode them.
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image->width = int(png.width);
    image->height = int(png.height);
    image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr)) {
        *error = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

bool ReadJpeg(std::FILE* file, Image* image, std::string* error) {
    jpeg_decompress_struct info;
    JpegError jerr;
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = OnJpegError;
    std::vector<uint8_t>* rgba = &image->rgba;
    // Everything with a destructor lives outside the jump's reach.
    std::vector<JSAMPLE> row;
    if (setjmp(jerr.jump)) {
        *error = jerr.message;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        std::snprintf(jerr.message, sizeof jerr.message, "CMYK JPEG images are not supported");
        std::longjmp(jerr.jump, 1);
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width > 32767 || info.output_height > 32767) {
        std::snprintf(jerr.message, sizeof jerr.message, "image size %u x %u is outside 1..32767",
                      info.output_width, info.output_height);
        std::longjmp(jerr.jump, 1);
    }
    image->width = int(info.output_width);
    image->height = int(info.output_height);
    image->hadAlpha = false;
    rgba->assign(size_t(image->width) * image->height * 4, 255);
    row.resize(size_t(image->width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        size_t y = info.output_scanline;
        jpeg_read_scanlines(&info, rows, 1);
        uint8_t* out = rgba->data() + y * size_t(image->width) * 4;
        for (int x = 0; x < image->width; ++x) {
            out[4 * x] = row[3 * size_t(x)];
            out[4 * x + 1] = row[3 * size_t(x) + 1];
            out[4 * x + 2] = row[3 * size_t(x) + 2];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

bool ReadImage(const std::string& path, Image* image, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    unsigned char magic[8] = {};
    size_t got = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) return ReadPng(file.get(), image, error);
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return ReadJpeg(file.get(), image, error);
    *error = "not a PNG or JPEG image";
    return false;
}

bool WritePng(const std::string& path, const Image& image, std::string* error) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        *error = std::string("cannot create a file in ") + folder + ": " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    File file(fdopen(fd, "wb"));
    if (!file) {
        close(fd);
        unlink(temporary.c_str());
        *error = std::strerror(errno);
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
    bool ok = png_image_write_to_stdio(&png, file.get(), 0, image.rgba.data(), 0, nullptr) != 0;
    if (!ok) *error = png.message;
    ok = ok && std::fflush(file.get()) == 0 && fsync(fileno(file.get())) == 0;
    if (std::fclose(file.release()) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = std::strerror(errno);
        ok = false;
    } else if (!ok && error->empty()) {
        *error = std::strerror(errno);
    }
    if (!ok) unlink(temporary.c_str());
    return ok;
}

}  // namespace tav::cli
