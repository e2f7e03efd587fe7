// The command-line keyer end to end: the real program on files, its output
// compared with images computed here from the keying arithmetic.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "interface/parameter_record.h"
#include "platform/ini_file.h"
#include "tests/keyer_support.h"
#include "ui/settings_format.h"

namespace tav {
namespace {

using namespace test;

// A run, and the image the reference arithmetic gives for the settings it
// must have applied (KEY=VALUE over the defaults with the dialog off).
struct OutputCase {
    std::string name;
    std::string arguments;  // "DIR" stands for the folder
    const char* input;
    const char* output;     // in the folder
    std::string settings;
    int left = 0, top = 0, width = 0, height = 0;  // the area keyed; width 0: the whole image
    const char* message = "";  // part of standard error
};

// Every method by number (MatteBlur, MatteChoke and Gamma through --set) on a
// green screen, detected; a method name, a settings file (a blue screen) and
// a region; --screen over the detection, a clamped --set and the settings
// saved; a newer settings file, reported and read; a JPEG, read opaque; the
// preview of a screen the settings name, and its settings saved.
std::vector<OutputCase> OutputCases() {
    std::vector<OutputCase> cases;
    for (int m = 0; m < 6; ++m)
        cases.push_back({"method" + std::to_string(m),
                         "key DIR/green.png --method " + std::to_string(m) +
                             " --set MatteBlur=2 --set MatteChoke=1 --set Gamma=30" +
                             (m == 5 ? " --background DIR/back.png" : ""),
                         "green.png", "green-keyed.png",
                         "ScreenColor=1 MatteBlur=2 MatteChoke=1 Gamma=30 OutputMethod=" + std::to_string(m)});
    cases.push_back({"blueSelectionWithSettingsFile",
                     "key DIR/blue.png -o DIR/out.png --method matte-transparency --settings DIR/s.tvk "
                     "--set CorrectionB=-30 --region 10,5,70,60 --compression best",
                     "blue.png", "out.png",
                     "ScreenColor=0 OutputMethod=2 Protection=40 RestoreR=20 BlueRemoval=200 ForceBlack=10 "
                     "CorrectionB=-30", 10, 5, 70, 60});
    cases.push_back({"screenOptionAndSavedSettings",
                     "key DIR/green.png --screen blue --set matteblur=300 --save-settings DIR/saved.tvk "
                     "--outdir DIR/out",
                     "green.png", "out/green-keyed.png", "ScreenColor=0 MatteBlur=255", 0, 0, 0, 0, "stored as 255"});
    cases.push_back({"newerSettingsFile", "key DIR/green.png --settings DIR/new.tvk", "green.png", "green-keyed.png",
                     "ScreenColor=1 OutputMethod=3", 0, 0, 0, 0, "newer version of Tavrisk.  Only those"});
    cases.push_back({"jpeg", "key DIR/shot.jpg --method foreground", "shot.jpg", "shot-keyed.png",
                     "ScreenColor=1 OutputMethod=1"});
    cases.push_back({"previewNamedScreen", "preview DIR/green.png -o DIR/out.png --method foreground --set ScreenColor=0",
                     "green.png", "out.png", "ScreenColor=0 OutputMethod=1"});
    cases.push_back({"previewSavedSettings",
                     "preview DIR/green.png -o DIR/out.png --method matte --set Gamma=30 --save-settings DIR/saved.tvk",
                     "green.png", "out.png", "ScreenColor=1 OutputMethod=3 Gamma=30"});
    return cases;
}

class KeyerOutputTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(KeyerOutputTest, IsTheReferenceImageOfTheSettingsApplied) {
    const OutputCase& c = GetParam();
    TempFolder folder;
    const Image background = Background(90, 70);
    Write(folder.Path("green.png"), Scene(90, 70, true));
    Write(folder.Path("back.png"), background);
    Write(folder.Path("blue.png"), Scene(100, 80, false));
    WriteJpeg(folder.Path("shot.jpg"), Scene(40, 30, true));
    std::ofstream(folder.Path("s.tvk")) << "[TavRisk Settings]\nScreenColor=0\nProtection=40\nRestoreR=20\n"
                                           "BlueRemoval=200\nForceBlack=10\n";
    std::ofstream(folder.Path("new.tvk")) << "[TavRisk Settings]\nVersion=2\nOutputMethod=3\n";
    std::filesystem::create_directory(folder.Path("out"));
    Outcome run = Keyer(folder, Expand(c.arguments, folder));
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;

