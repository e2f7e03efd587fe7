// samplegen: draws the bundled sample, a subject in front of a green screen
// with what makes keying hard: soft edges, fine strands of hair, green spill
// on the subject's rim, a translucent veil, and uneven lighting of the screen.
//
// Usage: samplegen OUTPUT.png [WIDTH HEIGHT]
//        samplegen --raw OUTPUT.rgba WIDTH HEIGHT   the same scene as raw RGBA
//        samplegen --to-raw IN.png OUT.rgba         any PNG or JPEG to raw RGBA
//        samplegen --ppm-to-png IN.ppm OUT.png      a binary PPM (P6) to PNG
//        samplegen --over checker|RRGGBB IN.png OUT.png N
//            IN over a checkerboard or a colour, reduced N : 1 (the README's
//            pictures)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "keyer/image_file.h"

namespace {

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

double SmoothNoise(double x, double y) {
    return 0.5 + 0.25 * std::sin(x * 0.071 + std::sin(y * 0.043)) + 0.25 * std::sin(y * 0.089 - x * 0.027);
}

bool WriteRaw(const char* path, const tav::cli::Image& image) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.rgba.data()), std::streamsize(image.rgba.size()));
    return bool(out);
}

tav::cli::Image DrawScene(int width, int height) {
    tav::cli::Image image;
    image.width = width;
    image.height = height;
    image.rgba.resize(size_t(width) * height * 4);
    const double cx = width * 0.48, cy = height * 0.62, radius = std::min(width, height) * 0.30;
    uint32_t grain = 2024;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // The screen: green, lit unevenly, darker towards the corners.
            double light = 0.9 + 0.1 * SmoothNoise(x, y) - 0.06 * std::hypot(x - width / 2.0, y - height / 2.0) / width;
            double screen[3] = {25 * light, 225 * light, 45 * light};

            // The subject: a head-like disc with a soft (8 px) edge.
            double d = std::hypot((x - cx) * 1.0, (y - cy) * 0.85);
            double body = Clamp01((radius - d) / 8.0 + 0.5);
            double skin[3] = {205 - 30 * (y - cy) / radius, 150 - 20 * (x - cx) / radius, 120};

            // Hair: fine strands leaving the top of the head, 1 px wide.
            double hair = 0;
            if (y < cy - radius * 0.5 && y > cy - radius * 1.6) {
                for (int k = 0; k < 14; ++k) {
                    double baseX = cx - radius * 0.7 + k * radius * 0.1;
                    double sx = baseX + std::sin((cy - y) * 0.03 + k) * 12.0 + (cy - radius - y) * (k - 7) * 0.08;
                    double along = (cy - radius * 0.5 - y) / (radius * 1.1);
                    hair = std::max(hair, Clamp01(1.0 - std::fabs(x - sx)) * (1.0 - along * 0.8));
                }
            }
            double hairColour[3] = {70, 45, 25};

            // A translucent veil to the right of the subject.
            double veil = (x > width * 0.70 && x < width * 0.90 && y > height * 0.30 && y < height * 0.85) ? 0.45 : 0;
            double veilColour[3] = {230, 225, 235};

            double pixel[3];
            for (int c = 0; c < 3; ++c) {
                double v = screen[c];
                v = v + (veilColour[c] - v) * veil;
                v = v + (hairColour[c] - v) * hair;
                v = v + (skin[c] - v) * body;
                pixel[c] = v;
            }
            // Green spill on the subject's rim.
            double rim = body * Clamp01(1.0 - (radius - d) / 25.0);
            pixel[1] += 45 * rim;

            grain = grain * 1664525u + 1013904223u;
            int noise = int(grain >> 29) - 4;
            uint8_t* out = &image.rgba[(size_t(y) * width + x) * 4];
            for (int c = 0; c < 3; ++c) out[c] = uint8_t(std::clamp(int(pixel[c]) + noise, 0, 255));
            out[3] = 255;
        }
    }
    return image;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: samplegen OUTPUT.png [WIDTH HEIGHT]\n"
                 "       samplegen --raw OUTPUT.rgba WIDTH HEIGHT\n"
                 "       samplegen --to-raw IN.png OUT.rgba\n"
                 "       samplegen --ppm-to-png IN.ppm OUT.png\n"
                 "       samplegen --over checker|RRGGBB IN.png OUT.png N\n");
    return 2;
}

