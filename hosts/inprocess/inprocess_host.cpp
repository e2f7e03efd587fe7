#include "hosts/inprocess/inprocess_host.h"

#include <algorithm>
#include <cstring>

#include "platform/file_mapping.h"
#include "platform/memory.h"

namespace tav::inprocess {
namespace {

// The callbacks carry no context: the host of the call under way.
std::atomic<InProcessHost*> g_active{nullptr};

constexpr size_t kRecordBlockSize = 2048;  // more than any host version passes

extern "C" Boolean HostAbort() {
    InProcessHost* host = g_active.load();
    return host ? host->OnAbort() : 0;
}

extern "C" void HostProgress(int32_t done, int32_t total) {
    if (InProcessHost* host = g_active.load()) host->OnProgress(done, total);
}

extern "C" OSErr HostAdvanceState() {
    InProcessHost* host = g_active.load();
    return host ? host->OnAdvanceState() : OSErr(-1);
}

extern "C" OSErr HostDisplayPixels(const PSPixelMap* source, const VRect* srcRect,
                                   int32_t dstRow, int32_t dstCol, void* platformContext) {
    InProcessHost* host = g_active.load();
    return host ? host->OnDisplayPixels(source, srcRect, dstRow, dstCol, platformContext) : OSErr(-1);
}

bool IsEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

class ActiveScope {
public:
    explicit ActiveScope(InProcessHost* host) : previous_(g_active.exchange(host)) {}
    ~ActiveScope() { g_active.store(previous_); }

private:
    InProcessHost* previous_;
};

void FreeLockedBlock(void* address) {
    platform::MemoryHandle block = platform::MovableFromPointer(address);
    platform::UnlockMovable(block);
    platform::FreeMovable(block);
}

}  // namespace

InProcessHost::InProcessHost(EntryPoint entry)
    : entry_(entry), recordBlock_(new uint8_t[kRecordBlockSize]()),
      record_(reinterpret_cast<FilterRecord*>(recordBlock_.get())) {
    record_->serialNumber = 0;
    record_->imageMode = plugInModeRGBColor;
    record_->hostSig = FourCC("TAVH");
    record_->maxSpace = 64 * 1024 * 1024;
    record_->platformData = &platformData_;
    record_->inputRate = kFixedOne;
    record_->maskRate = kFixedOne;
    record_->supportsPadding = 1;
    record_->imageHRes = 72 << 16;
    record_->imageVRes = 72 << 16;
    record_->filterCase = filterCaseFlatImageNoSelection;
    InstallCallbacks();
}

void DisposeSystemHandle(Handle handle) {
    if (handle == nullptr) return;
    FreeLockedBlock(*handle);
    FreeLockedBlock(handle);
}

// The handles the plug-in made for this host go with it: each input of the
// keyer, each test, gets a host of its own.
InProcessHost::~InProcessHost() {
    if (g_active.load() == this) g_active.store(nullptr);
    DisposeSystemHandle(record_->parameters);
    DisposeSystemHandle(reinterpret_cast<Handle>(data_));
}

ParameterRecord* InProcessHost::parameters() {
    return record_->parameters == nullptr ? nullptr : reinterpret_cast<ParameterRecord*>(*record_->parameters);
}

void InProcessHost::PrepareWorkingMemory(int width, int height) {
    if (width > 0 && height > 0) platform::PrepareKeptViews(uint64_t(width) * uint64_t(height) * 3, 2);
}

void InProcessHost::InstallCallbacks() {
    record_->abortProc = HostAbort;
    record_->progressProc = HostProgress;
    record_->advanceState = quirks.noAdvanceState ? nullptr : HostAdvanceState;
    record_->displayPixels = quirks.noDisplayPixels ? nullptr : HostDisplayPixels;
}

void InProcessHost::SetImage(int width, int height, int planes, std::vector<uint8_t> pixels) {
    image_ = std::move(pixels);
    image_.resize(size_t(width) * height * planes);
    SetImageView(width, height, planes, image_.data());
}

void InProcessHost::SetImageView(int width, int height, int planes, uint8_t* pixels) {
    if (pixels != image_.data()) image_ = {};
    pixels_ = pixels;
    width_ = width;
    height_ = height;
    planes_ = planes;
    record_->imageSize = Point{int16_t(height), int16_t(width)};
    record_->wholeSize = record_->imageSize;
    record_->planes = int16_t(planes);
    SetFilterRect(0, 0, width, height);
}

void InProcessHost::SetFilterRect(int left, int top, int right, int bottom) {
    record_->filterRect = Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

void InProcessHost::ClearRecords() {
    selectors.clear();
    advanceRequests.clear();
    displays.clear();
    abortCalls_ = 0;
    advanceCalls_ = 0;
    while (progressLock_.test_and_set(std::memory_order_acquire)) {}
    progress_.clear();
    progressLock_.clear(std::memory_order_release);
}

std::vector<ProgressCall> InProcessHost::progressCalls() const {
    while (progressLock_.test_and_set(std::memory_order_acquire)) {}
    std::vector<ProgressCall> copy = progress_;
    progressLock_.clear(std::memory_order_release);
    return copy;
}

InProcessHost* InProcessHost::Activate() {
    InstallCallbacks();
    return g_active.exchange(this);
}

void InProcessHost::Deactivate(InProcessHost* previous) { g_active.store(previous); }

int16_t InProcessHost::Call(int16_t selector) {
    InstallCallbacks();
    ActiveScope scope(this);
    if (recording) selectors.push_back(selector);
    int16_t result = 0;
    entry_(selector, record_, &data_, &result);
    if (selector == filterSelectorStart || selector == filterSelectorContinue) FlushOutput();
    return result;
}

int16_t InProcessHost::CallAbout() {
    ActiveScope scope(this);
    AboutRecord about{};
    about.platformData = &platformData_;
    if (recording) selectors.push_back(filterSelectorAbout);
    int16_t result = 0;
    entry_(filterSelectorAbout, reinterpret_cast<FilterRecord*>(&about), &data_, &result);
    return result;
}

int16_t InProcessHost::RunFilter(bool withParameters) {
    int16_t result = 0;
    if (withParameters) result = Call(filterSelectorParameters);
    if (result == 0) result = Call(filterSelectorPrepare);
    if (result == 0) {
        result = Call(filterSelectorStart);
        // Hosts keep asking while the plug-in leaves a rectangle to fill.
        for (int guard = 0; result == 0 && guard < 1000000; ++guard) {
            if (IsEmpty(record_->inRect) && IsEmpty(record_->outRect)) break;
            result = Call(filterSelectorContinue);
        }
    }
    if (!quirks.skipFinish) {
        int16_t finish = Call(filterSelectorFinish);
        if (result == 0) result = finish;
    }
    return result;
}

Boolean InProcessHost::OnAbort() {
    int call = abortCalls_.fetch_add(1);
    return abortAtCall >= 0 && call >= abortAtCall;
}

void InProcessHost::OnProgress(int32_t done, int32_t total) {
    if (progressListener != nullptr) progressListener(done, total, progressContext);
    if (!recording) return;
    while (progressLock_.test_and_set(std::memory_order_acquire)) {}
    progress_.push_back({done, total});
    progressLock_.clear(std::memory_order_release);
}

bool InProcessHost::FillBuffer(std::vector<uint8_t>& buffer, const Rect& rect, int lo, int hi,
                          int rate, int16_t padding, int32_t* rowBytes) {
    int w = std::max(0, rect.right - rect.left);
    int h = std::max(0, rect.bottom - rect.top);
    int n = std::max(0, hi - lo + 1);
    *rowBytes = w * n;
    buffer.resize(size_t(*rowBytes) * h);
    const bool inside = rect.left >= 0 && rect.top >= 0 && int64_t(rect.right) * rate <= width_ &&
                        int64_t(rect.bottom) * rate <= height_;
    if (inside && rate == 1 && lo >= 0 && hi < planes_) {
        // The common request: whole rows of existing planes, copied directly.
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = &pixels_[(size_t(rect.top + y) * width_ + rect.left) * planes_];
            uint8_t* dst = &buffer[size_t(y) * *rowBytes];
            if (n == planes_) {
                std::memcpy(dst, src, size_t(w) * n);
            } else {
                for (int x = 0; x < w; ++x)
                    for (int p = 0; p < n; ++p) dst[size_t(x) * n + p] = src[size_t(x) * planes_ + lo + p];
            }
        }
        return true;
    }
    std::fill(buffer.begin(), buffer.end(), uint8_t(0));
    if (rate > 1) return FillReduced(buffer, rect, lo, n, rate, padding, *rowBytes);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int sx = rect.left + x;
            int sy = rect.top + y;
            bool outside = sx < 0 || sy < 0 || sx >= width_ || sy >= height_;
            uint8_t* dst = &buffer[size_t(y) * *rowBytes + size_t(x) * n];
            if (outside) {
                if (padding == plugInPadError) return false;
                if (padding == plugInPadReplicate) {
                    sx = std::clamp(sx, 0, width_ - 1);
                    sy = std::clamp(sy, 0, height_ - 1);
                } else {
                    if (padding >= 0) std::memset(dst, padding & 0xFF, size_t(n));
                    continue;
                }
            }
            const uint8_t* src = &pixels_[(size_t(sy) * width_ + sx) * planes_];
            for (int p = 0; p < n; ++p) dst[p] = (lo + p < planes_) ? src[lo + p] : 0;
        }
    }
    return true;
}