    ParameterRecord settings = DefaultSettings();
    std::istringstream items(c.settings);
    for (std::string item; items >> item;) {
        const size_t equals = item.find('=');
        int64_t stored = 0;
        ApplySettingsValue(&settings, item.substr(0, equals).c_str(), std::stoll(item.substr(equals + 1)), &stored);
    }
    const Image input = Read(folder.Path(c.input));
    for (size_t i = 3; i < input.rgba.size(); i += 4) ASSERT_TRUE(input.hadAlpha || input.rgba[i] == 255);
    const int width = c.width != 0 ? c.width : input.width, height = c.width != 0 ? c.height : input.height;
    Image expected = Expected(input, settings, c.left, c.top, width, height, &background);
    // The preview pane shows the whole of these images at 1 : 1, opaque.
    if (c.arguments.rfind("preview", 0) == 0)
        for (size_t i = 3; i < expected.rgba.size(); i += 4) expected.rgba[i] = 255;
    EXPECT_EQ(Read(folder.Path(c.output)).rgba, expected.rgba);
    if (c.arguments.find("--save-settings") == std::string::npos) return;
    ParameterRecord saved = DefaultSettings();
    bool newer = true;
    ASSERT_TRUE(ReadSettingsFile(folder.Path("saved.tvk").c_str(), &saved, &newer));
    EXPECT_FALSE(newer);
    EXPECT_EQ(std::memcmp(&saved, &settings, sizeof saved), 0);
}

INSTANTIATE_TEST_SUITE_P(Runs, KeyerOutputTest, ::testing::ValuesIn(OutputCases()), test::kCaseName);

struct FailureCase {
    const char* name;
    std::string arguments;  // "IN" stands for a good input, "DIR" for the folder
    int status;
    const char* message;  // part of standard error
    const char* written = nullptr;  // an output the other inputs still give
};

class KeyerFailureTest : public ::testing::TestWithParam<FailureCase> {};

// Every file of the folder with its bytes.
std::map<std::string, std::string> Contents(const TempFolder& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path()))
        if (entry.is_regular_file() && entry.path().filename() != "stderr.txt")
            files[entry.path().string()] = ReadFile(entry.path().string());
    return files;
}