// A binary PPM: "P6", width, height, 255, then RGB bytes.
bool ReadPpm(const char* path, tav::cli::Image* image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    in >> magic >> image->width >> image->height >> maximum;
    in.get();
    if (!in || magic != "P6" || maximum != 255 || image->width <= 0 || image->height <= 0) return false;
    std::string rgb(size_t(image->width) * image->height * 3, '\0');
    in.read(rgb.data(), std::streamsize(rgb.size()));
    if (!in) return false;
    image->rgba.resize(size_t(image->width) * image->height * 4, 255);
    for (size_t i = 0; i < size_t(image->width) * image->height; ++i) std::memcpy(&image->rgba[4 * i], &rgb[3 * i], 3);
    return true;
}

// `image` over a backdrop (a grey checkerboard of 16-pixel squares, or one
// colour given as RRGGBB), then reduced by averaging each N x N block.
bool ComposeOver(const char* backdrop, int n, const tav::cli::Image& image, tav::cli::Image* out) {
    const bool checker = std::strcmp(backdrop, "checker") == 0;
    unsigned colour = 0;
    char* end = nullptr;
    if (!checker) colour = unsigned(std::strtoul(backdrop, &end, 16));
    if ((!checker && (std::strlen(backdrop) != 6 || *end != '\0')) || n < 1 || n > 64) return false;
    out->width = image.width / n;
    out->height = image.height / n;
    out->rgba.assign(size_t(out->width) * out->height * 4, 255);
    for (int y = 0; y < out->height; ++y) {
        for (int x = 0; x < out->width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int v = y * n; v < (y + 1) * n; ++v) {
                    for (int u = x * n; u < (x + 1) * n; ++u) {
                        const uint8_t* p = &image.rgba[(size_t(v) * image.width + u) * 4];
                        const int under = checker ? (((u / 16) + (v / 16)) % 2 ? 204 : 153)
                                                  : int((colour >> (16 - 8 * c)) & 255);
                        sum += (p[c] * p[3] + under * (255 - p[3]) + 127) / 255;
                    }
                }
                out->rgba[(size_t(y) * out->width + x) * 4 + c] = uint8_t((sum + n * n / 2) / (n * n));
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (argc == 6 && std::strcmp(argv[1], "--over") == 0) {
        tav::cli::Image image, picture;
        if (!tav::cli::ReadImage(argv[3], {}, &image, &error)) {
            std::fprintf(stderr, "samplegen: %s: %s\n", argv[3], error.c_str());
            return 1;
        }
        if (!ComposeOver(argv[2], std::atoi(argv[5]), image, &picture)) return Usage();
        if (tav::cli::WritePng(argv[4], picture, &error)) return 0;
        std::fprintf(stderr, "samplegen: %s: %s\n", argv[4], error.c_str());
        return 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--ppm-to-png") == 0) {
        tav::cli::Image image;
        if (!ReadPpm(argv[2], &image)) {
            std::fprintf(stderr, "samplegen: %s: not a binary PPM\n", argv[2]);
            return 1;
        }
        if (tav::cli::WritePng(argv[3], image, &error)) return 0;
        std::fprintf(stderr, "samplegen: %s: %s\n", argv[3], error.c_str());
        return 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--to-raw") == 0) {
        tav::cli::Image image;
        if (!tav::cli::ReadImage(argv[2], {}, &image, &error)) {
            std::fprintf(stderr, "samplegen: %s: %s\n", argv[2], error.c_str());
            return 1;
        }
        return WriteRaw(argv[3], image) ? 0 : 1;
    }
    const bool raw = argc == 5 && std::strcmp(argv[1], "--raw") == 0;
    if (!raw && argc != 2 && argc != 4) return Usage();
    const char* output = raw ? argv[2] : argv[1];
    // An option it does not know (--help among them) is not a file name.
    if (output[0] == '-') return Usage();
    const int width = raw ? std::atoi(argv[3]) : argc == 4 ? std::atoi(argv[2]) : 480;
    const int height = raw ? std::atoi(argv[4]) : argc == 4 ? std::atoi(argv[3]) : 360;
    if (width < 16 || height < 16 || width > 8000 || height > 8000) {
        std::fprintf(stderr, "samplegen: size out of range\n");
        return 2;
    }
    tav::cli::Image image = DrawScene(width, height);
    if (raw) return WriteRaw(output, image) ? 0 : 1;
    if (!tav::cli::WritePng(output, image, &error)) {
        std::fprintf(stderr, "samplegen: %s: %s\n", output, error.c_str());
        return 1;
    }
    return 0;
}
