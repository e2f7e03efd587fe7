// The command-line keyer end to end: the real program on files, its output
// compared with images computed here from the keying arithmetic.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "engine/matte_table.h"
#include "host/parameters.h"
#include "tests/reference.h"
#include "tests/support.h"
#include "tools/cli/image_io.h"
#include "ui/settings_file.h"

namespace tav {
namespace {

using cli::Image;

struct Outcome {
    int status;
    std::string errors;
};

// Runs tavrisk with `arguments` (already quoted as needed).
Outcome Keyer(const test::TempFolder& folder, const std::string& arguments) {
    std::string errors = folder.Path("stderr.txt");
    std::string command = std::string(TAVRISK_KEYER) + " " + arguments + " 2>" + errors + " >/dev/null";
    int raw = std::system(command.c_str());
    std::ifstream in(errors);
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
                   std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

// A scene on a green or blue screen: a subject with a soft edge, a strand,
// a translucent patch, a white margin at the top and varying transparency.
Image Scene(int width, int height, bool green) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgba = test::MakeImage(width, height, 4, [=](int x, int y, int p) {
        if (p == 3) return 255 - (x % 7) * 20;
        if (y < 2) return 255;
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
    image.rgba = test::MakeImage(width, height, 4, [](int x, int y, int p) {
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
    EXPECT_TRUE(cli::ReadImage(path, &image, &error)) << path << ": " << error;
    return image;
}

// What the keyer must write for `settings` (screen already decided) over the
// area (left, top, w, h) of `input`, from the reference keying arithmetic.
Image Expected(const Image& input, const ParameterRecord& settings, int left, int top, int w, int h,
               const Image* background) {
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    int cl = w, ct = h, cr = 0, cb = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = &input.rgba[((size_t(y) + top) * input.width + x + left) * 4];
            std::copy(px, px + 3, &rgb[(size_t(y) * w + x) * 3]);
            if ((px[0] & px[1] & px[2]) != 255) {
                cl = std::min(cl, x);
                ct = std::min(ct, y);
                cr = std::max(cr, x + 1);
                cb = std::max(cb, y + 1);
            }
        }
    if (cr == 0) cl = cr = w, ct = cb = h;
    int lo = 255, hi = 0;
    const bool green = settings.ScreenColor != 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        int s = green ? rgb[i + 1] : rgb[i + 2], o = green ? rgb[i + 2] : rgb[i + 1];
        int a = 255 - std::clamp((2 * s - o - rgb[i]) / 2, 0, 255);
        lo = std::min(lo, a);
        hi = std::max(hi, a);
    }
    std::vector<int32_t> table(256);
    ComputeMatteTable(table.data(), settings.ForceBlack, settings.ForceWhite, settings.Gamma,
                      settings.DynamicRange != 0, lo, hi);
    reference::WorkerResult r = reference::RunWorker(settings, table.data(), rgb, w, h, cl, ct, cr, cb);
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

class KeyerMethodTest : public ::testing::TestWithParam<int> {};

TEST_P(KeyerMethodTest, WritesWhatTheMethodAsks) {
    const int method = GetParam();
    test::TempFolder folder;
    Image input = Scene(90, 70, true);
    Write(folder.Path("scene.png"), input);
    Image background = Background(90, 70);
    Write(folder.Path("back.png"), background);
    std::string args = "key " + folder.Path("scene.png") + " --method " + std::to_string(method) +
                       " --set MatteBlur=2 --set MatteChoke=1 --set Gamma=30";
    if (method == 5) args += " --background " + folder.Path("back.png");
    Outcome run = Keyer(folder, args);
    ASSERT_EQ(run.status, 0) << run.errors;

    ParameterRecord settings = DefaultSettings();
    settings.OutputMethod = uint8_t(method);
    settings.ScreenColor = 1;  // detected: more green than blue
    settings.MatteBlur = 2;
    settings.MatteChoke = 1;
    settings.Gamma = 30;
    Image want = Expected(input, settings, 0, 0, 90, 70, &background);
    Image got = Read(folder.Path("scene-keyed.png"));
    ASSERT_EQ(got.width, 90);
    ASSERT_EQ(got.height, 70);
    EXPECT_EQ(got.rgba, want.rgba);
}

INSTANTIATE_TEST_SUITE_P(Methods, KeyerMethodTest, ::testing::Range(0, 6));

TEST(KeyerTest, MethodNamesAndABlueScreenSelectionWithSettingsFile) {
    test::TempFolder folder;
    Image input = Scene(100, 80, false);
    Write(folder.Path("blue.png"), input);
    ParameterRecord file = DefaultSettings();
    file.Protection = 40;
    file.RestoreR = 20;
    file.BlueRemoval = 200;
    file.ForceBlack = 10;
    ASSERT_TRUE(WriteSettingsFile(folder.Path("s.tvk").c_str(), file));
    Outcome run = Keyer(folder, "key " + folder.Path("blue.png") + " -o " + folder.Path("out.png") +
                                    " --method matte-transparency --settings " + folder.Path("s.tvk") +
                                    " --set CorrectionB=-30 --region 10,5,70,60");
    ASSERT_EQ(run.status, 0) << run.errors;
    ParameterRecord settings = file;
    settings.ScreenColor = 0;  // detected inside the region
    settings.OutputMethod = 2;
    settings.CorrectionB = -30;
    Image want = Expected(input, settings, 10, 5, 70, 60, nullptr);
    EXPECT_EQ(Read(folder.Path("out.png")).rgba, want.rgba);
}

TEST(KeyerTest, ScreenOptionOverridesDetectionAndSettingsCanBeSaved) {
    test::TempFolder folder;
    Image input = Scene(64, 48, true);
    Write(folder.Path("a.png"), input);
    Outcome run = Keyer(folder, "key " + folder.Path("a.png") + " --screen blue --set matteblur=300 --save-settings " +
                                    folder.Path("saved.tvk") + " --outdir " + folder.path());
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("stored as 255"), std::string::npos) << run.errors;
    ParameterRecord saved = DefaultSettings();
    saved.ScreenColor = 1;
    bool newer = true;
    ASSERT_TRUE(ReadSettingsFile(folder.Path("saved.tvk").c_str(), &saved, &newer));
    EXPECT_FALSE(newer);
    EXPECT_EQ(saved.ScreenColor, 0);
    EXPECT_EQ(saved.MatteBlur, 255);
    ParameterRecord settings = DefaultSettings();
    settings.ScreenColor = 0;
    settings.MatteBlur = 255;
    EXPECT_EQ(Read(folder.Path("a-keyed.png")).rgba, Expected(input, settings, 0, 0, 64, 48, nullptr).rgba);
}

// A 16-bit grey PNG with alpha and a JPEG are read as 8-bit RGBA.
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

TEST(KeyerTest, ReadsJpegAsOpaqueAndKeysIt) {
    test::TempFolder folder;
    Image input = Scene(40, 30, true);
    WriteJpeg(folder.Path("shot.jpg"), input);
    Outcome run = Keyer(folder, "key " + folder.Path("shot.jpg") + " --method foreground");
    ASSERT_EQ(run.status, 0) << run.errors;
    Image decoded = Read(folder.Path("shot.jpg"));
    for (size_t i = 3; i < decoded.rgba.size(); i += 4) ASSERT_EQ(decoded.rgba[i], 255);
    ParameterRecord settings = DefaultSettings();
    settings.ScreenColor = 1;
    settings.OutputMethod = 1;
    EXPECT_EQ(Read(folder.Path("shot-keyed.png")).rgba, Expected(decoded, settings, 0, 0, 40, 30, nullptr).rgba);
}

struct FailureCase {
    const char* name;
    std::string arguments;  // "IN" stands for a good input, "DIR" for the folder
    int status;
    const char* message;  // part of standard error
};

class KeyerFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(KeyerFailureTest, ReportsTheFileAndTheReason) {
    const FailureCase& c = GetParam();
    test::TempFolder folder;
    Write(folder.Path("in.png"), Scene(32, 24, true));
    Write(folder.Path("small.png"), Background(8, 8));
    std::ofstream(folder.Path("broken.png")) << "not a picture";
    std::ofstream(folder.Path("bad.tvk")) << "[TavRisk Settings]\nGamma=40\n";
    std::string arguments = c.arguments;
    for (std::string token : {"IN", "DIR"}) {
        std::string replacement = token == "IN" ? folder.Path("in.png") : folder.path();
        for (size_t at; (at = arguments.find(token)) != std::string::npos;) arguments.replace(at, token.size(), replacement);
    }
    Outcome run = Keyer(folder, arguments);
    EXPECT_EQ(run.status, c.status) << run.errors;
    EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyerFailureTest,
    ::testing::Values(
        FailureCase{"noCommand", "IN", 2, "expected the command 'key'"},
        FailureCase{"noInput", "key", 2, "no input image"},
        FailureCase{"unknownOption", "key IN --fast", 2, "unknown option '--fast'"},
        FailureCase{"unknownMethod", "key IN --method glow", 2, "unknown method 'glow'"},
        FailureCase{"unknownSetting", "key IN --set Sharpness=3", 2, "unknown setting 'Sharpness'"},
        FailureCase{"notAnInteger", "key IN --set Gamma=high", 2, "'high' is not an integer"},
        FailureCase{"twoInputsOneOutput", "key IN IN -o DIR/x.png", 2, "-o takes one input only"},
        FailureCase{"missingSettings", "key IN --settings DIR/none.tvk", 2, "cannot read the settings file"},
        FailureCase{"missingInput", "key DIR/none.png IN", 1, "none.png: No such file"},
        FailureCase{"notAnImage", "key DIR/broken.png", 1, "broken.png: not a PNG or JPEG image"},
        FailureCase{"regionOutside", "key IN --region 20,20,20,20", 1, "lies outside the 32 x 24 image"},
        FailureCase{"backgroundMissing", "key IN --method 5", 1, "needs --background"},
        FailureCase{"backgroundSize", "key IN --method 5 --background DIR/small.png", 1,
                    "small.png: the background is 8 x 8, the filtered area 32 x 24"},
        FailureCase{"overwriteInput", "key IN -o IN", 1, "would overwrite the input"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyerTest, AFailedInputDoesNotStopTheOthers) {
    test::TempFolder folder;
    Write(folder.Path("good.png"), Scene(20, 20, true));
    Outcome run = Keyer(folder, "key " + folder.Path("missing.png") + " " + folder.Path("good.png"));
    EXPECT_EQ(run.status, 1);
    struct stat st;
    EXPECT_EQ(stat(folder.Path("good-keyed.png").c_str(), &st), 0);
}

TEST(KeyerTest, ANewerSettingsFileIsReportedAndStillRead) {
    test::TempFolder folder;
    Write(folder.Path("in.png"), Scene(20, 20, true));
    std::ofstream(folder.Path("new.tvk")) << "[TavRisk Settings]\nVersion=2\nOutputMethod=3\n";
    Outcome run = Keyer(folder, "key " + folder.Path("in.png") + " --settings " + folder.Path("new.tvk"));
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("newer version of Tavrisk.  Only those"), std::string::npos) << run.errors;
    Image out = Read(folder.Path("in-keyed.png"));
    for (size_t i = 0; i < out.rgba.size(); i += 4) ASSERT_TRUE(out.rgba[i] == out.rgba[i + 1] && out.rgba[i] == out.rgba[i + 2]);
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

TEST(ImageReadTest, GreyAndGreyWithAlphaPngsBecomeRgba) {
    test::TempFolder folder;
    for (bool alpha : {false, true}) {
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        png.width = 3;
        png.height = 2;
        png.format = alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
        const uint8_t grey[] = {0, 0, 128, 7, 255, 255, 10, 1, 20, 2, 30, 3};
        const uint8_t plain[] = {0, 128, 255, 10, 20, 30};
        std::string path = folder.Path(alpha ? "ga.png" : "g.png");
        ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, alpha ? grey : plain, 0, nullptr));
        Image image = Read(path);
        ASSERT_EQ(image.rgba.size(), 24u);
        EXPECT_EQ(image.hadAlpha, alpha);
        for (int i = 0; i < 6; ++i) {
            uint8_t v = alpha ? grey[2 * i] : plain[i];
            EXPECT_EQ(image.rgba[4 * i], v);
            EXPECT_EQ(image.rgba[4 * i + 1], v);
            EXPECT_EQ(image.rgba[4 * i + 2], v);
            EXPECT_EQ(image.rgba[4 * i + 3], alpha ? grey[2 * i + 1] : 255);
        }
    }
}

}  // namespace
}  // namespace tav
