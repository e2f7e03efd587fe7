// A whole filter run through ENTRYPOINT in the in-process test host, as the
// keyer repeats the last filter: the parameters selector, the settings put
// into the record with the dialog off, then prepare, start, continue and
// finish. The fuzzed input chooses a small image (up to a little more than
// one 64-pixel tile each way), 3 or 4 planes, a selection inside it, the
// layer's case, any settings a settings file can store (8-bit fields over
// their whole range, the others within theirs), and maybe a clipboard
// picture: well formed, or with a damaged header or size.
//
// Every run succeeds, leaves the image outside the selection alone and
// writes what the table of output methods says. The foreground and the
// matte are taken from two more runs of the same settings with methods 1
// (the foreground) and 3 (the matte as grey), so the methods must agree with
// one another:
//   0 the foreground, the matte as transparency   3 the matte as grey
//   1 the foreground                             4 the matte as transparency
//   2 the matte as grey and transparency         5 over the picture, else nothing
//   6 and above: nothing
// A protected transparency keeps fully opaque pixels opaque.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/allocator.h"
#include "interface/host_interface.h"
#include "runtime/parameters.h"
#include "runtime/clipboard_picture.h"
#include "platform/clipboard.h"
#include "platform/posix/in_process_clipboard.h"
#include "hosts/inprocess/inprocess_host.h"

namespace {

using tav::ParameterRecord;

constexpr int kMaxSide = 72;

struct Case {
    int width, height, planes;
    int left, top, right, bottom;
    int16_t filterCase;
    ParameterRecord settings;
    std::vector<uint8_t> picture;  // empty: none on the clipboard
    std::vector<uint8_t> pixels;
};

void PutLE32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// A packed bitmap for an area of `width` x `height`: mostly well formed,
// sometimes off in one way a reader must catch.
std::vector<uint8_t> ChoosePicture(FuzzedDataProvider& in, int width, int height) {
    static constexpr uint16_t kBitCounts[] = {24, 32, 24, 32, 16};
    const uint16_t bitCount = in.PickValueInArray(kBitCounts);
    const bool topDown = in.ConsumeBool();
    const uint32_t headerSize = 40 + in.ConsumeIntegralInRange(0, 12);
    const int damage = in.ConsumeIntegralInRange(0, 7);  // 0..3 damage one thing
    const int sizeChange = in.ConsumeIntegralInRange(-8, 8);
    uint32_t seed = in.ConsumeIntegral<uint32_t>();

    const int pictureWidth = width + (damage == 0);
    const int pictureHeight = height + (damage == 1);
    const int64_t rowBytes = (int64_t(pictureWidth) * bitCount + 31) / 32 * 4;
    int64_t size = headerSize + rowBytes * pictureHeight + (damage == 2 ? sizeChange : std::max(sizeChange, 0));
    std::vector<uint8_t> dib(size_t(std::max<int64_t>(size, 40)));
    for (uint8_t& b : dib) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    std::memset(dib.data(), 0, 40);
    PutLE32(dib, 0, headerSize);
    PutLE32(dib, 4, uint32_t(pictureWidth));
    PutLE32(dib, 8, uint32_t(topDown ? -pictureHeight : pictureHeight));
    dib[12] = 1;
    dib[14] = uint8_t(bitCount);
    PutLE32(dib, 16, damage == 3 ? 1 : 0);
    return dib;
}

Case ChooseCase(FuzzedDataProvider& in) {
    Case c{};
    c.width = in.ConsumeIntegralInRange(1, kMaxSide);
    c.height = in.ConsumeIntegralInRange(1, kMaxSide);
    c.planes = in.ConsumeBool() ? 4 : 3;
    c.left = in.ConsumeIntegralInRange(0, c.width - 1);
    c.right = in.ConsumeIntegralInRange(c.left + 1, c.width);
    c.top = in.ConsumeIntegralInRange(0, c.height - 1);
    c.bottom = in.ConsumeIntegralInRange(c.top + 1, c.height);
    const bool whole = c.left == 0 && c.top == 0 && c.right == c.width && c.bottom == c.height;
    if (c.planes == 3) {
        c.filterCase = whole ? tav::filterCaseFlatImageNoSelection : tav::filterCaseFlatImageWithSelection;
    } else {
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: c.filterCase = tav::filterCaseFloatingSelection; break;
        case 1:
            c.filterCase = whole ? tav::filterCaseEditableTransparencyNoSelection
                                 : tav::filterCaseEditableTransparencyWithSelection;
            break;
        default:
            c.filterCase = whole ? tav::filterCaseProtectedTransparencyNoSelection
                                 : tav::filterCaseProtectedTransparencyWithSelection;
            break;
        }
    }

