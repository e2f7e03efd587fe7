// What the targets that run the keyer's commands in-process share: the
// settings' ranges as the keyer documents them, command lines built from
// words, standard streams swapped for files in memory for the length of a
// command (with the sanitizers' reports kept on the real standard error
// meanwhile), and a signal disposition a command changes put back.
#pragma once

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace tav::fuzz {

// Every settings key with its range and default (-1: the screen, detected),
// as the keyer documents them.
struct SettingRange {
    const char* key;
    int64_t low, high, byDefault;
};
inline constexpr SettingRange kSettingRanges[] = {
    {"ScreenColor", 0, 1, -1},         {"OutputMethod", 0, 5, 0},         {"DynamicRange", 0, 1, 1},
    {"ForceBlack", 0, 255, 0},         {"ForceWhite", 0, 255, 0},         {"Gamma", 0, 255, 0},
    {"Protection", 0, 255, 0},         {"RestoreR", 0, 255, 0},           {"RestoreG", 0, 255, 0},
    {"RestoreB", 0, 255, 0},           {"CorrectionR", -255, 255, 0},     {"CorrectionG", -255, 255, 0},
    {"CorrectionB", -255, 255, 0},     {"BlueRemoval", 0, 255, 255},      {"MatteBlur", 0, 255, 0},
    {"MatteChoke", -128, 128, 0},
};

// A command line: argv[0] and the words after it, for ParseArguments.
class CommandLine {
public:
    explicit CommandLine(std::vector<std::string> words) : words_(std::move(words)) {
        words_.insert(words_.begin(), "tavrisk");
        for (std::string& word : words_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return int(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// A file in memory holding `bytes`, open at its start.
inline int MemoryFile(std::string_view bytes = {}) {
    const int fd = memfd_create("tavrisk-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        FUZZ_CHECK(n > 0);
        done += size_t(n);
    }
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

// Everything in the file `fd`, from its start.
inline std::string Contents(int fd) {
    std::string bytes;
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    char block[65536];
    for (ssize_t n; (n = read(fd, block, sizeof block)) != 0;) {
        FUZZ_CHECK(n > 0);
        bytes.append(block, size_t(n));
    }
    return bytes;
}

// Opens the standard streams a parent left closed (on /dev/null), so that
// no file of a run takes their numbers, and sends the sanitizers' reports to
// a copy of standard error, where they are seen while a command's standard
// error goes to a file. Once, at start.
inline void PrepareStandardStreams() {
    for (int fd = 0; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) < 0) FUZZ_CHECK(open("/dev/null", O_RDWR) == fd);
    static const int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    FUZZ_CHECK(copy >= 0);
    __sanitizer_set_report_fd(reinterpret_cast<void*>(intptr_t(copy)));
}

// Makes descriptor `fd` another name for `to` until Restore (or the end of
// its life). Checks belong after Restore: while standard error is elsewhere
// their message would be lost.
class Redirect {
public:
    Redirect(int fd, int to) : fd_(fd), saved_(fcntl(fd, F_DUPFD_CLOEXEC, 3)) {
        FUZZ_CHECK(saved_ >= 0);
        std::fflush(nullptr);
        FUZZ_CHECK(dup2(to, fd) == fd);
    }
    ~Redirect() { Restore(); }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(nullptr);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }

private:
    int fd_, saved_;
};

// The disposition of `signal` as it was when made, put back when destroyed.
class SignalDisposition {
public:
    explicit SignalDisposition(int signal) : signal_(signal) { FUZZ_CHECK(sigaction(signal, nullptr, &saved_) == 0); }
    ~SignalDisposition() { sigaction(signal_, &saved_, nullptr); }
    SignalDisposition(const SignalDisposition&) = delete;
    SignalDisposition& operator=(const SignalDisposition&) = delete;

private:
    int signal_;
    struct sigaction saved_;
};

}  // namespace tav::fuzz
