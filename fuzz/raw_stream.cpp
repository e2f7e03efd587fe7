// Raw frame streams through the keyer (KeyRawStream) in-process, as
// `tavrisk key --raw WxH [--raw-format rgb24] - [options]` runs them, with
// standard input a pipe fed in pieces or a file in memory, and standard
// output and error files in memory. The fuzzed input chooses the frame size
// (up to 64 x 64), the format, the threads, the method, the screen, a
// region, some settings in range and, for method 5, a background of the
// filtered area's size or one pixel wider; then how many whole frames the
// stream holds, whether part of one more follows, and the bytes the frames
// are cut from (repeated as far as needed).
//
// - A method 5 stream without a background of the area's size is a usage
//   error (2) that reads nothing and writes nothing. Otherwise the stream
//   exits 0 when it is a whole number of frames (none included), with
//   nothing said, and 1 when its last frame is short, with the one message
//   that names that frame and its bytes.
// - Exactly the complete frames are written, W x H x 4 bytes each.
// - Each written frame is the frame keyed alone through the in-process host
//   as the same pixels given as an image would be (an rgb24 frame opaque),
//   with the screen named by the options or detected on the first frame.
// - Outside the region a frame is written as read; inside, methods 1, 3
//   and 5 keep the transparency, method 4 the colour, the matte methods
//   write grey, method 2 its grey as the transparency.
#include <fuzzer/FuzzedDataProvider.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/command_support.h"
#include "runtime/allocator.h"
#include "engine/screen.h"
#include "interface/host_interface.h"
#include "runtime/parameters.h"
#include "platform/posix/in_process_clipboard.h"
#include "keyer/image_file.h"
#include "keyer/job.h"
#include "keyer/options.h"
#include "keyer/plan.h"
#include "keyer/raw_stream.h"
#include "keyer/settings.h"
#include "hosts/inprocess/inprocess_host.h"

namespace {

using tav::ParameterRecord;
using tav::fuzz::CommandLine;
using tav::fuzz::Contents;
using tav::fuzz::MemoryFile;
using tav::fuzz::Redirect;

constexpr int kMaxSide = 64;

struct Case {
    int width, height;
    bool rgb24;
    int left, top, right, bottom;  // the filtered area
    bool region;
    std::vector<std::string> words;  // the command line after "key"
    bool background, backgroundFits;
    size_t wholeFrames, tail;  // the stream: whole frames and a part of one more
    bool pipe;
    size_t piece;  // the pipe is fed in pieces of this size
    std::vector<uint8_t> bytes;
};

Case ChooseCase(FuzzedDataProvider& in) {
    Case c{};
    c.width = in.ConsumeIntegralInRange(1, kMaxSide);
    c.height = in.ConsumeIntegralInRange(1, kMaxSide);
    c.rgb24 = in.ConsumeBool();
    c.words = {"key", "--raw", std::to_string(c.width) + "x" + std::to_string(c.height), "-"};
    if (c.rgb24 || in.ConsumeBool()) c.words.insert(c.words.end(), {"--raw-format", c.rgb24 ? "rgb24" : "rgba"});
    if (in.ConsumeBool()) c.words.insert(c.words.end(), {"-o", "-"});
    c.words.insert(c.words.end(), {"--jobs", std::to_string(in.ConsumeIntegralInRange(1, 3))});

    static constexpr const char* kMethods[] = {"0", "1", "2", "3", "4", "5", "foreground-transparency",
                                               "matte", "transparency", "background", nullptr};
    if (const char* method = in.PickValueInArray(kMethods)) c.words.insert(c.words.end(), {"--method", method});
    static constexpr const char* kScreens[] = {"auto", "blue", "green", nullptr};
    if (const char* screen = in.PickValueInArray(kScreens)) c.words.insert(c.words.end(), {"--screen", screen});
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        const tav::fuzz::SettingRange& s = in.PickValueInArray(tav::fuzz::kSettingRanges);
        c.words.insert(c.words.end(),
                       {"--set", std::string(s.key) + "=" + std::to_string(in.ConsumeIntegralInRange(s.low, s.high))});
    }

    c.left = c.top = 0;
    c.right = c.width;
    c.bottom = c.height;
    c.region = in.ConsumeBool();
    if (c.region) {
        c.left = in.ConsumeIntegralInRange(0, c.width - 1);
        c.right = in.ConsumeIntegralInRange(c.left + 1, c.width);
        c.top = in.ConsumeIntegralInRange(0, c.height - 1);
        c.bottom = in.ConsumeIntegralInRange(c.top + 1, c.height);
        c.words.insert(c.words.end(), {"--region", std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                                                       std::to_string(c.right - c.left) + "," +
                                                       std::to_string(c.bottom - c.top)});
    }
    c.background = in.ConsumeBool();
    c.backgroundFits = !in.ConsumeBool() || !in.ConsumeBool();