TEST_P(KeyerFailureTest, ReportsTheFileAndTheReason) {
    const FailureCase& c = GetParam();
    TempFolder folder;
    const Image scene = Scene(32, 24, true);
    Write(folder.Path("in.png"), scene);
    Write(folder.Path("in-keyed.png"), scene);  // an earlier result, given as an input
    Write(folder.Path("small.png"), Background(8, 8));
    WriteJpeg(folder.Path("in.jpg"), scene);
    WriteJpeg(folder.Path("big.jpg"), Scene(160, 120, true));
    const std::string jpeg = ReadFile(folder.Path("big.jpg")), png = ReadFile(folder.Path("in.png"));
    WriteFile(folder.Path("cut.jpg"), jpeg.substr(0, jpeg.size() * 3 / 5));  // in the scan data
    WriteFile(folder.Path("cut.png"), png.substr(0, png.size() / 2));
    WritePartialPng(folder.Path("short.png"), 32, 24, 10);
    WritePartialPng(folder.Path("bomb.png"), 32767, 32767, 1);
    std::ofstream(folder.Path("broken.png")) << "not a picture";
    std::ofstream(folder.Path("notes.txt")) << "Shoot on Tuesday\nBring the green cloth\n";
    std::ofstream(folder.Path("other.ini")) << "[Other]\nGamma=40\n";
    std::filesystem::create_directory(folder.Path("out"));
    ASSERT_EQ(mkfifo(folder.Path("fifo").c_str(), 0600), 0);
    // Outputs that are no regular files: a device node like /dev/null's, in
    // the folder (only the superuser may make one), a socket, links to them
    // and a link into a missing folder.
    const bool device = mknod(folder.Path("dev").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (std::string(c.name).find("Device") != std::string::npos && !device)
        GTEST_SKIP() << "only the superuser makes device nodes";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", folder.Path("sock").c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(listener);
    std::filesystem::create_symlink("dev", folder.Path("todev"));
    std::filesystem::create_symlink(folder.Path("nodir/x.png"), folder.Path("lost"));
    const auto before = Contents(folder);
    Outcome run = Keyer(folder, Expand(c.arguments, folder), "timeout 60");
    EXPECT_EQ(run.status, c.status) << run.errors;
    EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
    EXPECT_TRUE(c.status != 2 || Contents(folder) == before) << "a refused command line wrote";
    EXPECT_TRUE(c.written == nullptr || std::filesystem::exists(folder.Path(c.written)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyerFailureTest,
    ::testing::Values(
        FailureCase{"noCommand", "IN", 2, "expected the command 'key'"},
        FailureCase{"noInput", "key", 2, "no input image"},
        FailureCase{"unknownOption", "key IN --fast", 2, "unknown option '--fast'"},
        FailureCase{"unknownMethod", "key IN --method glow", 2, "unknown method 'glow'"},
        FailureCase{"unknownCompression", "key IN --compression small", 2,
                    "--compression takes fast, default or best, not 'small'"},
        FailureCase{"hugeMethod", "key IN --method 99999999999999999999", 2, "unknown method"},
        FailureCase{"unknownSetting", "key IN --set Sharpness=3", 2, "unknown setting 'Sharpness'"},
        FailureCase{"notAnInteger", "key IN --set Gamma=high", 2, "'high' is not an integer"},
        FailureCase{"settingBeyond64Bits", "key IN --set Gamma=99999999999999999999", 2,
                    "--set Gamma: 99999999999999999999 is beyond"},
        FailureCase{"regionWidthBeyond32Bits", "key IN --region 0,0,4294967297,1", 2,
                    "--region: 4294967297 is outside 1..32767"},
        FailureCase{"regionLeftBeyond32Bits", "key IN --region 4294967296,0,5,5", 2,
                    "--region: 4294967296 is outside 0..32767"},
        FailureCase{"regionNotNumbers", "key IN --region 1,2,3", 2, "--region takes X,Y,W,H"},
        FailureCase{"twoInputsOneOutput", "key IN IN -o DIR/x.png", 2, "-o takes one input only"},
        FailureCase{"missingSettings", "key IN --settings DIR/none.tvk", 2, "cannot read the settings file"},
        FailureCase{"overwriteInput", "key IN -o IN", 2, "would overwrite the input"},
        FailureCase{"overwriteInputByAnotherName", "key IN -o DIR/out/../in.png", 2, "would overwrite the input"},
        FailureCase{"outputIsALaterInput", "key IN DIR/in-keyed.png", 2, "would overwrite the input"},
        FailureCase{"outputIsTheBackground", "key IN --method 5 --background DIR/small.png -o DIR/small.png", 2,
                    "would overwrite the input"},
        FailureCase{"twoInputsShareAnOutput", "key IN DIR/in.jpg --outdir DIR/out", 2, "would both be written"},
        FailureCase{"outputIsAFolder", "key IN -o DIR/out", 2, "is a folder"},
        FailureCase{"outputIsADevice", "key IN -o DIR/dev", 2, "is a character device, not a regular file"},
        FailureCase{"outputLinksToADevice", "key IN -o DIR/todev", 2, "/dev, which is a character device"},
        FailureCase{"outputIsAFifo", "key IN -o DIR/fifo", 2, "fifo is a FIFO, not a regular file"},
        FailureCase{"outputIsASocket", "key IN -o DIR/sock", 2, "sock is a socket, not a regular file"},
        FailureCase{"outputLinksIntoAMissingFolder", "key IN -o DIR/lost", 2, "whose folder does not exist"},
        FailureCase{"saveSettingsIntoTheInput", "key IN --save-settings IN", 2, "would overwrite the input"},
        FailureCase{"saveSettingsIntoTheOutput", "key IN -o DIR/o.png --save-settings DIR/o.png", 2,
                    "is the output of"},
        FailureCase{"saveSettingsIntoAText", "key IN --save-settings DIR/notes.txt", 2, "is not a settings file"},
        FailureCase{"saveSettingsIntoAnotherIni", "key IN --save-settings DIR/other.ini", 2,
                    "is not a settings file"},
        FailureCase{"saveSettingsWithoutFolder", "key IN --save-settings DIR/nodir/s.tvk", 2, "no folder"},
        FailureCase{"missingInputDoesNotStopTheOthers", "key DIR/none.png IN", 1, "none.png: No such file",
                    "in-keyed.png"},
        FailureCase{"notAnImage", "key DIR/broken.png", 1, "broken.png: not a PNG or JPEG image"},
        FailureCase{"folderInput", "key DIR/out", 1, "out: is a directory"},
        FailureCase{"fifoInput", "key DIR/fifo", 1, "fifo: is not a regular file"},
        FailureCase{"cutPng", "key DIR/cut.png", 1, "cut.png: truncated PNG"},
        FailureCase{"pngWithFewerRows", "key DIR/short.png", 1, "short.png: truncated PNG"},
        FailureCase{"cutJpeg", "key DIR/cut.jpg", 1, "cut.jpg: truncated or corrupt JPEG"},
        FailureCase{"cutJpegBackground", "key IN --method 5 --background DIR/cut.jpg", 1,
                    "cut.jpg: truncated or corrupt JPEG"},
        FailureCase{"pngClaimingBillionPixels", "key DIR/bomb.png", 1, "exceed the budget of 600000000"},
        FailureCase{"pixelBudget", "key IN --max-pixels 700", 1, "(--max-pixels)"},
        FailureCase{"regionOutside", "key IN --region 20,20,20,20", 1, "lies outside the 32 x 24 image"},
        FailureCase{"backgroundMissing", "key IN --method 5", 1, "needs --background"},
        FailureCase{"backgroundSize", "key IN --method 5 --background DIR/small.png", 1,
                    "small.png: the background is 8 x 8, the filtered area 32 x 24"},
        FailureCase{"cutJpegAccepted", "key DIR/cut.jpg --accept-jpeg-warnings -o DIR/o.png", 0, ""},
        FailureCase{"settingsWithoutSection", "key IN --settings DIR/other.ini -o DIR/o.png", 0,
                    "other.ini: warning: no [TavRisk Settings] section"}),
    test::kCaseName);

// Where an output's bytes land: an existing file keeps its permissions; a
// link is written through (the file it leads to is replaced or made, the
// link stays); "-" is standard output. The input is left as it was and no
// temporary file stays behind.
struct PlaceCase {
    const char* name;
    const char* output;  // "-o" of the run, in the folder
    const char* linksTo;  // what the output is a link to ("DIR": the folder); none: a plain file
    bool exists;         // the file written exists before, with mode 0640
    const char* written;  // where the bytes must be, in the folder; none: standard output
};

class KeyerPlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(KeyerPlaceTest, WritesWhereTheOutputLeads) {
    const PlaceCase& c = GetParam();
    TempFolder folder;
    Write(folder.Path("in.png"), Scene(40, 30, true));
    const std::string input = ReadFile(folder.Path("in.png"));
    std::filesystem::create_directory(folder.Path("sub"));
    std::filesystem::create_symlink("target.png", folder.Path("sub/hop.png"));
    ASSERT_EQ(Keyer(folder, "key " + folder.Path("in.png") + " -o " + folder.Path("expected.png")).status, 0);
    if (c.exists) {
        WriteFile(folder.Path(c.written), "an earlier result");
        ASSERT_EQ(chmod(folder.Path(c.written).c_str(), 0640), 0);
    }
    if (c.linksTo != nullptr) std::filesystem::create_symlink(Expand(c.linksTo, folder), folder.Path(c.output));
    const bool toStandardOutput = c.written == nullptr;
    const std::string written = folder.Path(toStandardOutput ? "stdout.png" : c.written);
    Outcome run = Keyer(folder, "key " + folder.Path("in.png") + " -o " + (toStandardOutput ? "-" : folder.Path(c.output)),
                        "", toStandardOutput ? written : "/dev/null");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(ReadFile(written), ReadFile(folder.Path("expected.png")));
    EXPECT_EQ(ReadFile(folder.Path("in.png")), input);
    struct stat st;
    ASSERT_EQ(stat(written.c_str(), &st), 0);
    EXPECT_TRUE(toStandardOutput || (st.st_mode & 0777) == (c.exists ? 0640u : 0644u)) << std::oct << st.st_mode;
    EXPECT_TRUE(c.linksTo == nullptr ||
                std::filesystem::read_symlink(folder.Path(c.output)).string() == Expand(c.linksTo, folder));
    for (const std::string& where : {folder.path(), folder.Path("sub")})
        for (const std::string& name : NamesIn(where)) EXPECT_NE(name[0], '.') << "left behind: " << name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyerPlaceTest,
    ::testing::Values(PlaceCase{"newFile", "out.png", nullptr, false, "out.png"},
                      PlaceCase{"existingFileKeepsItsMode", "out.png", nullptr, true, "out.png"},
                      PlaceCase{"linkToAFile", "link.png", "sub/target.png", true, "sub/target.png"},
                      PlaceCase{"linkToALinkToAFile", "link.png", "DIR/sub/hop.png", true, "sub/target.png"},
                      PlaceCase{"linkToAMissingFile", "link.png", "DIR/sub/made.png", false, "sub/made.png"},
                      PlaceCase{"standardOutput", "-", nullptr, false, nullptr}),
    test::kCaseName);

// Values beyond a setting's documented range are clamped wherever the keyer
// takes them, the clamp is reported, and only the clamped value is saved.
struct RangeCase {
    const char* name;
    std::string arguments;  // "DIR" stands for the folder
    std::string file;       // the settings file's lines, when given
    const char* report;
    const char* key;
    int64_t saved;
};

class KeyerRangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(KeyerRangeTest, ClampsReportsAndSavesInRange) {
    const RangeCase& c = GetParam();
    TempFolder folder;
    Write(folder.Path("in.png"), Scene(24, 16, true));
    Write(folder.Path("back.png"), Background(24, 16));
    std::string arguments = "key " + folder.Path("in.png") + " --background " + folder.Path("back.png") +
                            " --save-settings " + folder.Path("saved.tvk") + " " + c.arguments;
    if (!c.file.empty()) {
        std::ofstream(folder.Path("s.tvk")) << "[TavRisk Settings]\n" << c.file << "\n";
        arguments += " --settings " + folder.Path("s.tvk");
    }
    Outcome run = Keyer(folder, arguments);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find(c.report), std::string::npos) << run.errors;
    EXPECT_EQ(platform::ReadIniInteger(folder.Path("saved.tvk").c_str(), kSettingsSection, c.key, -999), c.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyerRangeTest,
    ::testing::Values(
        RangeCase{"screenTwo", "--set ScreenColor=2", "", "--set ScreenColor=2: stored as 1", "ScreenColor", 1},
        RangeCase{"screenNegative", "--set ScreenColor=-1", "", "--set ScreenColor=-1: stored as 0", "ScreenColor", 0},
        RangeCase{"methodSix", "--set OutputMethod=6", "", "--set OutputMethod=6: stored as 5", "OutputMethod", 5},
        RangeCase{"method255", "--set OutputMethod=255", "", "stored as 5", "OutputMethod", 5},
        RangeCase{"dynamicRange", "--set DynamicRange=7", "", "--set DynamicRange=7: stored as 1", "DynamicRange", 1},
        RangeCase{"fileMethod", "", "OutputMethod=7", "s.tvk: OutputMethod=7 stored as 5", "OutputMethod", 5},
        RangeCase{"fileScreen", "", "ScreenColor=300", "s.tvk: ScreenColor=300 stored as 1", "ScreenColor", 1},
        RangeCase{"fileHugeGamma", "", "Gamma=99999999999999999999",
                  "s.tvk: Gamma=99999999999999999999 stored as 255", "Gamma", 255},
        RangeCase{"fileChoke", "", "MatteChoke=-500", "s.tvk: MatteChoke=-500 stored as -128", "MatteChoke", -128}),
    test::kCaseName);

// A keyer run that fails for want of room names the folder and the reason.
// The full file systems are small ones mounted in a namespace of the run's
// own; where the system allows no such namespace the cases are skipped.
class KeyerRoomTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("unshare -rm true 2>/dev/null") != 0) GTEST_SKIP() << "no private mount namespaces here";
        // Noise: the input and its result do not compress into a few blocks.
        Image noisy = Scene(700, 600, true);
        uint32_t seed = 12345;
        for (size_t i = 0; i < noisy.rgba.size(); i += 4) {
            seed = seed * 1103515245 + 12345;
            noisy.rgba[i] = uint8_t(noisy.rgba[i] ^ (seed >> 24));
        }
        Write(folder_.Path("in.png"), noisy);
        std::filesystem::create_directory(folder_.Path("small"));
    }
    // The keyer with a `size` file system at DIR/small; what is left in it is
    // listed on standard error after the run, as "left: NAME".
    Outcome KeyWithSmallDisk(const std::string& size, const std::string& arguments, const std::string& environment) {
        const std::string small = folder_.Path("small");
        return Keyer(folder_, arguments,
                     environment + " unshare -rm sh -c 'mount -t tmpfs -o size=" + size + " tavrisk-test " + small +
                         " && \"$0\" \"$@\"; status=$?; for f in " + small + "/* " + small +
                         "/.[!.]*; do [ -e \"$f\" ] && echo \"left: $f\" >&2; done; exit $status'");
    }
    TempFolder folder_;
};