bool InProcessHost::FillReduced(std::vector<uint8_t>& buffer, const Rect& rect, int lo, int n, int rate,
                                int16_t padding, int32_t rowBytes) {
    // Reduced pixel (rx, ry) is the average of the image's block
    // [rx * rate, rx * rate + rate) x [ry * rate, ry * rate + rate), cut at the
    // image's edges; one wholly outside the image is padded. The image's rows
    // are read once, in order, for each reduced row.
    const int reducedWidth = (width_ + rate - 1) / rate, reducedHeight = (height_ + rate - 1) / rate;
    const int w = std::max(0, rect.right - rect.left), h = std::max(0, rect.bottom - rect.top);
    const bool outside = rect.left < 0 || rect.top < 0 || rect.right > reducedWidth || rect.bottom > reducedHeight;
    if (outside && padding == plugInPadError) return false;
    std::vector<uint64_t> sums(size_t(reducedWidth) * planes_);
    for (int y = 0; y < h; ++y) {
        int ry = rect.top + y;
        const bool rowOutside = ry < 0 || ry >= reducedHeight;
        if (rowOutside && padding != plugInPadReplicate) {
            if (padding >= 0) std::memset(&buffer[size_t(y) * rowBytes], padding & 0xFF, size_t(w) * n);
            continue;
        }
        ry = std::clamp(ry, 0, reducedHeight - 1);
        const int y0 = ry * rate, y1 = std::min(y0 + rate, height_);
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = y0; sy < y1; ++sy) {
            const uint8_t* row = &pixels_[size_t(sy) * width_ * planes_];
            for (int sx = 0; sx < width_; ++sx)
                for (int p = 0; p < planes_; ++p) sums[size_t(sx / rate) * planes_ + p] += row[size_t(sx) * planes_ + p];
        }
        for (int x = 0; x < w; ++x) {
            int rx = rect.left + x;
            uint8_t* dst = &buffer[size_t(y) * rowBytes + size_t(x) * n];
            if (rx < 0 || rx >= reducedWidth) {
                if (padding != plugInPadReplicate) {
                    if (padding >= 0) std::memset(dst, padding & 0xFF, size_t(n));
                    continue;
                }
                rx = std::clamp(rx, 0, reducedWidth - 1);
            }
            const int x0 = rx * rate, x1 = std::min(x0 + rate, width_);
            const uint64_t count = uint64_t(x1 - x0) * uint64_t(y1 - y0);
            for (int p = 0; p < n; ++p)
                if (lo + p < planes_)
                    dst[p] = uint8_t((2 * sums[size_t(rx) * planes_ + lo + p] + count) / (2 * count));  // halves up
        }
    }
    return true;
}

