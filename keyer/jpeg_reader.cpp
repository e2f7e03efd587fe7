#include "keyer/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace tav::cli {
namespace {

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

}  // namespace

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
    if (options.sizeKnown) options.sizeKnown(int(info.image_width), int(info.image_height));
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
        RgbToRgba(row.data(), size_t(image->width), rgba->data() + rgba->size() - rowBytes);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace tav::cli