    const size_t inputBytes = size_t(c.width) * c.height * (c.rgb24 ? 3 : 4);  // 3 at least
    c.wholeFrames = in.ConsumeIntegralInRange<size_t>(0, 5);
    c.tail = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(1, inputBytes - 1) : 0;
    c.pipe = in.ConsumeBool();
    c.piece = in.ConsumeIntegralInRange<size_t>(1, 2 * inputBytes);
    c.bytes = in.ConsumeRemainingBytes<uint8_t>();
    return c;
}

// `size` bytes cut from the fuzzed ones, repeated; from `offset` on.
std::string Repeated(const std::vector<uint8_t>& bytes, size_t size, size_t offset = 0) {
    std::string out(size, '\0');
    if (!bytes.empty())
        for (size_t i = 0; i < size; ++i) out[i] = char(bytes[(offset + i) % bytes.size()]);
    return out;
}

// Frame `k` of the stream as the keyer is given it: 8-bit RGBA.
std::vector<uint8_t> FrameRgba(const Case& c, const std::string& stream, size_t k) {
    const size_t pixels = size_t(c.width) * c.height, inputBytes = pixels * (c.rgb24 ? 3 : 4);
    const auto* from = reinterpret_cast<const uint8_t*>(stream.data()) + k * inputBytes;
    std::vector<uint8_t> rgba(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        for (int p = 0; p < 3; ++p) rgba[4 * i + p] = c.rgb24 ? from[3 * i + p] : from[4 * i + p];
        rgba[4 * i + 3] = c.rgb24 ? 255 : from[4 * i + 3];
    }
    return rgba;
}

// The frame keyed alone as an image is: a layer with transparency, the area
// as the selection when there is a region.
std::vector<uint8_t> KeyAlone(const Case& c, std::vector<uint8_t> rgba, const ParameterRecord& settings) {
    tav::inprocess::InProcessHost host(ENTRYPOINT);
    host.SetImage(c.width, c.height, 4, std::move(rgba));
    host.SetFilterRect(c.left, c.top, c.right, c.bottom);
    host.SetFilterCase(c.region ? tav::filterCaseEditableTransparencyWithSelection
                                : tav::filterCaseEditableTransparencyNoSelection);
    FUZZ_CHECK(host.Call(tav::filterSelectorParameters) == tav::noErr);
    ParameterRecord* record = tav::GetParameters(&host.record());
    FUZZ_CHECK(record != nullptr);
    std::memcpy(record, &settings, sizeof settings);
    record->ShowDialog = 0;
    FUZZ_CHECK(host.RunFilter(false) == tav::noErr);
    return host.TakeImage();
}

struct Outcome {
    int status;
    std::string written, errors;
    off_t read;  // how far a file in memory was read; -1 for a pipe
};

// Feeds `bytes` into the pipe's writing end in pieces from a process of its
// own, then ends; it stops when the reader has gone. A process, not a
// thread: the stream forks its keying processes, and a thread of ours that
// is starting or ending meanwhile (the sanitizers' allocator locked) would
// leave them a lock nobody releases.
pid_t Feed(int readEnd, int fd, const std::string& bytes, size_t piece) {
    const pid_t pid = fork();
    FUZZ_CHECK(pid >= 0);
    if (pid > 0) return pid;
    close(readEnd);
    signal(SIGPIPE, SIG_IGN);  // a reader gone is EPIPE here
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, std::min(piece, bytes.size() - done));
        if (n <= 0) break;
        done += size_t(n);
    }
    _exit(0);
}

// The threads of this process now.
size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// The filter's worker thread ends on its own after the run it served (the
// frames keyed alone here), and the stream forks its keying processes: a
// thread still ending then (the sanitizers' allocator locked) would leave
// them a lock nobody releases. Waits until only the threads there were at
// the first case remain.
void WaitForEndingThreads() {
    static const size_t kBaseline = ThreadCount();
    while (ThreadCount() > kBaseline) sched_yield();
}

