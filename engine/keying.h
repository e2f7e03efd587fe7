// Per-pixel keying: one colour and the settings in, one matte value and one
// processed colour out. The worker and the preview both key through
// KeyPixel, so the two always agree.
#pragma once

#include <cstdint>

namespace tav {

// The settings the keying, the blur and the choke read, as plain numbers.
struct MatteSettings {
    int32_t screenColor;  // 0: blue screen; any other value: green
    int32_t correctionR, correctionG, correctionB;
    int32_t protection;
    int32_t restoreR, restoreG, restoreB;
    int32_t blueRemoval;  // how strongly the screen colour is removed
    int32_t matteBlur;
    int32_t matteChoke;
};

// The settings KeyPixel reads, prepared once per pass together with the
// correction data.
struct KeySettings {
    bool green;  // every non-zero ScreenColor keys a green screen
    bool correctionOn;
    int32_t correctionRadius2;  // the correction vector's squared length
    int32_t correctionR, correctionG, correctionB;
    int32_t protection;
    bool restoreOn;
    int32_t restoreR, restoreG, restoreB;
    int32_t removal;  // BlueRemoval

    // Precomputed once per pass, exactly the arithmetic they replace:
    // restoreAdd[c][D + 255] = (restore_c * D) / 255, and
    // removed[m][X] = X + (X * f(m)) / 255 with f(m) = (removal * (m - 255)) / 255.
    int16_t restoreAdd[3][511];
    uint8_t removed[256][256];
};

// Everything KeyPixel reads for `settings`: the screen, the correction,
// protection, restore and removal, and the tables precomputed from them.
KeySettings BuildKeySettings(const MatteSettings& settings);

struct KeyedPixel {
    uint8_t matte;
    uint8_t r, g, b;
};

// Keys `count` pixels inside the content bounds, three bytes each at `in`:
// their matte values to `matte` and their processed colours to `foreground`,
// byte for byte what KeyPixel gives for each. Eight at a time on a
// processor with AVX2.
void KeyInsideRun(const uint8_t* in, int32_t count, const KeySettings& s, const int32_t* table, uint8_t* matte,
                  uint8_t* foreground);

inline int32_t Clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The raw matte value of a colour: 255 minus the clamped screen key.
inline int32_t RawMatteValue(int32_t r, int32_t g, int32_t b, bool green) {
    int32_t screen = green ? g : b;
    int32_t other = green ? b : g;
    int32_t key = (2 * screen - other - r) / 2;
    return 255 - Clamp255(key);
}

// `table` is the matte level table for the current settings; `inside` tells
// whether the pixel lies within the content bounds.
inline KeyedPixel KeyPixel(uint8_t inR, uint8_t inG, uint8_t inB, bool inside,
                           const KeySettings& s, const int32_t* table) {
    int32_t r = inR, g = inG, b = inB;
    if (!inside) {
        r = 0;
        g = s.green ? 255 : 0;
        b = s.green ? 0 : 255;
    }
    int32_t m = table[RawMatteValue(r, g, b, s.green)];

    if (s.correctionOn) {
        int32_t refG = s.green ? 255 : 0;
        int32_t refB = s.green ? 0 : 255;
        int32_t d2 = r * r + (refG - g) * (refG - g) + (refB - b) * (refB - b);
        if (d2 <= s.correctionRadius2) {
            int32_t ac = RawMatteValue(Clamp255(r + s.correctionR), Clamp255(g + s.correctionG),
                                       Clamp255(b + s.correctionB), s.green);
            m = Clamp255(m + ac - 128);
        }
    }

    if (!(s.protection > 255 - m)) {
        int32_t& screen = s.green ? g : b;
        int32_t other = s.green ? b : g;
        int32_t d = screen - other;
        screen = other;
        if (s.restoreOn) {
            r = Clamp255(r + s.restoreAdd[0][d + 255]);
            g = Clamp255(g + s.restoreAdd[1][d + 255]);
            b = Clamp255(b + s.restoreAdd[2][d + 255]);
        }
    }

    // With removal 0 the table is the identity.
    const uint8_t* removed = s.removed[m];
    return KeyedPixel{uint8_t(m), removed[r], removed[g], removed[b]};
}

}  // namespace tav
