// An in-process host of the filter interface: what the command-line keyer,
// the Windows host program and the tests run the plug-in in. It holds an
// interleaved 8-bit RGB image with 3 or 4 planes, serves the plug-in's
// requests through advanceState, and writes outData back. On request
// (`recording`) it also keeps a record of everything the plug-in asked of it.
//
// Requests, by inputRate:
// - 1.0 (65536, full resolution): inData holds the image's pixels of inRect,
//   padded as inputPadding says where inRect leaves the image (-1 replicates
//   the nearest edge pixel, -2 leaves zeros, -3 fails the request, 0..255
//   fills with that value); outData likewise for outRect, and it goes back
//   into the image before the next request and after the call.
// - An integral N > 1 (N * 65536; the preview's 1 : N): inRect is in the
//   coordinates of the image reduced N : 1, whose pixel (x, y) is the average
//   of the image's N x N block at (x * N, y * N), each plane apart, with
//   halves rounded up; a block cut by the image's right or bottom edge
//   averages the pixels that exist. Reduced pixels outside the reduced image
//   are padded as above, -1 replicating the nearest reduced pixel. outData is
//   a zeroed buffer of outRect's size (a picture for the screen, never
//   written back).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interface/host_interface.h"
#include "interface/parameter_record.h"

namespace tav::inprocess {

using EntryPoint = void (*)(int16_t selector, FilterRecord* record, intptr_t* data,
                            int16_t* result);

// Hosts that lack a callback, or skip the finish selector.
struct HostQuirks {
    bool noAdvanceState = false;
    bool noDisplayPixels = false;
    bool skipFinish = false;  // RunFilter never sends the finish selector
};

// One displayPixels call: what the plug-in asked to draw, as RGB bytes.
struct DisplayCapture {
    VRect bounds;
    VRect srcRect;
    int32_t dstRow;
    int32_t dstCol;
    int32_t imageMode;
    int width;
    int height;
    std::vector<uint8_t> rgb;  // width x height x 3, rows top to bottom
    bool masked;               // a mask came with the pixel map
};

// One advanceState call: the request as the plug-in set it.
struct AdvanceRequest {
    Rect inRect;
    Rect outRect;
    int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
    Fixed inputRate;
    int16_t inputPadding;
    int16_t result;
};

struct ProgressCall {
    int32_t done;
    int32_t total;
};

// Frees one of the system's handles that the plug-in makes for the host to
// keep (the state block in the data word, the parameter record): a master
// record whose first word is the data block's address, both locked blocks
// of the platform's movable memory. Null is ignored.
void DisposeSystemHandle(Handle handle);

class InProcessHost {
public:
    explicit InProcessHost(EntryPoint entry);
    ~InProcessHost();
    InProcessHost(const InProcessHost&) = delete;
    InProcessHost& operator=(const InProcessHost&) = delete;

    // The image: width x height pixels of `planes` interleaved bytes (3: RGB,
    // 4: RGB and transparency). The filter rectangle becomes the whole image.
    void SetImage(int width, int height, int planes, std::vector<uint8_t> pixels);
    // The same over the caller's pixels, which the host reads and writes in
    // place (they must stay while it is in use); image() is then empty.
    void SetImageView(int width, int height, int planes, uint8_t* pixels);
    // A selection; must lie within the image.
    void SetFilterRect(int left, int top, int right, int bottom);
    void SetFilterCase(int16_t filterCase) { record().filterCase = filterCase; }

    const std::vector<uint8_t>& image() const { return image_; }
    // Hands the image over when the host is done with it (it is left empty).
    std::vector<uint8_t> TakeImage() {
        pixels_ = nullptr;
        return std::move(image_);
    }
    int width() const { return width_; }
    int height() const { return height_; }
    int planes() const { return planes_; }

    FilterRecord& record() { return *record_; }
    intptr_t& dataWord() { return data_; }

    HostQuirks quirks;
    // Shows what displayPixels is given: called with the picture and the
    // platform context (the paint's device context) the plug-in passed.
    void (*displayDrawer)(const DisplayCapture& picture, void* platformContext, void* context) = nullptr;
    void* displayContext = nullptr;

    // Told of every progressProc call, on the thread that made it (the
    // plug-in's worker thread, mostly).
    void (*progressListener)(int32_t done, int32_t total, void* context) = nullptr;
    void* progressContext = nullptr;