TEST_F(KeyerRoomTest, AFullTemporaryFolderIsNamedWithItsReasonAndLeftEmpty) {
    Outcome run = KeyWithSmallDisk("256k", "key " + folder_.Path("in.png") + " -o " + folder_.Path("out.png"),
                                   "TMPDIR=" + folder_.Path("small"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("cannot make the working images in the temporary folder: " + folder_.Path("small") +
                              "/tavrisk-"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("No space left on device"), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find("left: "), std::string::npos) << run.errors;
}

TEST_F(KeyerRoomTest, AFullOutputDiskIsNamedAndLeavesNothing) {
    Outcome run = KeyWithSmallDisk("64k", "key " + folder_.Path("in.png") + " --outdir " + folder_.Path("small"), "");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("in-keyed.png: cannot write: No space left on device (ENOSPC)"), std::string::npos)
        << run.errors;
    EXPECT_EQ(run.errors.find("left: "), std::string::npos) << run.errors;
}

TEST(KeyerTest, AnUnusableTemporaryFolderIsNamedWithItsReason) {
    TempFolder folder;
    Write(folder.Path("in.png"), Scene(700, 600, true));  // large enough for file-backed buffers
    Outcome run = Keyer(folder, "key " + folder.Path("in.png"), "TMPDIR=" + folder.Path("none"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("temporary folder: " + folder.Path("none") + ": No such file or directory"),
              std::string::npos)
        << run.errors;
}

// Files that claim a size their data cannot fill are refused before the
// pixels are allocated: the keyer gets through them within an address space
// far smaller than the claimed image. (Sanitized builds reserve more address
// space than that for themselves.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(KeyerTest, FilesClaimingHugeSizesAreRefusedWithinLittleMemory) {
    TempFolder folder;
    WritePartialPng(folder.Path("tallpng.png"), 20000, 20000, 2);  // 1.6 GB of pixels claimed
    WriteJpeg(folder.Path("small.jpg"), Scene(64, 48, true));
    std::string jpeg = ReadFile(folder.Path("small.jpg"));
    const size_t frame = jpeg.find("\xFF\xC0");  // the frame header: height, then width
    ASSERT_NE(frame, std::string::npos);
    jpeg[frame + 5] = jpeg[frame + 7] = char(20000 >> 8);
    jpeg[frame + 6] = jpeg[frame + 8] = char(20000 & 0xFF);
    WriteFile(folder.Path("talljpg.jpg"), jpeg);
    Write(folder.Path("fine.png"), Scene(64, 48, true));
    Outcome run = Keyer(folder, "key " + folder.Path("tallpng.png") + " " + folder.Path("talljpg.jpg") + " " +
                                    folder.Path("fine.png"),
                        "ulimit -v 1000000 &&");
    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_NE(run.errors.find("tallpng.png: truncated PNG"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("talljpg.jpg: truncated or corrupt JPEG"), std::string::npos) << run.errors;
    EXPECT_TRUE(std::filesystem::exists(folder.Path("fine-keyed.png")));
}
#endif

}  // namespace
}  // namespace tav

