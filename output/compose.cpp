#include "output/compose.h"

#include <bit>
#include <cstring>

#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "runtime/clipboard_picture.h"
#include "platform/memory.h"

namespace tav {
namespace {

// Where the plain loop takes each output byte from. MatteUnlessOpaque is the
// matte for a layer whose transparency is protected: a fully opaque input
// pixel stays fully opaque.
enum class ColourSource { Input, Foreground, Grey };
enum class TransparencySource { Input, Matte, MatteUnlessOpaque };

// One output tile and the places of its top-left pixel in the working
// buffers and the picture.
struct TileView {
    const uint8_t* in;
    int64_t inRowBytes;
    uint8_t* out;
    int64_t outRowBytes;
    int planes;
    int columns;
    int rows;
    const uint8_t* foreground;  // null when the worker left no result
    const uint8_t* matte;
    int64_t areaWidth;          // W: pixels a row of foregroundImage and finalMatte
    int32_t pictureColumn;
    int32_t pictureRow;
};

// Four-byte pixels of the foreground (or the matte as grey) with the matte
// as transparency, four pixels at a time: three words of foreground and one
// of matte give four pixel words (the bytes little-endian, as on every
// target). The bytes are those of the plain loop: copies.
static_assert(std::endian::native == std::endian::little);

void ForegroundAndMatteRow(const uint8_t* fg, const uint8_t* mv, uint8_t* out, int columns) {
    int x = 0;
    for (; x + 4 <= columns; x += 4, fg += 12, mv += 4, out += 16) {
        uint32_t f0, f1, f2, m;
        std::memcpy(&f0, fg, 4);
        std::memcpy(&f1, fg + 4, 4);
        std::memcpy(&f2, fg + 8, 4);
        std::memcpy(&m, mv, 4);
        const uint32_t p[4] = {(f0 & 0xFFFFFFu) | (m << 24), (f0 >> 24) | ((f1 & 0xFFFFu) << 8) | ((m << 16) & 0xFF000000u),
                               (f1 >> 16) | ((f2 & 0xFFu) << 16) | ((m << 8) & 0xFF000000u),
                               (f2 >> 8) | (m & 0xFF000000u)};
        std::memcpy(out, p, 16);
    }
    for (; x < columns; ++x, fg += 3, ++mv, out += 4) {
        out[0] = fg[0];
        out[1] = fg[1];
        out[2] = fg[2];
        out[3] = *mv;
    }
}

void GreyAndMatteRow(const uint8_t* mv, uint8_t* out, int columns) {
    for (int x = 0; x < columns; ++x) {
        const uint32_t p = uint32_t(mv[x]) * 0x01010101u;
        std::memcpy(out + 4 * x, &p, 4);
    }
}

// kPlanes is the pixel size when known at compile time, 0 for any other.
template <int kPlanes>
void PlainTile(const TileView& t, ColourSource colour, bool writeTransparency,
               TransparencySource transparency) {
    const int step = kPlanes != 0 ? kPlanes : t.planes;
    const int last = step - 1;
    for (int k = 0; k < t.rows; ++k) {
        const uint8_t* in = t.in + k * t.inRowBytes;
        uint8_t* out = t.out + k * t.outRowBytes;
        const uint8_t* fg = t.foreground ? t.foreground + k * t.areaWidth * 3 : nullptr;
        const uint8_t* mv = t.matte ? t.matte + k * t.areaWidth : nullptr;

        if (kPlanes == 4 && writeTransparency && transparency == TransparencySource::Matte) {
            if (colour == ColourSource::Foreground) {
                ForegroundAndMatteRow(fg, mv, out, t.columns);
                continue;
            }
            if (colour == ColourSource::Grey) {
                GreyAndMatteRow(mv, out, t.columns);
                continue;
            }
        }
        if (kPlanes == 3 && colour == ColourSource::Foreground) {
            std::memcpy(out, fg, size_t(t.columns) * 3);
            continue;
        }

        switch (colour) {
        case ColourSource::Input:
            for (int x = 0; x < t.columns; ++x) {
                out[x * step + 0] = in[x * step + 0];
                out[x * step + 1] = in[x * step + 1];
                out[x * step + 2] = in[x * step + 2];
            }
            break;
        case ColourSource::Foreground:
            for (int x = 0; x < t.columns; ++x) {
                out[x * step + 0] = fg[x * 3 + 0];
                out[x * step + 1] = fg[x * 3 + 1];
                out[x * step + 2] = fg[x * 3 + 2];
            }
            break;
        case ColourSource::Grey:
            for (int x = 0; x < t.columns; ++x) {
                out[x * step + 0] = mv[x];
                out[x * step + 1] = mv[x];
                out[x * step + 2] = mv[x];
            }
            break;
        }

        if (!writeTransparency) continue;
        switch (transparency) {
        case TransparencySource::Input:
            for (int x = 0; x < t.columns; ++x) out[x * step + last] = in[x * step + last];
            break;
        case TransparencySource::Matte:
            for (int x = 0; x < t.columns; ++x) out[x * step + last] = mv[x];
            break;
        case TransparencySource::MatteUnlessOpaque:
            for (int x = 0; x < t.columns; ++x) {
                const uint8_t was = in[x * step + last];
                out[x * step + last] = was == 255 ? uint8_t(255) : mv[x];
            }
            break;
        }
    }
}

// B + (F - B) * m / 255 with the division truncating toward zero; the result
// lies between B and F, so it needs no clamping.
inline uint8_t Mix(int32_t f, int32_t b, int32_t m) { return uint8_t(b + (f - b) * m / 255); }

template <int kPlanes, int kPictureBytes>
void CompositeTile(const TileView& t, const DibPicture& picture) {
    const int step = kPlanes != 0 ? kPlanes : t.planes;
    for (int k = 0; k < t.rows; ++k) {
        uint8_t* out = t.out + k * t.outRowBytes;
        const uint8_t* fg = t.foreground + k * t.areaWidth * 3;
        const uint8_t* mv = t.matte + k * t.areaWidth;
        const uint8_t* bg =
            picture.Row(t.pictureRow + k) + int64_t(t.pictureColumn) * kPictureBytes;
        for (int x = 0; x < t.columns; ++x) {
            const int32_t m = mv[x];
            const uint8_t* f = fg + x * 3;
            const uint8_t* b = bg + x * kPictureBytes;  // B, G, R
            uint8_t* o = out + x * step;
            // Most of a matte is fully foreground or fully screen, where the
            // mix is one of its ends exactly.
            if (m == 255) {
                o[0] = f[0];
                o[1] = f[1];
                o[2] = f[2];
            } else if (m == 0) {
                o[0] = b[2];
                o[1] = b[1];
                o[2] = b[0];
            } else {
                o[0] = Mix(f[0], b[2], m);
                o[1] = Mix(f[1], b[1], m);
                o[2] = Mix(f[2], b[0], m);
            }
        }
    }
}

void RunPlain(const TileView& t, ColourSource colour, TransparencySource transparency) {
    // A fourth plane and beyond is the layer's transparency.
    switch (t.planes) {
    case 3: PlainTile<3>(t, colour, false, transparency); break;
    case 4: PlainTile<4>(t, colour, true, transparency); break;
    default: PlainTile<0>(t, colour, true, transparency); break;
    }
}

void RunComposite(const TileView& t, const DibPicture& picture) {
    const bool wide = picture.bytesPerPixel == 4;
    switch (t.planes) {
    case 3: wide ? CompositeTile<3, 4>(t, picture) : CompositeTile<3, 3>(t, picture); break;
    case 4: wide ? CompositeTile<4, 4>(t, picture) : CompositeTile<4, 3>(t, picture); break;
    default: wide ? CompositeTile<0, 4>(t, picture) : CompositeTile<0, 3>(t, picture); break;
    }
}

// Opens the clipboard (for `window`) and hands its picture, with the whole
// block that holds it, to `use` when it holds one that fits a `width` x
// `height` area; false when it cannot be opened or holds no such picture.
// The clipboard is closed again either way.
template <typename F>
bool WithClipboardPicture(platform::WindowHandle window, int32_t width, int32_t height, F use) {
    if (!platform::OpenClipboard(window)) return false;
    bool found = false;
    if (platform::MemoryHandle data = platform::GetClipboardDib(); data != nullptr) {
        const void* bits = platform::LockMovable(data);
        DibPicture picture;
        const size_t size = platform::MovableSize(data);
        if (bits != nullptr && ReadDib(bits, size, width, height, &picture)) {
            use(picture, bits, size);
            found = true;
        }
        if (bits != nullptr) platform::UnlockMovable(platform::MovableFromPointer(bits));
    }
    platform::CloseClipboard();
    return found;
}

}  // namespace

void ReadBackgroundPicture(PluginState* state) {
    if (state->backgroundPicture != nullptr) return;
    WithClipboardPicture(0, state->width, state->height, [&](const DibPicture&, const void* block, size_t size) {
        auto* copy = static_cast<uint8_t*>(AllocLargeBuffer(size));
        if (copy == nullptr) return;
        std::memcpy(copy, block, size);
        state->backgroundPicture = copy;
        state->backgroundPictureBytes = int64_t(size);
    });
}

namespace {

// What the run's tiles are composed from, for the method, the filter case and
// the background picture.
struct Sources {
    bool haveResult;
    bool composite;  // the foreground over `picture`
    DibPicture picture;
    ColourSource colour;
    TransparencySource transparency;
};

Sources SourcesOf(const PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    const ParameterRecord* parameters = GetParameters(record);
    const int method = parameters != nullptr ? parameters->OutputMethod : -1;
    Sources s{};
    s.haveResult = state->foregroundImage != nullptr && state->finalMatte != nullptr;
    const bool grey = s.haveResult && (method == kOutputMatteTransparency || method == kOutputMatte);
    const bool foreground =
        s.haveResult && (method == kOutputForegroundTransparency || method == kOutputForeground);
    const bool transparencyFromMatte =
        s.haveResult && (method == kOutputForegroundTransparency ||
                         method == kOutputMatteTransparency || method == kOutputTransparency);
    const bool protectedTransparency =
        record->filterCase == filterCaseProtectedTransparencyNoSelection ||
        record->filterCase == filterCaseProtectedTransparencyWithSelection;
    // Laid over the run's copy of the clipboard's picture.
    s.composite = method == kOutputBackground && s.haveResult && state->backgroundPicture != nullptr &&
                  ReadDib(state->backgroundPicture, size_t(state->backgroundPictureBytes), state->width,
                          state->height, &s.picture);
    s.colour = grey ? ColourSource::Grey : foreground ? ColourSource::Foreground : ColourSource::Input;
    s.transparency = !transparencyFromMatte  ? TransparencySource::Input
                     : protectedTransparency ? TransparencySource::MatteUnlessOpaque
                                             : TransparencySource::Matte;
    return s;
}

void Compose(const TileView& t, const Sources& s) {
    if (s.composite)
        RunComposite(t, s.picture);
    else
        RunPlain(t, s.colour, s.transparency);
}

// The view of `rows` x `columns` pixels of the area from (column, row) on.
TileView ViewOf(const PluginState* state, int32_t column, int32_t row, int32_t columns, int32_t rows) {
    TileView t{};
    t.planes = state->filterRecord->planes;
    t.columns = columns;
    t.rows = rows;
    t.areaWidth = state->width;
    t.pictureColumn = column;
    t.pictureRow = row;
    if (state->foregroundImage != nullptr && state->finalMatte != nullptr) {
        const int64_t first = int64_t(row) * state->width + column;
        t.foreground = state->foregroundImage + 3 * first;
        t.matte = state->finalMatte + first;
    }
    return t;
}

}  // namespace

void ComposeTile(PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    if (record == nullptr || record->inData == nullptr || record->outData == nullptr) return;
    const Rect& area = record->filterRect;
    const Rect& tile = record->inRect;
    if (record->planes < 3 || tile.left >= tile.right || tile.top >= tile.bottom) return;
    if (tile.left < area.left || tile.top < area.top || tile.right - area.left > state->width ||
        tile.bottom - area.top > state->height)
        return;

    TileView t = ViewOf(state, tile.left - area.left, tile.top - area.top, tile.right - tile.left,
                        tile.bottom - tile.top);
    t.in = static_cast<const uint8_t*>(record->inData);
    t.inRowBytes = record->inRowBytes;
    t.out = static_cast<uint8_t*>(record->outData);
    t.outRowBytes = record->outRowBytes;
    Compose(t, SourcesOf(state));
}

bool ComposesFromResultAlone(const PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    if (record == nullptr || (record->planes != 3 && record->planes != 4)) return false;
    const Sources s = SourcesOf(state);
    if (!s.haveResult) return false;
    if (s.composite) return record->planes == 3;
    return s.colour != ColourSource::Input &&
           (record->planes == 3 || s.transparency == TransparencySource::Matte);
}

void ComposeRows(const PluginState* state, int32_t first, int32_t rows, uint8_t* out) {
    TileView t = ViewOf(state, 0, first, state->width, rows);
    t.out = out;
    t.outRowBytes = int64_t(state->width) * t.planes;
    // Never read for a method that composes from the result alone.
    t.in = out;
    t.inRowBytes = t.outRowBytes;
    Compose(t, SourcesOf(state));
}

int32_t ProbeClipboardImage(PluginState* state, platform::WindowHandle window) {
    return WithClipboardPicture(window, state->width, state->height,
                                [](const DibPicture&, const void*, size_t) {})
               ? 1
               : 0;
}

}  // namespace tav
