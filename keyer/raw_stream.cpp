#include "keyer/raw_stream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "keyer/cores.h"
#include "keyer/keying_process.h"
#include "keyer/pipeline.h"
#include "keyer/report.h"

namespace tav::cli {
namespace {

constexpr const char* kInput = "standard input";
constexpr const char* kOutput = "standard output";
constexpr int kPipeBytes = 1 << 20;  // what the system allows anyone by default

// Reads until `size` bytes are in or the input ends; the bytes read, or -1
// with errno.
ssize_t ReadFully(int fd, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += size_t(n);
    }
    return ssize_t(got);
}

// 0, or the errno of the failed write.
int WriteFully(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

struct Frame {
    Job job;
    uint8_t* pixels = nullptr;  // the frame's RGBA bytes, in the stream's memory
    double runSeconds = 0;
    std::string why;  // it could not be keyed: said in its place, unless an earlier one failed
};

struct Stream {
    Batch* batch;
    RawFrames raw;
    size_t frameBytes = 0, inputBytes = 0;
    // The frames between their read and their write, each in slot i % slots
    // of the memory shared with the keying processes (none: keyed here).
    SharedMemory memory;
    std::vector<Frame> frames;
    std::vector<KeyingProcess> keyers;
    // The read stage's: the settings decided on the first frame, and the end
    // of the input seen.
    ParameterRecord settings{};
    bool inputOver = false;
    // The first frame that is neither keyed nor written: the one after a
    // frame that could not be keyed or written.
    std::atomic<size_t> stopAt{SIZE_MAX};
    // The write stage's.
    size_t written = 0;
    bool failed = false;
    double readSeconds = 0, runSeconds = 0, writeSeconds = 0;  // each its stage's
};

void StopAt(Stream* s, size_t frame) {
    size_t now = s->stopAt.load();
    while (frame < now && !s->stopAt.compare_exchange_weak(now, frame)) {}
}

std::string FrameName(size_t i) { return "frame " + std::to_string(i + 1); }

Frame& FrameOf(Stream* s, size_t i) { return s->frames[i % s->frames.size()]; }

bool ReadFrame(Stream* s, size_t i) {
    if (s->inputOver || i >= s->stopAt.load()) return false;
    Frame& frame = FrameOf(s, i);
    Job& job = frame.job;
    job.item = i;
    job.input = std::string(kInput) + ": " + FrameName(i);  // names it in a failure to key it
    job.ok = false;
    const auto start = std::chrono::steady_clock::now();
    // An rgb24 frame is read into the end of its place and widened towards
    // its start (each pixel is read before its place is written).
    const bool rgba = s->raw.format == RawFormat::Rgba;
    uint8_t* const read = frame.pixels + (s->frameBytes - s->inputBytes);
    const ssize_t got = ReadFully(STDIN_FILENO, read, s->inputBytes);
    if (got == 0) return false;
    if (got < 0 || size_t(got) < s->inputBytes) {
        s->inputOver = true;
        ReportFailure(job, kInput,
             got < 0 ? "cannot read " + FrameName(i) + ": " + std::strerror(errno)
                     : FrameName(i) + " is short (" + std::to_string(got) + " of " + std::to_string(s->inputBytes) +
                           " bytes)");
        return true;
    }
    if (!rgba) RgbToRgba(read, s->frameBytes / 4, frame.pixels);
    job.image.width = s->raw.width;
    job.image.height = s->raw.height;
    job.image.hadAlpha = rgba;
    job.area = s->batch->options.region.value_or(Region{0, 0, s->raw.width, s->raw.height});
    // The screen is decided on the first frame and kept for the stream; the
    // settings saved are the first frame's.
    if (i == 0) {
        DecideScreen(*s->batch, &job, frame.pixels);
        s->settings = job.settings;
        SaveSettingsOnce(s->batch, s->settings, i);
    }
    job.settings = s->settings;
    job.ok = true;
    s->readSeconds += Seconds(start);
    return true;
}

void KeyFrame(Stream* s, size_t i) {
    Frame& frame = FrameOf(s, i);
    Job& job = frame.job;
    if (!job.ok || i >= s->stopAt.load()) return;
    frame.why.clear();
    if (!s->keyers.empty()) {
        job.ok = s->keyers[i % s->keyers.size()].Key(job, frame.pixels, &frame.runSeconds, &frame.why);
    } else {
        if (job.settings.OutputMethod == kOutputBackground) PrepareBackground(s->batch, job);  // checked before
        job.ok = RunPlugin(*s->batch, job, frame.pixels, false, &frame.runSeconds, &frame.why);
    }
    if (!job.ok) StopAt(s, i + 1);
}

void WriteFrame(Stream* s, size_t i) {
    Frame& frame = FrameOf(s, i);
    Job& job = frame.job;
    s->runSeconds += frame.runSeconds;
    frame.runSeconds = 0;
    if (!job.ok) {
        // Frames keyed side by side may both fail: the first is said.
        if (!frame.why.empty() && i < s->stopAt.load()) ReportFailure(job, job.input, frame.why);
        frame.why.clear();
        s->failed = true;
    } else if (i < s->stopAt.load()) {
        const auto start = std::chrono::steady_clock::now();
        const int error = WriteFully(STDOUT_FILENO, frame.pixels, s->frameBytes);
        s->writeSeconds += Seconds(start);
        if (error == 0) {
            ++s->written;
        } else {
            s->failed = true;
            StopAt(s, i + 1);
            ReportFailure(job, kOutput,
                 error == EPIPE ? "closed by its reader (EPIPE); stopped after " + std::to_string(s->written) +
                                      " frames"
                                : "cannot write " + FrameName(i) + ": " + std::strerror(error));
        }
    }
    Finish(i);
}

// The frames' memory, and with more than one thread a keying process for
// each, no more than the cores: a frame keyed in each while the next is read
// and the last written. One thread or core, or processes that cannot be
// started, key here. False when the memory cannot be had.
bool Prepare(Stream* s, int threads) {
    const int processes = std::min(threads, CoresAvailable());
    const size_t keyers = processes > 1 ? size_t(processes) : 0;
    const size_t slots = std::max(keyers + 1, kPipelineDepth);
    if (!s->memory.Allocate(slots * s->frameBytes)) return false;
    s->frames.resize(slots);
    for (size_t i = 0; i < slots; ++i) s->frames[i].pixels = s->memory.data() + i * s->frameBytes;
    s->keyers = std::vector<KeyingProcess>(keyers);
    for (size_t k = 0; k < keyers; ++k) {
        if (s->keyers[k].Start(s->batch, s->memory, s->keyers.data(), k)) continue;
        s->keyers.clear();
        break;
    }
    return true;
}

// What the stream needs before its first frame: standard output that is not
// a terminal, and for method 5 a background of the filtered area's size.
// -1 to go on, or the exit code.
int CheckStream(Batch* batch) {
    const Options& o = batch->options;
    if (isatty(STDOUT_FILENO))
        return UsageError("--raw writes binary frames: send standard output to a pipe or a file");
    if (batch->base.record.OutputMethod != kOutputBackground) return -1;
    if (o.background.empty()) return UsageError("method 5 (background) needs --background FILE");
    if (!LoadBackground(batch)) {
        SayNow("tavrisk: " + o.background + ": " + batch->backgroundError + "\n");
        return 1;
    }
    const Region area = o.region.value_or(Region{0, 0, o.raw->width, o.raw->height});
    if (std::string why = BackgroundMismatch(*batch, area); !why.empty()) return UsageError(o.background + ": " + why);
    return -1;
}

}  // namespace

int KeyRawStream(Batch* batch, int threads) {
    if (int code = CheckStream(batch); code >= 0) return code;
    // A reader that goes away is reported as such, not a signal's death.
    signal(SIGPIPE, SIG_IGN);
    // A frame through a pipe of the default 64 KiB takes over a hundred
    // wake-ups of each side; larger pipes take far fewer (where allowed).
    for (int fd : {STDIN_FILENO, STDOUT_FILENO}) {
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
    }
    auto stream = std::make_unique<Stream>();
    Stream* s = stream.get();
    s->batch = batch;
    s->raw = *batch->options.raw;
    s->frameBytes = size_t(s->raw.width) * s->raw.height * 4;
    s->inputBytes = s->raw.format == RawFormat::Rgba ? s->frameBytes : s->frameBytes / 4 * 3;
    if (!Prepare(s, threads)) {
        SayNow(std::string("tavrisk: ") + kInput + ": not enough memory for the frames (" + std::strerror(errno) +
               ")\n");
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    PipelineStages stages;
    stages.read = [s](size_t i) { return ReadFrame(s, i); };
    stages.key = [s](size_t i) { KeyFrame(s, i); };
    stages.write = [s](size_t i) { WriteFrame(s, i); };
    if (s->keyers.empty()) RunPipeline(stages, threads);
    else RunSpreadPipeline(stages, int(s->keyers.size()));
    for (KeyingProcess& keyer : s->keyers) keyer.Stop();

    const double seconds = Seconds(start);
    if (batch->options.timings) {
        rusage usage{}, keyers{};
        getrusage(RUSAGE_SELF, &usage);
        getrusage(RUSAGE_CHILDREN, &keyers);
        char line[320], processes[96] = "";
        if (!s->keyers.empty())
            std::snprintf(processes, sizeof processes, ", %zu keying processes of %ld MiB at most", s->keyers.size(),
                          keyers.ru_maxrss / 1024);
        std::snprintf(line, sizeof line,
                      "tavrisk: %s: %zu frames keyed in %.3f s (%.1f fps); read %.3f s, run %.3f s, "
                      "write %.3f s, peak memory %ld MiB%s\n",
                      kInput, s->written, seconds, seconds > 0 ? double(s->written) / seconds : 0.0, s->readSeconds,
                      s->runSeconds, s->writeSeconds, usage.ru_maxrss / 1024, processes);
        SayNow(line);
    }
    SaveSettingsOnce(batch, batch->base.record, kAfterItems);
    return s->failed || batch->settingsFailed ? 1 : 0;
}

}  // namespace tav::cli