uint8_t* InProcessHost::InPlace(const Rect& rect, int lo, int hi, int rate, int32_t* rowBytes) {
    if (!inPlace || rate != 1 || lo != 0 || hi != planes_ - 1 || rect.left < 0 || rect.top < 0 ||
        rect.right > width_ || rect.bottom > height_)
        return nullptr;
    *rowBytes = width_ * planes_;
    return &pixels_[(size_t(rect.top) * width_ + rect.left) * planes_];
}

void InProcessHost::FlushOutput() {
    if (!outPending_) return;
    outPending_ = false;
    const Rect& r = pendingRect_;
    int n = pendingHi_ - pendingLo_ + 1;
    if (pendingLo_ == 0 && n == planes_ && r.left >= 0 && r.top >= 0 && r.right <= width_ &&
        r.bottom <= height_) {
        for (int y = r.top; y < r.bottom; ++y)
            std::memcpy(&pixels_[(size_t(y) * width_ + r.left) * planes_],
                        &outBuffer_[size_t(y - r.top) * pendingRowBytes_], size_t(r.right - r.left) * n);
        return;
    }
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
            const uint8_t* src =
                &outBuffer_[size_t(y - r.top) * pendingRowBytes_ + size_t(x - r.left) * n];
            uint8_t* dst = &pixels_[(size_t(y) * width_ + x) * planes_];
            for (int p = 0; p < n; ++p)
                if (pendingLo_ + p < planes_) dst[pendingLo_ + p] = src[p];
        }
    }
}

