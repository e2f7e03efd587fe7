#include "tests/keyer_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

#include "runtime/matte_run.h"
#include "tests/reference.h"

namespace tav::test {

Outcome Keyer(const TempFolder& folder, const std::string& arguments, const std::string& wrapper,
              const std::string& output) {
    std::string errors = folder.Path("stderr.txt");
    std::string command = wrapper + " " + std::string(TAVRISK_KEYER) + " " + arguments + " 2>" + errors + " >" + output;
    int raw = std::system(command.c_str());
    std::ifstream in(errors);
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1,
                   std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

std::string Expand(const std::string& text, const TempFolder& folder) {
    std::string expanded;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "IN") == 0) expanded += folder.Path("in.png"), i += 2;
        else if (text.compare(i, 3, "DIR") == 0) expanded += folder.path(), i += 3;
        else expanded += text[i++];
    }
    return expanded;
}

Image Scene(int width, int height, bool green) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgba = MakeImage(width, height, 4, [=](int x, int y, int p) {
        if (p == 3) return 255 - (x % 7) * 20;
        if (y < 2 || x < 3) return 255;
        int screen[3] = {25, green ? 215 : 45, green ? 40 : 220};
        int subject[3] = {200 - (y % 9), 140 + (x % 13), 110};
        int dx = x - width / 2, dy = y - height / 2, r = width / 3;
        int d2 = dx * dx + dy * dy;
        int mix = d2 < r * r ? 255 : d2 < r * r + 6 * width ? 255 - 255 * (d2 - r * r) / (6 * width) : 0;
        if (x == width / 6 && y > height / 4) mix = 170;
        if (x > width * 4 / 5 && y > height * 2 / 3) mix = 100;
        return screen[p] + (subject[p] - screen[p]) * mix / 255;
    });
    return image;
}

Image Background(int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgba = MakeImage(width, height, 4, [](int x, int y, int p) {
        return p == 3 ? 255 : p == 0 ? x * 3 : p == 1 ? y * 5 : 90;
    });
    return image;
}

void Write(const std::string& path, const Image& image) {
    std::string error;
    ASSERT_TRUE(cli::WritePng(path, image, &error)) << error;
}

Image Read(const std::string& path) {
    Image image;
    std::string error;
    EXPECT_TRUE(cli::ReadImage(path, {}, &image, &error)) << path << ": " << error;
    return image;
}

AreaSurvey SurveyArea(const std::vector<uint8_t>& rgba, int width, int left, int top, int w, int h, bool green) {
    AreaSurvey a{255, 0, w, h, 0, 0};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = &rgba[((size_t(y) + top) * width + x + left) * 4];
            const int s = green ? px[1] : px[2], o = green ? px[2] : px[1];
            const int raw = 255 - std::clamp((2 * s - o - px[0]) / 2, 0, 255);
            a.lo = std::min(a.lo, raw), a.hi = std::max(a.hi, raw);
            if ((px[0] & px[1] & px[2]) == 255) continue;
            a.left = std::min(a.left, x), a.top = std::min(a.top, y);
            a.right = std::max(a.right, x + 1), a.bottom = std::max(a.bottom, y + 1);
        }
    if (a.right == 0) a.left = a.right = w, a.top = a.bottom = h;
    return a;
}

Image Expected(const Image& input, const ParameterRecord& settings, int left, int top, int w, int h,
               const Image* background) {
    const std::vector<uint8_t> rgb = MakeImage(w, h, 3, [&](int x, int y, int k) {
        return input.rgba[((size_t(y) + top) * input.width + x + left) * 4 + k];
    });
    const AreaSurvey a = SurveyArea(input.rgba, input.width, left, top, w, h, settings.ScreenColor != 0);
    const auto table = reference::LevelTable(settings.ForceBlack, settings.ForceWhite, settings.Gamma,
                                             settings.DynamicRange != 0, a.lo, a.hi);
    reference::WorkerResult r =
        reference::RunWorker(MatteSettingsOf(settings), table.data(), rgb, w, h, a.left, a.top, a.right, a.bottom);
    Image out = input;
    const int m = settings.OutputMethod;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            size_t i = size_t(y) * w + x;
            uint8_t* px = &out.rgba[((size_t(y) + top) * input.width + x + left) * 4];
            const uint8_t mv = r.final[i];
            const uint8_t* fg = &r.foreground[3 * i];
            if (m == 5) {
                const uint8_t* b = &background->rgba[i * 4];
                for (int k = 0; k < 3; ++k) px[k] = uint8_t(b[k] + (fg[k] - b[k]) * mv / 255);
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                if (m == 2 || m == 3) px[k] = mv;
                else if (m == 0 || m == 1) px[k] = fg[k];
            }
            if (m == 0 || m == 2 || m == 4) px[3] = mv;
        }
    return out;
}

ParameterRecord DefaultSettings() {
    ParameterRecord p{};
    SetParameterDefaults(&p);
    p.ShowDialog = 0;
    return p;
}

void WriteJpeg(const std::string& path, const Image& image) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(image.width) * 3);
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < image.width; ++x)
            for (int k = 0; k < 3; ++k)
                row[size_t(x) * 3 + k] = image.rgba[(size_t(info.next_scanline) * image.width + x) * 4 + k];
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}


void WritePartialPng(const std::string& path, int width, int height, int rows) {
    Write(path, Image{width, rows, false, MakeImage(width, rows, 4, [](int x, int y, int p) {
                          return p == 3 ? 255 : p == 0 ? 30 + x : p == 1 ? 200 - y : 40;
                      })});
    // The header chunk: length, type at 12, width, height at 20, ..., its CRC at 29.
    std::string file = ReadFile(path);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = char(v >> (24 - 8 * i));
    };
    put32(20, uint32_t(height));
    put32(29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(&file[12]), 17)));
    WriteFile(path, file);
}

}  // namespace tav::test
