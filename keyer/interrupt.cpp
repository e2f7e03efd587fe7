#include "keyer/interrupt.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include "platform/file_mapping.h"

namespace tav::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The partial output, for the handler: the name is written before the flag
// is raised and read only while it is up.
char g_partial[4096];
std::atomic<bool> g_havePartial{false};
// Raised by the handler before it looks at the flag: a file made on another
// thread meanwhile, whose flag the handler may have missed, is removed by
// the thread that made it.
std::atomic<bool> g_ending{false};

extern "C" void OnInterrupt(int signal) {
    g_ending.store(true);
    if (g_havePartial.load()) unlink(g_partial);
    platform::DiscardTempFilesNow();
    ::signal(signal, SIG_DFL);
    // Pending until the handler returns; then the default action ends the
    // process, and its parent sees which signal did.
    raise(signal);
}

// Holds back the handled signals for the life of the object, so that the
// handler never sees a file made but not yet named, or renamed but still
// named.
class SignalHold {
public:
    SignalHold() {
        sigset_t hold;
        sigemptyset(&hold);
        for (int signal : kSignals) sigaddset(&hold, signal);
        pthread_sigmask(SIG_BLOCK, &hold, &previous_);
    }
    ~SignalHold() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

}  // namespace

void InstallInterruptCleanup() {
    for (int signal : kSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigfillset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

int PartialFile::Create(const std::string& path) {
    Discard();
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    if (temporary.size() >= sizeof g_partial) {
        errno = ENAMETOOLONG;
        return -1;
    }
    SignalHold hold;
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    std::snprintf(g_partial, sizeof g_partial, "%s", temporary.c_str());
    g_havePartial.store(true);
    if (g_ending.load()) {
        // A thread that holds the signals for good made it while the handler
        // ran elsewhere: the process is ending.
        unlink(temporary.c_str());
        for (;;) pause();
    }
    path_ = path;
    active_ = true;
    return fd;
}

bool PartialFile::Commit() {
    if (!active_) return false;
    SignalHold hold;
    bool renamed = std::rename(g_partial, path_.c_str()) == 0;
    int error = errno;
    if (!renamed) unlink(g_partial);
    g_havePartial.store(false);
    active_ = false;
    errno = error;
    return renamed;
}

void PartialFile::Discard() {
    if (!active_) return;
    SignalHold hold;
    unlink(g_partial);
    g_havePartial.store(false);
    active_ = false;
}

}  // namespace tav::cli
