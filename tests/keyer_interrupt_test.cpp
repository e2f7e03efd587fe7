// The keyer ended by a signal at several points of a real run leaves nothing
// behind: no temporary folder or working file, no partial output.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/keyer_support.h"

namespace tav {
namespace {

using namespace test;

enum class Moment {
    MakingBuffers,  // the private temporary folder has just appeared
    Keying,         // the progress bar has passed 30 %
    Writing,        // the hidden partial output has just appeared
};

struct InterruptCase {
    const char* name;
    int signal;
    Moment moment;
    bool batch = false;  // two inputs: the first is written while the second is keyed
};

class KeyerInterruptTest : public ::testing::TestWithParam<InterruptCase> {
protected:
    static void SetUpTestSuite() {
        input_ = new TempFolder;
        Write(input_->Path("in.png"), Scene(2000, 1500, true));
        std::filesystem::copy_file(input_->Path("in.png"), input_->Path("in2.png"));
    }
    static void TearDownTestSuite() {
        delete input_;
        input_ = nullptr;
    }
    static TempFolder* input_;
};
TempFolder* KeyerInterruptTest::input_ = nullptr;

// Waits for `fd` to become readable, for at most a minute.
bool AwaitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 60000) == 1;
}

TEST_P(KeyerInterruptTest, NothingIsLeftBehind) {
    const InterruptCase& c = GetParam();
    TempFolder folder;
    const std::string tmp = folder.Path("tmp"), out = folder.Path("out");
    std::filesystem::create_directory(tmp);
    std::filesystem::create_directory(out);

    // The event that marks the moment: a file system event, or the progress
    // bar on a terminal.
    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, (c.moment == Moment::Writing ? out : tmp).c_str(), IN_CREATE), 0);
    int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const std::string side = ptsname(terminal);

    const std::string input = input_->Path("in.png"), second = input_->Path("in2.png");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setsid();
        int tty = open(side.c_str(), O_RDWR);
        dup2(tty, STDERR_FILENO);
        setenv("TMPDIR", tmp.c_str(), 1);
        execl(TAVRISK_KEYER, "tavrisk", "key", input.c_str(), "--outdir", out.c_str(), c.batch ? second.c_str() : nullptr,
              nullptr);
        _exit(127);
    }

    bool reached = false;
    if (c.moment == Moment::Keying) {
        std::string seen;
        char buffer[256];
        while (!reached && AwaitReadable(terminal)) {
            ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0) break;
            seen.append(buffer, size_t(n));
            size_t percent = seen.rfind('%');
            reached = percent != std::string::npos && percent >= 3 && std::atoi(seen.c_str() + percent - 3) >= 30;
        }
    } else {
        reached = AwaitReadable(watch);
    }
    kill(child, c.signal);
    int status = 0;
    waitpid(child, &status, 0);
    close(watch);
    close(terminal);

    ASSERT_TRUE(reached) << "the run never reached the moment";
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signal);
    EXPECT_EQ(NamesIn(tmp), std::vector<std::string>{});
    EXPECT_EQ(NamesIn(out), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Moments, KeyerInterruptTest,
    ::testing::Values(InterruptCase{"interruptMakingBuffers", SIGINT, Moment::MakingBuffers},
                      InterruptCase{"terminateMakingBuffers", SIGTERM, Moment::MakingBuffers},
                      InterruptCase{"hangUpMakingBuffers", SIGHUP, Moment::MakingBuffers},
                      InterruptCase{"interruptKeying", SIGINT, Moment::Keying},
                      InterruptCase{"terminateKeying", SIGTERM, Moment::Keying},
                      InterruptCase{"hangUpKeying", SIGHUP, Moment::Keying},
                      InterruptCase{"interruptWriting", SIGINT, Moment::Writing},
                      InterruptCase{"terminateWriting", SIGTERM, Moment::Writing},
                      InterruptCase{"hangUpWriting", SIGHUP, Moment::Writing},
                      InterruptCase{"interruptWritingWhileKeyingTheNext", SIGINT, Moment::Writing, true},
                      InterruptCase{"terminateWritingWhileKeyingTheNext", SIGTERM, Moment::Writing, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
