// Shared helpers of the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "runtime/plugin_state.h"
#include "runtime/clipboard_picture.h"
#include "platform/message_box.h"
#include "tests/doubles/user_services.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav::test {

// The message boxes shown from the object's making on.
class MessageCapture {
public:
    MessageCapture() { ClearMessages(); }
    std::vector<CapturedMessage> messages() const { return RecordedMessages(); }
};

// The plug-in's state block as the host holds it between calls.
PluginState* StoredState(inprocess::InProcessHost& host);

// Names a parameterised test after its case's `name`.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

// The bytes of a file ("" when it cannot be read), and a file of bytes.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// `size` pseudo-random bytes, the same on every run.
inline std::string Junk(size_t size) {
    std::string junk;
    for (uint32_t i = 0, seed = 7; i < size; ++i) junk += char((seed = seed * 1103515245u + 12345u) >> 16);
    return junk;
}
// The names of a folder's entries, sorted.
std::vector<std::string> NamesIn(const std::string& folder);

// The statistics a capture gathers, read plainly from a packed RGB copy.
CaptureStatistics PlainStatistics(const std::vector<uint8_t>& rgb);
// The smallest and largest raw matte value of packed RGB pixels.
KeyRange PlainKeyRange(const std::vector<uint8_t>& rgb, bool green);

// A registry value: its type and its bytes as stored.
struct RawValue {
    uint32_t type;
    std::string bytes;
    bool operator==(const RawValue&) const = default;
};
// Text with its terminating NUL, and a 4-byte number.
RawValue Text(const std::string& text);
RawValue Number(uint32_t value);
// A value of a settings key (ui/registry) as stored, nullopt when it cannot
// be read (into 4096 bytes); and a value stored there.
std::optional<RawValue> StoredSetting(const char* key, const char* name);
bool StoreSetting(const char* key, const char* name, const RawValue& value);

// An image of width x height pixels and `planes` bytes each, filled by
// `pixel(x, y, plane)`.
template <typename F>
std::vector<uint8_t> MakeImage(int width, int height, int planes, F pixel) {
    std::vector<uint8_t> image(size_t(width) * height * planes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int p = 0; p < planes; ++p)
                image[(size_t(y) * width + x) * planes + p] = uint8_t(pixel(x, y, p));
    return image;
}

// Where two images of `planes` bytes a pixel first differ; empty when they
// are equal.
std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int width,
                            int planes = 1);

// A host with an image and a prepared run, for calling the plug-in's
// internals directly: the state block is a copy held here, and the host
// answers callbacks for as long as the fixture lives.
class PreparedRun {
public:
    PreparedRun(int width, int height, int planes, std::vector<uint8_t> pixels);
    ~PreparedRun();
    // A selection inside the image; prepares again.
    void Select(int left, int top, int right, int bottom);
    ParameterRecord& parameters();
    void Prepare();

    inprocess::InProcessHost host;
    PluginState state;

private:
    inprocess::InProcessHost* previous_;
};

// Packed bitmaps as the clipboard holds them: BITMAPINFOHEADER, then the
// pixel bits `headerSize` bytes after the header's start.
struct DibLayout {
    int32_t width = 0;
    int32_t height = 0;  // positive: rows stored bottom-up; negative: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;  // 40 or more; the bytes past the first 40 are `filler`
    uint8_t filler = 0xCD;     // header tail, row padding and the fourth byte of 32-bit pixels
};

inline void PutLE32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(value >> (8 * i));
}

// A copy of `bytes` with the 32-bit little-endian field at `offset` set.
inline std::vector<uint8_t> With(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
    PutLE32(bytes, offset, value);
    return bytes;
}
// A copy of `bytes` without its last `drop` bytes.
inline std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

// A picture of |height| rows of `width` pixels; `colour(column, row)` gives
// the DibColor of picture pixel (column, row), row 0 at the top. Rows are
// width x bitCount bits rounded up to 4 bytes; pixel colours are written at
// 24 and 32 bits only (other depths hold `filler`).
template <typename F>
std::vector<uint8_t> MakeDib(const DibLayout& layout, F colour) {
    const int64_t rows = layout.height < 0 ? -int64_t(layout.height) : layout.height;
    const int64_t rowBytes = (int64_t(layout.width) * layout.bitCount + 31) / 32 * 4;
    std::vector<uint8_t> dib(layout.headerSize + size_t(rowBytes * rows), layout.filler);
    std::memset(dib.data(), 0, 40);
    PutLE32(dib, 0, layout.headerSize);
    PutLE32(dib, 4, uint32_t(layout.width));
    PutLE32(dib, 8, uint32_t(layout.height));
    dib[12] = 1;  // biPlanes
    dib[14] = uint8_t(layout.bitCount);
    dib[15] = uint8_t(layout.bitCount >> 8);
    PutLE32(dib, 16, layout.compression);
    PutLE32(dib, 20, uint32_t(rowBytes * rows));  // biSizeImage
    if (layout.bitCount != 24 && layout.bitCount != 32) return dib;
    const int pixelBytes = layout.bitCount / 8;
    for (int64_t row = 0; row < rows; ++row) {
        const int64_t stored = layout.height > 0 ? rows - 1 - row : row;
        uint8_t* p = dib.data() + layout.headerSize + stored * rowBytes;
        for (int32_t column = 0; column < layout.width; ++column, p += pixelBytes) {
            const DibColor c = colour(column, int32_t(row));
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return dib;
}

// A fresh folder in the temporary folder, removed with its contents when the
// object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    // `name` inside the folder.
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the life of
// the object, then restores what was there before.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Points the registry's per-user and per-machine stores at two folders, not
// yet created, inside a fresh temporary folder.
class ScopedSettingsStores {
public:
    ScopedSettingsStores();
    const std::string& root() const { return folder_.path(); }
    std::string userStore() const { return folder_.Path("user"); }
    std::string machineStore() const { return folder_.Path("machine"); }

private:
    TempFolder folder_;
    ScopedEnvironment user_;
    ScopedEnvironment machine_;
};

}  // namespace tav::test
