// A batch through the keyer's three stages: outputs and messages in the order
// of the inputs, failures in the middle reported in their place, the others
// written as if each had been keyed alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "host/parameters.h"
#include "tests/keyer_support.h"
#include "ui/settings_file.h"

namespace tav {
namespace {

using namespace test;

class KeyerPipelineTest : public ::testing::TestWithParam<const char*> {};

TEST_P(KeyerPipelineTest, KeepsTheOrderAndKeysTheOthersAsAlone) {
    TempFolder folder;
    const std::string dir = folder.path();
    Write(folder.Path("blue.png"), Scene(50, 40, false));
    Write(folder.Path("green.png"), Scene(64, 30, true));
    Write(folder.Path("green2.png"), Scene(33, 47, true));
    std::string png = ReadFile(folder.Path("blue.png"));
    png.resize(png.size() / 2);
    WriteFile(folder.Path("cut.png"), png);
    std::filesystem::create_directories(folder.Path("out/green-keyed.png"));  // its output cannot be written
    std::filesystem::create_directory(folder.Path("alone"));

    Outcome run = Keyer(folder, "key " + dir + "/gone.png " + dir + "/blue.png " + dir + "/cut.png " + dir +
                                    "/green.png " + dir + "/green2.png --outdir " + dir +
                                    "/out --timings --set Gamma=20 --save-settings " + dir + "/saved.tvk " + GetParam());
    EXPECT_EQ(run.status, 1) << run.errors;
    const std::vector<std::string> expected = {
        "tavrisk: " + dir + "/gone.png: No such file", dir + "/blue.png: decode ",
        "tavrisk: " + dir + "/cut.png: truncated PNG", "tavrisk: " + dir + "/out/green-keyed.png: cannot write",
        dir + "/green2.png: decode "};
    std::istringstream lines(run.errors);
    std::string line;
    for (size_t i = 0; std::getline(lines, line); ++i) {
        ASSERT_LT(i, expected.size()) << run.errors;
        EXPECT_EQ(line.rfind(expected[i], 0), 0u) << "line " << i << ": " << line;
    }
    // The first input that got as far as keying gave the saved settings.
    ParameterRecord saved = DefaultSettings();
    saved.ScreenColor = 1;
    ASSERT_TRUE(ReadSettingsFile(folder.Path("saved.tvk").c_str(), &saved, nullptr));
    EXPECT_EQ(saved.ScreenColor, 0);
    EXPECT_EQ(saved.Gamma, 20);
    for (const char* name : {"blue", "green2"}) {
        Outcome alone = Keyer(folder, "key " + dir + "/" + name + ".png --outdir " + dir + "/alone --set Gamma=20");
        ASSERT_EQ(alone.status, 0) << alone.errors;
        const std::string output = std::string("/") + name + "-keyed.png";
        EXPECT_EQ(ReadFile(dir + "/out" + output), ReadFile(dir + "/alone" + output)) << name;
    }
    EXPECT_EQ(NamesIn(folder.Path("out")),
              (std::vector<std::string>{"blue-keyed.png", "green-keyed.png", "green2-keyed.png"}));
}

// What a terminal shows after `text`: carriage returns go back to the start
// of the line and overwrite it.
std::vector<std::string> Screen(const std::string& text) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (char c : text) {
        if (c == '\r') column = 0;
        else if (c == '\n') lines.emplace_back(), column = 0;
        else if (column < lines.back().size()) lines.back()[column++] = c;
        else lines.back() += c, ++column;
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    return lines;
}

TEST(KeyerPipelineTerminalTest, EachProgressBarStaysInItsInputsPlace) {
    TempFolder folder;
    const std::string dir = folder.path();
    std::string arguments;
    for (const char* name : {"a", "b", "gone", "c", "d"}) {
        // The first is written while the small ones after it are keyed.
        if (name[0] != 'g')
            Write(folder.Path(std::string(name) + ".png"), Scene(name[0] == 'a' ? 2400 : 300, 400, true));
        arguments += " " + dir + "/" + name + ".png";
    }
    // `script` gives the keyer a terminal, which shows the bars.
    const std::string command = "script -qec '" + std::string(TAVRISK_KEYER) + " key" + arguments + " --timings' " +
                                folder.Path("screen") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 1 << 8);  // one input failed
    const std::vector<std::string> screen = Screen(ReadFile(folder.Path("screen")));
    std::vector<std::string> expected;
    for (const char* name : {"a", "b", "gone", "c", "d"}) {
        const std::string path = dir + "/" + name + ".png";
        if (name[0] == 'g') expected.push_back("tavrisk: " + path + ": No such file");
        else expected.insert(expected.end(), {path + " [##############################] 100%", path + ": decode "});
    }
    ASSERT_GE(screen.size(), expected.size() + 2) << ReadFile(folder.Path("screen"));
    for (size_t i = 0; i < expected.size(); ++i)  // after script's first line
        EXPECT_EQ(screen[i + 1].rfind(expected[i], 0), 0u) << "line " << i + 1 << ": " << screen[i + 1];
}

INSTANTIATE_TEST_SUITE_P(Threads, KeyerPipelineTest, ::testing::Values("--jobs 1", "", "--jobs 3"),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "oneThread" : info.index == 1 ? "oneACore" : "three");
                         });

}  // namespace
}  // namespace tav