// The stream through the keyer as `tavrisk` runs it: options, settings,
// plan, then the stream on the threads asked for.
Outcome RunStream(const Case& c, const std::string& stream, tav::cli::Options* options,
                  tav::cli::BaseSettings* base) {
    WaitForEndingThreads();
    CommandLine line(c.words);
    int input = -1, feedEnd = -1;
    if (c.pipe) {
        int ends[2];
        FUZZ_CHECK(pipe2(ends, O_CLOEXEC) == 0);
        input = ends[0];
        feedEnd = ends[1];
    } else {
        input = MemoryFile(stream);
    }
    const int output = MemoryFile(), errors = MemoryFile();
    pid_t feeder = -1;
    if (c.pipe) {
        feeder = Feed(input, feedEnd, stream, c.piece);
        close(feedEnd);
    }

    Outcome outcome{};
    {
        const tav::fuzz::SignalDisposition pipeSignal(SIGPIPE);
        Redirect in(STDIN_FILENO, input), out(STDOUT_FILENO, output), err(STDERR_FILENO, errors);
        outcome.status = [&] {
            if (int code = tav::cli::ParseArguments(line.argc(), line.argv(), options); code >= 0) return code;
            tav::cli::Batch batch(*options);
            if (!tav::cli::LoadBaseSettings(*options, &batch.base)) return 2;
            *base = batch.base;
            if (int code = tav::cli::PlanOutputs(*options).code; code >= 0) return code;
            return tav::cli::KeyRawStream(&batch, options->jobs);
        }();
    }
    outcome.read = c.pipe ? -1 : lseek(input, 0, SEEK_CUR);
    // Standard input is back: the pipe has no reader left, and the feeder ends.
    close(input);
    if (feeder > 0) FUZZ_CHECK(waitpid(feeder, nullptr, 0) == feeder);
    outcome.written = Contents(output);
    outcome.errors = Contents(errors);
    close(output);
    close(errors);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The runs read the user's store (the debug switch); hosts free the
    // handles they were given.
    tav::fuzz::UsePrivateSettingsStores();
    tav::fuzz::PrepareStandardStreams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Case c = ChooseCase(in);
    const size_t pixels = size_t(c.width) * c.height, inputBytes = pixels * (c.rgb24 ? 3 : 4);
    const std::string stream = Repeated(c.bytes, c.wholeFrames * inputBytes + c.tail);

    const std::string backgroundPath = tav::fuzz::PrivateFolder() + "/background.png";
    if (c.background) {
        tav::cli::Image picture;
        picture.width = c.right - c.left + (c.backgroundFits ? 0 : 1);
        picture.height = c.bottom - c.top;
        const std::string bytes = Repeated(c.bytes, size_t(picture.width) * picture.height * 4, 7);
        picture.rgba.assign(bytes.begin(), bytes.end());
        std::string error;
        FUZZ_CHECK(tav::cli::WritePng(backgroundPath, picture, &error));
        c.words.insert(c.words.end(), {"--background", backgroundPath});
    }

    tav::cli::Options options;
    tav::cli::BaseSettings base{};
    const Outcome run = RunStream(c, stream, &options, &base);
    const ParameterRecord& settings = base.record;
    const bool backgroundMissing =
        settings.OutputMethod == tav::kOutputBackground && !(c.background && c.backgroundFits);
    if (backgroundMissing) {
        tav::platform::ClearClipboard();
        FUZZ_CHECK(run.status == 2);
        FUZZ_CHECK(run.errors.rfind("tavrisk: ", 0) == 0);
        FUZZ_CHECK(run.written.empty());
        FUZZ_CHECK(run.read <= 0);
        return 0;
    }

    const size_t complete = stream.size() / inputBytes, frameBytes = pixels * 4;
    if (c.tail == 0) {
        FUZZ_CHECK(run.status == 0);
        FUZZ_CHECK(run.errors.empty());
    } else {
        FUZZ_CHECK(run.status == 1);
        FUZZ_CHECK(run.errors == "tavrisk: standard input: frame " + std::to_string(complete + 1) + " is short (" +
                                     std::to_string(c.tail) + " of " + std::to_string(inputBytes) + " bytes)\n");
    }
    FUZZ_CHECK(run.written.size() == complete * frameBytes);
    FUZZ_CHECK(run.read == -1 || size_t(run.read) == stream.size());

    // Method 5 keys over the background on the clipboard: put there by the
    // stream when it keyed in this process, and by its keying processes in
    // theirs; here for the frames keyed alone.
    if (settings.OutputMethod == tav::kOutputBackground) {
        tav::cli::Batch batch(options);
        tav::cli::Job job;
        job.area = tav::cli::Region{c.left, c.top, c.right - c.left, c.bottom - c.top};
        FUZZ_CHECK(tav::cli::PrepareBackground(&batch, job));
    }
    // The screen the options name, or the one the first frame shows.
    ParameterRecord expected = settings;
    const bool screenNamed = base.screenDecided;
    const int method = settings.OutputMethod;
    for (size_t k = 0; k < complete; ++k) {
        const std::vector<uint8_t> was = FrameRgba(c, stream, k);
        if (k == 0 && !screenNamed)
            expected.ScreenColor = uint8_t(tav::ScreenColorOf(&was[(size_t(c.top) * c.width + c.left) * 4],
                                                              c.right - c.left, c.bottom - c.top,
                                                              size_t(c.width) * 4, 4));
        const auto* now = reinterpret_cast<const uint8_t*>(run.written.data()) + k * frameBytes;
        FUZZ_CHECK(std::memcmp(now, KeyAlone(c, was, expected).data(), frameBytes) == 0);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const size_t at = (size_t(y) * c.width + x) * 4;
                const uint8_t* a = &was[at];
                const uint8_t* b = now + at;
                if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) {
                    FUZZ_CHECK(std::memcmp(a, b, 4) == 0);
                    continue;
                }
                if (method == 1 || method == 3 || method == 5) FUZZ_CHECK(b[3] == a[3]);
                if (method == 4) FUZZ_CHECK(std::memcmp(a, b, 3) == 0);
                if (method == 2 || method == 3) FUZZ_CHECK(b[0] == b[1] && b[1] == b[2]);
                if (method == 2) FUZZ_CHECK(b[3] == b[0]);
            }
        }
    }
    tav::platform::ClearClipboard();
    return 0;
}
