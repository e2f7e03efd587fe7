// A batch through the keyer's three stages: outputs and messages in the order
// of the inputs, failures in the middle reported in their place, the others
// written as if each had been keyed alone; and a run ended by a signal, held
// at each of its moments until the signal is sent, leaves nothing behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "interface/parameter_record.h"
#include "tests/keyer_support.h"
#include "ui/settings_format.h"

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
        dir + "/green2.png: decode ", "tavrisk: 2 of 5 inputs keyed in "};
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

// A batch spread by GNU parallel, as the README's example spreads one over
// machines, here on this machine alone (-S :): every input keyed by a keyer
// of its own exactly as alone, the damaged one failing with its reason, and
// each exit status in the job log (parallel's own: the failures counted).
TEST(KeyerSpreadTest, GnuParallelKeysEveryInputAndCountsTheFailure) {
    TempFolder folder;
    const std::string dir = folder.path();
    std::filesystem::create_directory(folder.Path("alone"));
    const std::vector<std::string> names = {"a", "b", "cut", "d"};
    for (size_t i = 0; i < names.size(); ++i) Write(folder.Path(names[i] + ".png"), Scene(40 + int(i), 30, i % 2 == 0));
    std::string cut = ReadFile(folder.Path("cut.png"));
    WriteFile(folder.Path("cut.png"), cut.substr(0, cut.size() / 2));
    const std::string command =
        "cd " + dir + " && ls *.png | parallel --will-cite -S : --transferfile {} --return {.}-keyed.png --cleanup "
        "--joblog jobs.log " TAVRISK_KEYER " key {} -o {.}-keyed.png --jobs 1 --quiet 2>errors.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "GNU parallel is needed (.ci/install puts it in)";
    EXPECT_EQ(WEXITSTATUS(status), 1);  // one input failed
    EXPECT_NE(ReadFile(folder.Path("errors.txt")).find("tavrisk: cut.png: truncated PNG"), std::string::npos);
    std::map<std::string, std::string> exits;  // of each input, from the job log
    std::istringstream log(ReadFile(folder.Path("jobs.log")));
    for (std::string line; std::getline(log, line);) {
        std::vector<std::string> fields;
        for (std::istringstream words(line); std::getline(words, fields.emplace_back(), '\t');) {}
        if (fields.size() > 9 && fields[0] != "Seq") exits[fields[8].substr(fields[8].find(" key ") + 5)] = fields[6];
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const bool damaged = name == "cut";
        EXPECT_EQ(exits[name + ".png -o " + name + "-keyed.png --jobs 1 --quiet"], damaged ? "1" : "0");
        EXPECT_EQ(std::filesystem::exists(folder.Path(name + "-keyed.png")), !damaged);
        if (damaged) continue;
        Outcome alone = Keyer(folder, "key " + folder.Path(name + ".png") + " --outdir " + folder.Path("alone"));
        ASSERT_EQ(alone.status, 0) << alone.errors;
        EXPECT_EQ(ReadFile(folder.Path(name + "-keyed.png")), ReadFile(folder.Path("alone/" + name + "-keyed.png")));
    }
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

// The keyer run with `arguments`, $TMPDIR `tmpdir` and a terminal of its own
// as standard error, held at the calls named in `points` by the pause points
// preloaded into it (tests/doubles/pause_point.cpp); killed if still running
// at the end. With `input`, standard input is that file, and standard output
// goes nowhere.
class PausedKeyer {
public:
    PausedKeyer(const std::vector<std::string>& points, const std::vector<std::string>& arguments,
                const std::string& tmpdir, const std::string& input = "")
        : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        EXPECT_TRUE(grantpt(master_) == 0 && unlockpt(master_) == 0);
        const std::string terminal = ptsname(master_);
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        tell_ = ends[0];
        std::vector<int> theirs = {ends[1]};
        std::string list = "TAVRISK_PAUSE=" + std::to_string(ends[1]);
        for (const std::string& point : points) {
            EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
            theirs.push_back(ends[0]), answers_.push_back(ends[1]);
            list.append(" ").append(std::to_string(ends[0])).append(":" + point);
        }
        // AddressSanitizer wants its runtime loaded first; the pause points come first here.
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> command = {
            "env", "TMPDIR=" + tmpdir, "LD_PRELOAD=" TAVRISK_PAUSE_POINT, list,
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0", TAVRISK_KEYER};
        command.insert(command.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        if ((child_ = fork()) == 0) {
            // As from a terminal: whoever started the tests may have left the
            // ending signals ignored (nohup, a background job), and the keyer
            // rightly keeps an ignored signal ignored.
            for (int ending : {SIGINT, SIGTERM, SIGHUP}) signal(ending, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            setsid();
            dup2(open(terminal.c_str(), O_RDWR), STDERR_FILENO);
            if (!input.empty()) dup2(open(input.c_str(), O_RDONLY), STDIN_FILENO);
            if (!input.empty()) dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            for (int fd : theirs) fcntl(fd, F_SETFD, 0);
            execv("/usr/bin/env", argv.data());
            _exit(127);
        }
        for (int fd : theirs) close(fd);
    }
    ~PausedKeyer() {
        if (child_ > 0) kill(child_, SIGKILL), waitpid(child_, nullptr, 0);
        for (int fd : answers_) close(fd);
        close(tell_), close(master_);
    }

    // Lets every thread that reaches a point go on, until each point of
    // `held` (numbers in `points`) has been reached once and held there and
    // the terminal has shown `shown`. False when the keyer ends first or
    // nothing happens for a minute.
    bool HoldAt(std::vector<int> held, const std::string& shown = "") {
        while (!held.empty() || terminal_.find(shown) == std::string::npos) {
            pollfd ends[2] = {{tell_, POLLIN, 0}, {master_, POLLIN, 0}};
            if ((tell_ < 0 && master_ < 0) || poll(ends, 2, 60000) <= 0) return false;
            char bytes[4096];
            const ssize_t got = ends[1].revents != 0 ? read(master_, bytes, sizeof bytes) : 0;
            if (got > 0) terminal_.append(bytes, size_t(got));
            else if (ends[1].revents != 0) close(master_), master_ = -1;  // the keyer has ended
            if (ends[0].revents == 0) continue;
            const int point = read(tell_, bytes, 1) == 1 ? bytes[0] - '0' : -1;
            if (point < 0) close(tell_), tell_ = -1;
            else if (std::erase(held, point) == 0) Go(point);
        }
        return true;
    }
    // Lets the thread held at `point` go on.
    void Go(int point) { EXPECT_EQ(write(answers_.at(size_t(point)), "g", 1), 1); }
    // Sends `signal`, or without one lets the keyer run to its end; the wait
    // status. A keyer that has not ended a minute later is killed.
    int Finish(int signal = 0) {
        if (signal != 0) kill(child_, signal);
        else if (!HoldAt({-1}) && master_ >= 0) kill(child_, SIGKILL);  // stalled
        if (const int ended = int(syscall(SYS_pidfd_open, child_, 0)); ended >= 0) {
            pollfd end{ended, POLLIN, 0};
            if (poll(&end, 1, 60000) != 1) ADD_FAILURE() << "the keyer did not end", kill(child_, SIGKILL);
            close(ended);
        }
        int status = -1;
        waitpid(std::exchange(child_, -1), &status, 0);
        return status;
    }
    const std::string& terminal() const { return terminal_; }
    pid_t pid() const { return child_; }
    // After Finish: true once every process that holds the points (the
    // keyer's own keying processes too) has ended.
    bool AllEnded() {
        char byte;
        for (pollfd end{tell_, POLLIN, 0}; poll(&end, 1, 60000) > 0;)
            if (read(tell_, &byte, 1) <= 0) return true;
        return false;
    }

private:
    pid_t child_;
    int master_, tell_;
    std::vector<int> answers_;
    std::string terminal_;
};

// For a batch whose third input is gone.png, run with two threads or more and
// these points first: holds the first output whole just before its rename
// while the second input's keying starts.
const std::vector<std::string> kOverlapPoints = {"isatty", "open=gone.png", "fsync"};
bool HoldFirstWriteWhileSecondKeys(PausedKeyer& keyer) {
    // The first keying starts once the second input is read (gone.png is
    // opened next): the keying thread then takes the second input, as it
    // can, rather than the first output, and another thread writes that.
    if (!keyer.HoldAt({0, 1})) return false;
    keyer.Go(1), keyer.Go(0);
    // The second keying starts once the first output is held.
    if (!keyer.HoldAt({0, 2})) return false;
    keyer.Go(0);
    return true;
}

TEST(KeyerPipelineTerminalTest, EachProgressBarStaysInItsInputsPlace) {
    TempFolder folder;
    const std::string dir = folder.path();
    std::vector<std::string> arguments = {"key", "--timings", "--jobs", "2"};
    for (const char* name : {"a", "b", "gone", "c", "d"}) {
        if (name[0] != 'g') Write(folder.Path(std::string(name) + ".png"), Scene(300, 400, true));
        arguments.push_back(dir + "/" + name + ".png");
    }
    // The first output is held whole until the next input's bar has run to
    // its end on the terminal.
    PausedKeyer keyer(kOverlapPoints, arguments, dir);
    ASSERT_TRUE(HoldFirstWriteWhileSecondKeys(keyer));
    ASSERT_TRUE(keyer.HoldAt({}, dir + "/b.png [##############################] 100%")) << keyer.terminal();
    keyer.Go(2);
    const int status = keyer.Finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;  // one input failed
    const std::vector<std::string> screen = Screen(keyer.terminal());
    std::vector<std::string> expected;
    for (const char* name : {"a", "b", "gone", "c", "d"}) {
        const std::string path = dir + "/" + name + ".png";
        if (name[0] == 'g') expected.push_back("tavrisk: " + path + ": No such file");
        else expected.insert(expected.end(), {path + " [##############################] 100%", path + ": decode "});
    }
    ASSERT_GE(screen.size(), expected.size()) << keyer.terminal();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(screen[i].rfind(expected[i], 0), 0u) << "line " << i << ": " << screen[i];
}

INSTANTIATE_TEST_SUITE_P(Threads, KeyerPipelineTest, ::testing::Values("--jobs 1", "", "--jobs 3"),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "oneThread" : info.index == 1 ? "oneACore" : "three");
                         });

// A moment of a run, and the call the keyer makes there.
struct Moment {
    const char* name;
    const char* point;
    bool batch;  // in.png, in2.png and gone.png: the first is written while the second is keyed
    bool stream = false;  // a raw frame of in.png's, keyed in a keying process
};
constexpr Moment kMoments[] = {
    {"MakingBuffers", "posix_fallocate", false},  // the private folder and the first working file are made
    {"Keying", "fflush", false},                  // the first progress bar is drawn
    {"Writing", "fsync", false},                  // the hidden partial output is whole, not yet renamed
    {"WritingWhileKeyingTheNext", "fflush", true},
    {"KeyingAFrame", "posix_fallocate", false, true},  // the keying process makes its buffers
};

class KeyerInterruptTest : public ::testing::TestWithParam<std::tuple<int, Moment>> {};

TEST_P(KeyerInterruptTest, NothingIsLeftBehind) {
    const auto [signal, moment] = GetParam();
    TempFolder folder;
    const std::string tmp = folder.Path("tmp"), out = folder.Path("out");
    std::filesystem::create_directory(tmp);
    std::filesystem::create_directory(out);
    const Image image = Scene(700, 600, true);
    Write(folder.Path("in.png"), image);  // working buffers of more than 1 MiB: files
    WriteFile(folder.Path("in.raw"), std::string(image.rgba.begin(), image.rgba.end()));
    std::vector<std::string> arguments = {"key", folder.Path("in.png"), "--outdir", out}, points;
    if (moment.stream) arguments = {"key", "--raw", "700x600", "-", "--jobs", "2"};
    if (moment.batch) {
        std::filesystem::copy_file(folder.Path("in.png"), folder.Path("in2.png"));
        arguments.insert(arguments.end(), {folder.Path("in2.png"), folder.Path("gone.png"), "--jobs", "2"});
        points = kOverlapPoints;
    }
    points.push_back(moment.point);
    PausedKeyer keyer(points, arguments, tmp, moment.stream ? folder.Path("in.raw") : "");
    ASSERT_TRUE(!moment.batch || HoldFirstWriteWhileSecondKeys(keyer));
    ASSERT_TRUE(keyer.HoldAt({int(points.size()) - 1})) << "the run never reached " << moment.point;
    // What the moment has made: the private folder, and the partial output.
    EXPECT_EQ(NamesIn(tmp).size(), 1u);
    EXPECT_EQ(NamesIn(out).size(), std::string(moment.point) == "fsync" || moment.batch ? 1u : 0u);

    const int status = keyer.Finish(signal);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(keyer.AllEnded());
    EXPECT_EQ(NamesIn(tmp), std::vector<std::string>{});
    EXPECT_EQ(NamesIn(out), std::vector<std::string>{});
}

// A keying process that dies under a frame (here killed outright while it
// makes the frame's working buffers) fails that frame with the reason.
TEST(KeyerStreamTest, AKeyingProcessThatDiesIsNamedInItsFramesPlace) {
    TempFolder folder;
    std::filesystem::create_directory(folder.Path("tmp"));
    const std::vector<uint8_t> frame = Scene(700, 600, true).rgba;
    WriteFile(folder.Path("in.raw"), std::string(frame.begin(), frame.end()));
    PausedKeyer keyer({"posix_fallocate"}, {"key", "--raw", "700x600", "-", "--jobs", "2"}, folder.Path("tmp"),
                      folder.Path("in.raw"));
    ASSERT_TRUE(keyer.HoldAt({0}));
    const std::string pid = std::to_string(keyer.pid());
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");  // the keying processes
    int killed = 0;
    for (pid_t child; children >> child; ++killed) kill(child, SIGKILL);
    EXPECT_EQ(killed, 2);
    const int status = keyer.Finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(keyer.terminal().find("tavrisk: standard input: frame 1: the keying process was ended by signal 9 "
                                    "(Killed)"),
              std::string::npos)
        << keyer.terminal();
}

INSTANTIATE_TEST_SUITE_P(Moments, KeyerInterruptTest,
                         ::testing::Combine(::testing::Values(SIGINT, SIGTERM, SIGHUP), ::testing::ValuesIn(kMoments)),
                         [](const auto& info) {
                             return sigabbrev_np(std::get<0>(info.param)) + std::string(std::get<1>(info.param).name);
                         });

}  // namespace
}  // namespace tav
