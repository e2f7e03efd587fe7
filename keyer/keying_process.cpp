#include "keyer/keying_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "platform/file_mapping.h"

namespace tav::cli {
namespace {

// What the keyer sends for each frame, and what comes back; one message
// each way on a sequenced-packet socket.
struct Request {
    uint64_t item;
    uint64_t offset;  // of the frame in the shared memory
    int32_t width, height;
    Region area;
    ParameterRecord settings;
};

struct Reply {
    uint64_t item;
    int32_t ok;
    double seconds;
    char why[480];
};

static_assert(std::is_trivially_copyable_v<Request> && std::is_trivially_copyable_v<Reply>);

// Sends or receives one whole message; false when the other side has gone.
bool SendMessage(int channel, const void* message, size_t size) {
    ssize_t sent;
    while ((sent = send(channel, message, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {}
    return sent == ssize_t(size);
}

bool ReceiveMessage(int channel, void* message, size_t size) {
    ssize_t got;
    while ((got = recv(channel, message, size, 0)) < 0 && errno == EINTR) {}
    return got == ssize_t(size);
}

// Closes every descriptor open on the keyer's standard input or output but
// those two themselves (the writing end of the pipe the keyer reads, held by
// a program that runs the keyer in its own process, say): the keyer must see
// its input end, and a reader downstream the stream's end.
void CloseOtherEnds() {
    struct stat in {}, out {};
    const bool haveIn = fstat(STDIN_FILENO, &in) == 0, haveOut = fstat(STDOUT_FILENO, &out) == 0;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return;
    while (const dirent* entry = readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        struct stat st {};
        if (fd <= STDERR_FILENO || fd == dirfd(folder) || fstat(fd, &st) != 0) continue;
        if ((haveIn && st.st_dev == in.st_dev && st.st_ino == in.st_ino) ||
            (haveOut && st.st_dev == out.st_dev && st.st_ino == out.st_ino))
            close(fd);
    }
    closedir(folder);
}

// The keying process: frames until the keyer closes the channel (or ends).
// It keeps nothing of the keyer's standard input and output.
[[noreturn]] void Serve(Batch* batch, uint8_t* shared, int channel, pid_t keyer) {
    // A keyer that dies takes its keying processes along (their working
    // files go through the interrupt cleanup they inherited).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != keyer) _exit(1);
    CloseOtherEnds();
    const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing >= 0) {
        dup2(nothing, STDIN_FILENO);
        dup2(nothing, STDOUT_FILENO);
        close(nothing);
    }
    Request request;
    while (ReceiveMessage(channel, &request, sizeof request)) {
        Job job;
        job.item = request.item;
        job.image.width = request.width;
        job.image.height = request.height;
        job.area = request.area;
        job.settings = request.settings;
        Reply reply{};
        reply.item = request.item;
        std::string why;
        // The stream checked the background before it started.
        if (job.settings.OutputMethod == kOutputBackground) PrepareBackground(batch, job);
        reply.ok = RunPlugin(*batch, job, shared + request.offset, false, &reply.seconds, &why);
        std::snprintf(reply.why, sizeof reply.why, "%s", why.c_str());
        if (!SendMessage(channel, &reply, sizeof reply)) break;
    }
    platform::ReleaseKeptViews();
    platform::DiscardTempFilesNow();
    _exit(0);
}

std::string EndedWith(int status) {
    if (WIFSIGNALED(status))
        return "the keying process was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "the keying process ended (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

SharedMemory::~SharedMemory() {
    if (data_ != nullptr) munmap(data_, bytes_);
}

bool SharedMemory::Allocate(size_t bytes) {
    void* at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return false;
    data_ = static_cast<uint8_t*>(at);
    bytes_ = bytes;
    return true;
}

bool KeyingProcess::Start(Batch* batch, const SharedMemory& shared, KeyingProcess* others, size_t count) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const pid_t keyer = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(ends[0]);
        close(ends[1]);
        errno = error;
        return false;
    }
    if (pid == 0) {
        close(ends[0]);
        for (size_t i = 0; i < count; ++i)
            if (others[i].channel_ >= 0) close(others[i].channel_);
        Serve(batch, shared.data(), ends[1], keyer);
    }
    close(ends[1]);
    pid_ = pid;
    channel_ = ends[0];
    shared_ = shared.data();
    ended_.clear();
    return true;
}

bool KeyingProcess::Key(const Job& job, uint8_t* pixels, double* seconds, std::string* why) {
    *seconds = 0;
    if (!ended_.empty()) {
        *why = ended_;
        return false;
    }
    Request request{job.item, uint64_t(pixels - shared_), job.image.width, job.image.height, job.area, job.settings};
    Reply reply;
    if (SendMessage(channel_, &request, sizeof request) && ReceiveMessage(channel_, &reply, sizeof reply) &&
        reply.item == job.item) {
        *seconds = reply.seconds;
        reply.why[sizeof reply.why - 1] = '\0';
        if (!reply.ok) *why = reply.why;
        return reply.ok != 0;
    }
    // The process is gone: it says how once it is waited for.
    close(channel_);
    channel_ = -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    pid_ = -1;
    ended_ = EndedWith(status);
    *why = ended_;
    return false;
}

void KeyingProcess::Stop() {
    if (channel_ >= 0) close(channel_);
    channel_ = -1;
    if (pid_ > 0)
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    pid_ = -1;
}

}  // namespace tav::cli
