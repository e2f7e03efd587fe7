// Raw frames through the keyer, standard input to standard output: each frame
// keyed as the same pixels given as an image, the screen decided on the first
// frame; the ends of a stream; what the command line may not ask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/keyer_support.h"

namespace tav {
namespace {

using namespace test;

constexpr int kWidth = 40, kHeight = 30;

// Three frames: a green screen, the same dimmer (another key range), and a
// blue screen whose own detection would pick blue.
std::vector<Image> Frames() {
    Image dim = Scene(kWidth, kHeight, true);
    for (size_t i = 0; i < dim.rgba.size(); ++i)
        if (i % 4 != 3) dim.rgba[i] = uint8_t(dim.rgba[i] * 7 / 10);
    return {Scene(kWidth, kHeight, true), dim, Scene(kWidth, kHeight, false)};
}

// The frames' bytes as the stream carries them: RGBA, or RGB.
std::string Stream(const std::vector<Image>& frames, bool rgb) {
    std::string bytes;
    for (const Image& frame : frames)
        for (size_t i = 0; i < frame.rgba.size(); ++i)
            if (!rgb || i % 4 != 3) bytes.push_back(char(frame.rgba[i]));
    return bytes;
}

struct StreamCase {
    const char* name;
    bool rgb;
    std::string arguments;
};

class RawStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(RawStreamTest, KeysEachFrameAsTheSameImageWithTheFirstFramesScreen) {
    const StreamCase& c = GetParam();
    TempFolder folder;
    std::vector<Image> frames = Frames();
    WriteFile(folder.Path("in.raw"), Stream(frames, c.rgb));
    Outcome run = Keyer(folder,
                        "key --raw 40x30 - -o - " + c.arguments + (c.rgb ? " --raw-format rgb24" : "") + " <" +
                            folder.Path("in.raw"),
                        "", folder.Path("out.raw"));
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    std::string want;
    for (Image& frame : frames) {
        if (c.rgb)
            for (size_t i = 3; i < frame.rgba.size(); i += 4) frame.rgba[i] = 255;
        Write(folder.Path("frame.png"), frame);
        Outcome alone = Keyer(folder, "key " + folder.Path("frame.png") + " --screen green " + c.arguments);
        ASSERT_EQ(alone.status, 0) << alone.errors;
        const std::vector<uint8_t> keyed = Read(folder.Path("frame-keyed.png")).rgba;
        want.insert(want.end(), keyed.begin(), keyed.end());
    }
    EXPECT_EQ(ReadFile(folder.Path("out.raw")), want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawStreamTest,
    ::testing::Values(StreamCase{"rgba", false, ""}, StreamCase{"rgbaOneThread", false, "--jobs 1 --set MatteBlur=2"},
                      StreamCase{"rgb24Matte", true, "--method matte-transparency --set Gamma=30 --jobs 2"},
                      StreamCase{"rgbaRegion", false, "--region 5,4,30,20 --set MatteChoke=1 --jobs 3"}),
    kCaseName);

struct EndCase {
    const char* name;
    size_t bytes;  // of the input, from the stream of the three frames
    int status;
    const char* message;  // standard error, whole
    size_t framesOut;
};

class RawStreamEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(RawStreamEndTest, EndsWithTheCompleteFramesWritten) {
    const EndCase& c = GetParam();
    TempFolder folder;
    std::string bytes = Stream(Frames(), false);
    WriteFile(folder.Path("all.raw"), bytes);
    bytes.resize(c.bytes);
    WriteFile(folder.Path("in.raw"), bytes);
    Outcome whole = Keyer(folder, "key --raw 40x30 - <" + folder.Path("all.raw"), "", folder.Path("all.out"));
    ASSERT_EQ(whole.status, 0) << whole.errors;
    Outcome run = Keyer(folder, "key --raw 40x30 - <" + folder.Path("in.raw"), "", folder.Path("out.raw"));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.errors, c.message);
    std::string want = ReadFile(folder.Path("all.out"));
    want.resize(c.framesOut * kWidth * kHeight * 4);
    EXPECT_EQ(ReadFile(folder.Path("out.raw")), want);
}

constexpr size_t kFrame = kWidth * kHeight * 4;

INSTANTIATE_TEST_SUITE_P(
    Cases, RawStreamEndTest,
    ::testing::Values(EndCase{"empty", 0, 0, "", 0}, EndCase{"twoWhole", 2 * kFrame, 0, "", 2},
                      EndCase{"shortFirst", 1, 1, "tavrisk: standard input: frame 1 is short (1 of 4800 bytes)\n", 0},
                      EndCase{"shortLast", 2 * kFrame + 1000, 1,
                              "tavrisk: standard input: frame 3 is short (1000 of 4800 bytes)\n", 2},
                      EndCase{"oneByteShort", 3 * kFrame - 1, 1,
                              "tavrisk: standard input: frame 3 is short (4799 of 4800 bytes)\n", 2}),
    kCaseName);

// Frames keyed side by side fail side by side: the first is said, and the
// stream stops there.
class RawStreamFailureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RawStreamFailureTest, TheFirstFrameThatCannotBeKeyedIsSaidAndStopsTheStream) {
    TempFolder folder;
    std::string frame;
    for (uint8_t byte : Scene(700, 600, true).rgba) frame.push_back(char(byte));  // buffers in files
    WriteFile(folder.Path("in.raw"), frame + frame + frame);
    Outcome run = Keyer(folder, std::string("key --raw 700x600 - ") + GetParam() + " <" + folder.Path("in.raw"),
                        "TMPDIR=" + folder.Path("none"), folder.Path("out.raw"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "tavrisk: standard input: frame 1: cannot make the working images in the temporary "
                          "folder: " + folder.Path("none") + ": No such file or directory\n");
    EXPECT_EQ(ReadFile(folder.Path("out.raw")), "");
}

INSTANTIATE_TEST_SUITE_P(Threads, RawStreamFailureTest, ::testing::Values("--jobs 1", "--jobs 3"),
                         [](const auto& info) { return std::string(info.index == 0 ? "here" : "inProcesses"); });

TEST(RawStreamOutputTest, AReaderThatGoesAwayStopsTheStreamWithAMessage) {
    TempFolder folder;
    std::string bytes;
    for (int i = 0; i < 20; ++i) bytes += Stream(Frames(), false);
    WriteFile(folder.Path("in.raw"), bytes);  // 60 frames: more than a pipe holds
    const std::string command = "{ " + std::string(TAVRISK_KEYER) + " key --raw 40x30 - <" + folder.Path("in.raw") +
                                " 2>" + folder.Path("errors") + "; echo $? >" + folder.Path("status") + "; } | true";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(folder.Path("status")), "1\n");
    const std::string errors = ReadFile(folder.Path("errors"));
    EXPECT_EQ(errors.rfind("tavrisk: standard output: closed by its reader (EPIPE); stopped after ", 0), 0u) << errors;
}

// ffmpeg as the stream's client on both sides: a clip it decodes to raw frames
// is keyed through a pipe, and what it encodes with alpha decodes to the
// keyer's own alpha (PNG in Matroska: every byte; ProRes 4444 holds alpha
// at 16 bits and ffmpeg's conversions back to 8 may round it a step up).
struct ClientCase {
    const char* name;
    const char* encoding;
    int alphaSteps;  // the largest difference allowed
    bool wholePixels;
};

class RawStreamClientTest : public ::testing::TestWithParam<ClientCase> {};

TEST_P(RawStreamClientTest, FfmpegDecodesAndEncodesAroundTheKeyer) {
    const ClientCase& c = GetParam();
    TempFolder folder;
    const std::string ffmpeg = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
    // Twelve frames panning across the sample, kept losslessly.
    const std::string clip = ffmpeg + "-loop 1 -framerate 12 -t 1 -i " TAVRISK_SOURCE_DIR "/samples/greenscreen.png " +
                             "-vf \"scale=160:-2,crop=96:64:x='20+t*40':y=30,format=rgb24\" -c:v ffv1 " +
                             folder.Path("clip.mkv");
    const std::string trip = ffmpeg + "-i " + folder.Path("clip.mkv") + " -f rawvideo -pix_fmt rgba - | " +
                             TAVRISK_KEYER + " key --raw 96x64 - -o - | tee " + folder.Path("keyed.raw") + " | " +
                             ffmpeg + "-f rawvideo -pix_fmt rgba -s 96x64 -r 12 -i - " + c.encoding + " " +
                             folder.Path("out") + " && " + ffmpeg + "-i " + folder.Path("out") +
                             " -f rawvideo -pix_fmt rgba " + folder.Path("decoded.raw");
    WriteFile(folder.Path("trip.sh"), "set -euo pipefail\n" + clip + "\n" + trip + "\n");
    ASSERT_EQ(std::system(("bash " + folder.Path("trip.sh")).c_str()), 0) << "ffmpeg is needed (.ci/install puts it in)";
    const std::string keyed = ReadFile(folder.Path("keyed.raw")), decoded = ReadFile(folder.Path("decoded.raw"));
    ASSERT_EQ(keyed.size(), 12u * 96 * 64 * 4);
    ASSERT_EQ(decoded.size(), keyed.size());
    int most = 0, opaque = 0, clear = 0;
    for (size_t i = 3; i < keyed.size(); i += 4) {
        const int alpha = uint8_t(keyed[i]);
        most = std::max(most, std::abs(alpha - uint8_t(decoded[i])));
        opaque += alpha == 255, clear += alpha < 32;
    }
    EXPECT_LE(most, c.alphaSteps);
    EXPECT_TRUE(!c.wholePixels || keyed == decoded);
    EXPECT_TRUE(opaque > 0 && clear > 0);  // the subject, and the screen keyed out
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, RawStreamClientTest,
    ::testing::Values(ClientCase{"pngInMatroska", "-c:v png -f matroska", 0, true},
                      ClientCase{"prores4444", "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le -f mov", 1, false}),
    kCaseName);

struct UsageCase {
    const char* name;
    std::string arguments;  // DIR stands for the folder
    const char* message;
};

class RawStreamUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(RawStreamUsageTest, IsRefusedBeforeReading) {
    const UsageCase& c = GetParam();
    TempFolder folder;
    Write(folder.Path("in.png"), Scene(8, 6, true));
    Write(folder.Path("back.png"), Background(8, 5));
    WriteFile(folder.Path("in.raw"), std::string(8 * 6 * 4, char(7)));
    Outcome run = Keyer(folder, Expand(c.arguments, folder) + " <" + folder.Path("in.raw"), "", folder.Path("out.raw"));
    EXPECT_EQ(run.status, 2) << run.errors;
    EXPECT_EQ(run.errors.rfind(Expand(std::string("tavrisk: ") + c.message + "\n", folder), 0), 0u) << run.errors;
    EXPECT_EQ(ReadFile(folder.Path("out.raw")), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawStreamUsageTest,
    ::testing::Values(
        UsageCase{"noSize", "key --raw", "--raw needs WIDTHxHEIGHT"},
        UsageCase{"noHeight", "key --raw 8 -", "--raw takes WIDTHxHEIGHT, not '8'"},
        UsageCase{"notNumbers", "key --raw 8xsix -", "--raw takes WIDTHxHEIGHT, not '8xsix'"},
        UsageCase{"zeroWidth", "key --raw 0x6 -", "--raw: 0 is outside 1..32767 (the frame's width)"},
        UsageCase{"tallerThanTheHost", "key --raw 8x32768 -", "--raw: 32768 is outside 1..32767 (the frame's height)"},
        UsageCase{"overThePixelBudget", "key --raw 8x6 - --max-pixels 47",
                  "--raw: the frame's 8 x 6 pixels exceed the budget of 47 (--max-pixels)"},
        UsageCase{"aFileInput", "key --raw 8x6 DIR/in.png", "--raw reads standard input: give '-' as its only input"},
        UsageCase{"twoInputs", "key --raw 8x6 - -", "--raw reads standard input: give '-' as its only input"},
        UsageCase{"aFileOutput", "key --raw 8x6 - -o DIR/o.raw", "--raw writes standard output: -o takes only '-'"},
        UsageCase{"anOutputFolder", "key --raw 8x6 - --outdir DIR", "--raw writes standard output: no --outdir"},
        UsageCase{"unknownFormat", "key --raw 8x6 - --raw-format rgb32",
                  "--raw-format takes rgba or rgb24, not 'rgb32'"},
        UsageCase{"formatWithoutRaw", "key DIR/in.png --raw-format rgb24", "--raw-format needs --raw WIDTHxHEIGHT"},
        UsageCase{"regionOutside", "key --raw 8x6 - --region 4,4,4,4", "--region 4,4,4,4 lies outside the 8 x 6 frame"},
        UsageCase{"backgroundMissing", "key --raw 8x6 - --method 5", "method 5 (background) needs --background FILE"},
        UsageCase{"backgroundSize", "key --raw 8x6 - --method 5 --background DIR/back.png",
                  "DIR/back.png: the background is 8 x 5, the filtered area 8 x 6"},
        UsageCase{"noJobs", "key DIR/in.png --jobs 0", "--jobs takes a number of threads from 1 to 1024, not '0'"},
        UsageCase{"jobsNotANumber", "key --raw 8x6 - --jobs many",
                  "--jobs takes a number of threads from 1 to 1024, not 'many'"},
        UsageCase{"rawInPreview", "preview DIR/in.png --raw 8x6", "unknown option '--raw'"}),
    kCaseName);

}  // namespace
}  // namespace tav