OSErr InProcessHost::OnAdvanceState() {
    FlushOutput();
    FilterRecord& rec = *record_;
    int call = advanceCalls_++;
    AdvanceRequest request{rec.inRect,     rec.outRect,   rec.inLoPlane,  rec.inHiPlane,
                           rec.outLoPlane, rec.outHiPlane, rec.inputRate, rec.inputPadding,
                           0};
    OSErr result = 0;
    if (failAtCall >= 0 && call >= failAtCall) result = failResult;

    // The reduction is integral: 1:N for an input rate of N.
    int rate = rec.inputRate >= kFixedOne ? rec.inputRate / kFixedOne : 1;
    int32_t rowBytes = 0;
    if (result == 0) {
        if (IsEmpty(rec.inRect)) {
            rec.inData = nullptr;
            rec.inRowBytes = 0;
        } else if (uint8_t* bytes = InPlace(rec.inRect, rec.inLoPlane, rec.inHiPlane, rate, &rowBytes)) {
            rec.inData = bytes;
            rec.inRowBytes = rowBytes;
        } else if (!FillBuffer(inBuffer_, rec.inRect, rec.inLoPlane, rec.inHiPlane, rate,
                               rec.inputPadding, &rowBytes)) {
            result = -30100;
        } else {
            rec.inData = inBuffer_.data();
            rec.inRowBytes = rowBytes;
        }
    }
    if (result == 0) {
        if (IsEmpty(rec.outRect)) {
            rec.outData = nullptr;
            rec.outRowBytes = 0;
        } else if (uint8_t* bytes = InPlace(rec.outRect, rec.outLoPlane, rec.outHiPlane, rate, &rowBytes)) {
            rec.outData = bytes;
            rec.outRowBytes = rowBytes;
            outPending_ = false;
        } else if (rate > 1) {
            // A reduced request's output is a picture for the screen, not a
            // part of the image: a zeroed buffer of outRect's size.
            const int w = std::max(0, rec.outRect.right - rec.outRect.left);
            const int h = std::max(0, rec.outRect.bottom - rec.outRect.top);
            const int n = std::max(0, rec.outHiPlane - rec.outLoPlane + 1);
            outBuffer_.assign(size_t(w) * h * n, 0);
            rec.outData = outBuffer_.data();
            rec.outRowBytes = w * n;
            outPending_ = false;
        } else if (!FillBuffer(outBuffer_, rec.outRect, rec.outLoPlane, rec.outHiPlane, 1,
                               rec.outputPadding, &rowBytes)) {
            result = -30100;
        } else {
            rec.outData = outBuffer_.data();
            rec.outRowBytes = rowBytes;
            // Only full-resolution output goes back into the image; reduced
            // buffers serve previews.
            outPending_ = rate == 1;
            pendingRect_ = rec.outRect;
            pendingLo_ = rec.outLoPlane;
            pendingHi_ = rec.outHiPlane;
            pendingRowBytes_ = rowBytes;
        }
    }
    request.result = result;
    if (recording) advanceRequests.push_back(request);
    return result;
}

OSErr InProcessHost::OnDisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                     int32_t dstCol, void* platformContext) {
    if (!recording && displayDrawer == nullptr) return 0;
    DisplayCapture capture{};
    capture.masked = source->masks != nullptr;
    capture.bounds = source->bounds;
    capture.srcRect = *srcRect;
    capture.dstRow = dstRow;
    capture.dstCol = dstCol;
    capture.imageMode = source->imageMode;
    capture.width = std::max(0, srcRect->right - srcRect->left);
    capture.height = std::max(0, srcRect->bottom - srcRect->top);
    capture.rgb.resize(size_t(capture.width) * capture.height * 3);
    const auto* base = static_cast<const uint8_t*>(source->baseAddr);
    for (int y = 0; y < capture.height; ++y) {
        for (int x = 0; x < capture.width; ++x) {
            // baseAddr addresses the bounds' top-left pixel.
            int row = srcRect->top + y - source->bounds.top;
            int col = srcRect->left + x - source->bounds.left;
            const uint8_t* pixel = base + ptrdiff_t(row) * source->rowBytes +
                                   ptrdiff_t(col) * source->colBytes;
            for (int k = 0; k < 3; ++k)
                capture.rgb[(size_t(y) * capture.width + x) * 3 + k] =
                    pixel[ptrdiff_t(k) * source->planeBytes];
        }
    }
    if (displayDrawer != nullptr) displayDrawer(capture, platformContext, displayContext);
    if (recording) displays.push_back(std::move(capture));
    return 0;
}

}  // namespace tav::inprocess