    ParameterRecord& s = c.settings;
    std::memset(&s, 0, sizeof s);
    tav::SetParameterDefaults(&s);
    auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
    s.ScreenColor = byte();
    const uint8_t method = byte();
    s.OutputMethod = method < 240 ? method % tav::kOutputMethodCount : method;
    s.DynamicRange = byte();
    s.ForceBlack = byte();
    s.ForceWhite = byte();
    s.Gamma = byte();
    s.Protection = byte();
    s.RestoreR = byte();
    s.RestoreG = byte();
    s.RestoreB = byte();
    s.CorrectionR = in.ConsumeIntegralInRange(-255, 255);
    s.CorrectionG = in.ConsumeIntegralInRange(-255, 255);
    s.CorrectionB = in.ConsumeIntegralInRange(-255, 255);
    s.BlueRemoval = byte();
    s.MatteBlur = byte();
    s.MatteChoke = in.ConsumeIntegralInRange(-128, 128);
    s.ShowMatte = byte();
    s.PreviewZoom = int8_t(byte());
    s.FitZoom = int8_t(byte());

    if (in.ConsumeBool()) c.picture = ChoosePicture(in, c.right - c.left, c.bottom - c.top);
    // The rest, repeated, is the image.
    const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    c.pixels.resize(size_t(c.width) * c.height * c.planes);
    for (size_t i = 0; i < c.pixels.size() && !bytes.empty(); ++i) c.pixels[i] = bytes[i % bytes.size()];
    return c;
}

// The image after a run of the case's settings with `method`.
std::vector<uint8_t> Run(const Case& c, uint8_t method) {
    tav::inprocess::InProcessHost host(ENTRYPOINT);
    host.SetImage(c.width, c.height, c.planes, c.pixels);
    host.SetFilterRect(c.left, c.top, c.right, c.bottom);
    host.SetFilterCase(c.filterCase);
    FUZZ_CHECK(host.Call(tav::filterSelectorParameters) == tav::noErr);
    ParameterRecord* record = tav::GetParameters(&host.record());
    FUZZ_CHECK(record != nullptr);
    std::memcpy(record, &c.settings, sizeof c.settings);
    record->OutputMethod = method;
    record->ShowDialog = 0;
    FUZZ_CHECK(host.RunFilter(false) == tav::noErr);
    return host.TakeImage();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The run reads the user's store (the debug switch); hosts free the
    // handles they were given.
    tav::fuzz::UsePrivateSettingsStores();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const Case c = ChooseCase(in);
    const int areaWidth = c.right - c.left, areaHeight = c.bottom - c.top;
    const int method = c.settings.OutputMethod;

    tav::DibPicture picture{};
    bool havePicture = false;
    if (c.picture.empty()) {
        tav::platform::ClearClipboard();
    } else {
        tav::platform::SetClipboardDib(c.picture.data(), c.picture.size());
        havePicture = tav::ReadDib(c.picture.data(), c.picture.size(), areaWidth, areaHeight, &picture);
    }

    const std::vector<uint8_t> result = Run(c, uint8_t(method));
    const bool writes = method < tav::kOutputBackground || (method == tav::kOutputBackground && havePicture);
    const bool needForeground = method == 0 || (method == tav::kOutputBackground && havePicture);
    const bool needMatte = method == 0 || method == 4 || needForeground;
    const std::vector<uint8_t> foreground = needForeground ? Run(c, tav::kOutputForeground) : std::vector<uint8_t>();
    const std::vector<uint8_t> matte = needMatte ? Run(c, tav::kOutputMatte) : std::vector<uint8_t>();

    const bool hasTransparency = c.planes == 4;
    const bool isProtected = c.filterCase == tav::filterCaseProtectedTransparencyNoSelection ||
                             c.filterCase == tav::filterCaseProtectedTransparencyWithSelection;
    const bool colourKept = method == 4 || !writes;
    const bool transparencyKept = !(method == 0 || method == 2 || method == 4);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const size_t at = (size_t(y) * c.width + x) * c.planes;
            const uint8_t* was = &c.pixels[at];
            const uint8_t* now = &result[at];
            const bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
            if (!inside || !writes) {
                FUZZ_CHECK(std::memcmp(was, now, size_t(c.planes)) == 0);
                continue;
            }
            if (needForeground && method != 5) FUZZ_CHECK(std::memcmp(now, &foreground[at], 3) == 0);
            if (colourKept) FUZZ_CHECK(std::memcmp(now, was, 3) == 0);
            if (method == 2 || method == 3) FUZZ_CHECK(now[0] == now[1] && now[1] == now[2]);
            if (method == 5) {
                const tav::DibColor c5 = picture.ColorAt(x - c.left, y - c.top);
                const uint8_t b[3] = {c5.r, c5.g, c5.b};
                const uint8_t m = matte[at];
                for (int p = 0; p < 3; ++p) {
                    const uint8_t f = foreground[at + p];
                    if (m == 255) FUZZ_CHECK(now[p] == f);
                    else if (m == 0) FUZZ_CHECK(now[p] == b[p]);
                    else FUZZ_CHECK(now[p] >= std::min(f, b[p]) && now[p] <= std::max(f, b[p]));
                }
            }
            if (!hasTransparency) continue;
            if (transparencyKept) {
                FUZZ_CHECK(now[3] == was[3]);
            } else {
                const uint8_t m = method == 2 ? now[0] : matte[at];
                FUZZ_CHECK(now[3] == (isProtected && was[3] == 255 ? 255 : m));
            }
        }
    }
    return 0;
}