    // Full-resolution requests of every plane over a rectangle inside the
    // image are served in place: inData and outData address the image's own
    // bytes (rows the image's width apart), so nothing is copied in or back.
    // Both name the same bytes when the rectangles are the same: for a
    // plug-in that reads each pixel of inData before it writes that pixel of
    // outData, as this filter does. Off: every request gets buffers of its own.
    bool inPlace = false;

    // abortProc answers true from its `abortAtCall`-th call on (0-based);
    // -1: never.
    int abortAtCall = -1;
    // advanceState answers this code from its `failAtCall`-th call on.
    int failAtCall = -1;
    int16_t failResult = -1;

    // The settings in the parameters handle, in the parameter record's
    // layout; null until the plug-in has made the handle (the parameters
    // selector does). A host that replays settings it recorded writes them
    // here before the start selector, as a repeated filter runs with them.
    ParameterRecord* parameters();

    // Faults in, on the calling thread, the working memory that a run over a
    // `width` x `height` area asks for first (the filter's two images of
    // three bytes a pixel), and leaves it with the platform's kept views
    // (platform::PrepareKeptViews), where the run's requests find it. For a
    // program that runs the plug-in linked into its own process and has a
    // spare moment before a run (the keyer, while it decodes the image);
    // never while a run is under way. A plug-in loaded as a library of its
    // own keeps views of its own, which this cannot reach.
    static void PrepareWorkingMemory(int width, int height);

    // Makes this host the one the callbacks reach, for code that calls the
    // plug-in's internals directly rather than through a selector. Returns
    // the host that was active before; pass it to Deactivate.
    InProcessHost* Activate();
    static void Deactivate(InProcessHost* previous);

    // Sends one selector; for start and continue, writes the last output
    // back into the image afterwards, as hosts do. Returns the result word.
    int16_t Call(int16_t selector);
    // The about selector with an AboutRecord.
    int16_t CallAbout();
    // A whole run: parameters (when asked), prepare, start, continue until
    // the plug-in asks for nothing more, finish (unless skipped; a start that
    // failed: hosts send finish after a failed start too).
    int16_t RunFilter(bool withParameters);

    // What the plug-in did, kept only while `recording` is set.
    bool recording = false;
    std::vector<int16_t> selectors;
    std::vector<AdvanceRequest> advanceRequests;
    std::vector<DisplayCapture> displays;
    int abortCalls() const { return abortCalls_.load(); }
    std::vector<ProgressCall> progressCalls() const;
    void ClearRecords();

    // Called by the callbacks.
    Boolean OnAbort();
    void OnProgress(int32_t done, int32_t total);
    OSErr OnAdvanceState();
    OSErr OnDisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                          int32_t dstCol, void* platformContext);

private:
    void InstallCallbacks();
    void FlushOutput();
    bool FillBuffer(std::vector<uint8_t>& buffer, const Rect& rect, int lo, int hi, int rate,
                    int16_t padding, int32_t* rowBytes);
    // The image's bytes of `rect`, when inPlace serves the request there.
    uint8_t* InPlace(const Rect& rect, int lo, int hi, int rate, int32_t* rowBytes);
    bool FillReduced(std::vector<uint8_t>& buffer, const Rect& rect, int lo, int n, int rate, int16_t padding,
                     int32_t rowBytes);

    EntryPoint entry_;
    std::vector<uint8_t> image_;
    uint8_t* pixels_ = nullptr;  // image_'s bytes, or the caller's
    int width_ = 0, height_ = 0, planes_ = 3;
    std::unique_ptr<uint8_t[]> recordBlock_;
    FilterRecord* record_;
    PlatformData platformData_{};
    intptr_t data_ = 0;

    std::vector<uint8_t> inBuffer_, outBuffer_;
    bool outPending_ = false;
    Rect pendingRect_{};
    int pendingLo_ = 0, pendingHi_ = -1;
    int32_t pendingRowBytes_ = 0;

    std::atomic<int> abortCalls_{0};
    int advanceCalls_ = 0;
    mutable std::atomic_flag progressLock_ = ATOMIC_FLAG_INIT;
    std::vector<ProgressCall> progress_;
};

}  // namespace tav::inprocess
