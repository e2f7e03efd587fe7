// KeyPixel's arithmetic in 32-bit lanes. The two tables KeyPixel reads for
// the restore and the removal are computed instead: each entry is a product
// of two numbers of at most 255 divided by 255 with the quotient cut toward
// zero, and for every n from 0 to 65025, n / 255 equals (n * 32897) >> 23
// (the product stays below 2^31). The level table is an arbitrary function
// and is gathered.
#include "engine/keying_avx2.h"

#include <immintrin.h>

namespace tav {
namespace {

#define TAV_AVX2 __attribute__((target("avx2")))

// n / 255 for 0 <= n <= 65025.
TAV_AVX2 inline __m256i Div255(__m256i n) {
    return _mm256_srli_epi32(_mm256_mullo_epi32(n, _mm256_set1_epi32(32897)), 23);
}

// (k * d) / 255, cut toward zero, for 0 <= k <= 255 and |d| <= 255.
TAV_AVX2 inline __m256i ScaledBy255(__m256i k, __m256i d) {
    return _mm256_sign_epi32(Div255(_mm256_mullo_epi32(k, _mm256_abs_epi32(d))), d);
}

TAV_AVX2 inline __m256i Clamp255(__m256i v) {
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// RawMatteValue of red, screen and other channels.
TAV_AVX2 inline __m256i RawMatte(__m256i r, __m256i screen, __m256i other) {
    const __m256i twice = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_add_epi32(screen, screen), other), r);
    // The arithmetic shift rounds a negative odd number down where the
    // division cuts it toward zero; either way the key is negative, and it is
    // clamped to 0.
    const __m256i key = _mm256_srai_epi32(twice, 1);
    return _mm256_sub_epi32(_mm256_set1_epi32(255), Clamp255(key));
}

// A shuffle that takes byte `first` of each of eight pixels into its own
// 32-bit lane: the low half holds pixels 0-3 from its byte 0, the high half
// pixels 4-7 from its byte 4 (it is loaded from 8 bytes further on).
TAV_AVX2 inline __m256i Spread(int first) {
    const char a = char(first), b = char(first + 4), z = -1;
    return _mm256_setr_epi8(a, z, z, z, char(a + 3), z, z, z, char(a + 6), z, z, z, char(a + 9), z, z, z,  //
                            b, z, z, z, char(b + 3), z, z, z, char(b + 6), z, z, z, char(b + 9), z, z, z);
}

}  // namespace

bool HaveAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

TAV_AVX2 int32_t KeyInsideRunAvx2(const uint8_t* in, int32_t count, const KeySettings& s, const int32_t* table,
                                  uint8_t* matte, uint8_t* foreground) {
    const __m256i takeR = Spread(0), takeScreen = Spread(s.green ? 1 : 2), takeOther = Spread(s.green ? 2 : 1);
    const __m256i full = _mm256_set1_epi32(255);
    const __m256i protection = _mm256_set1_epi32(s.protection), removal = _mm256_set1_epi32(s.removal);
    const __m256i radius2 = _mm256_set1_epi32(s.correctionRadius2);
    const __m256i correctR = _mm256_set1_epi32(s.correctionR);
    const __m256i correctScreen = _mm256_set1_epi32(s.green ? s.correctionG : s.correctionB);
    const __m256i correctOther = _mm256_set1_epi32(s.green ? s.correctionB : s.correctionG);
    const __m256i restoreR = _mm256_set1_epi32(s.restoreR);
    const __m256i restoreScreen = _mm256_set1_epi32(s.green ? s.restoreG : s.restoreB);
    const __m256i restoreOther = _mm256_set1_epi32(s.green ? s.restoreB : s.restoreG);
    // R | G << 8 | B << 16 of each lane to twelve bytes at each half's start;
    // the matte's low bytes to four.
    const __m256i packColour = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                                0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i packMatte = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                               0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const int screenShift = s.green ? 8 : 16, otherShift = s.green ? 16 : 8;

    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const uint8_t* p = in + 3 * x;
        const __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
        __m256i r = _mm256_shuffle_epi8(v, takeR);
        __m256i screen = _mm256_shuffle_epi8(v, takeScreen);
        __m256i other = _mm256_shuffle_epi8(v, takeOther);

        __m256i m = _mm256_i32gather_epi32(table, RawMatte(r, screen, other), 4);
        if (s.correctionOn) {
            const __m256i toScreen = _mm256_sub_epi32(full, screen);
            const __m256i d2 = _mm256_add_epi32(
                _mm256_add_epi32(_mm256_mullo_epi32(r, r), _mm256_mullo_epi32(toScreen, toScreen)),
                _mm256_mullo_epi32(other, other));
            const __m256i far = _mm256_cmpgt_epi32(d2, radius2);
            const __m256i corrected = RawMatte(Clamp255(_mm256_add_epi32(r, correctR)),
                                               Clamp255(_mm256_add_epi32(screen, correctScreen)),
                                               Clamp255(_mm256_add_epi32(other, correctOther)));
            const __m256i moved = Clamp255(_mm256_sub_epi32(_mm256_add_epi32(m, corrected), _mm256_set1_epi32(128)));
            m = _mm256_blendv_epi8(moved, m, far);
        }

        // Where the matte is not protected the screen channel takes the
        // other's value, and the restore adds back a share of the difference.
        const __m256i kept = _mm256_cmpgt_epi32(protection, _mm256_sub_epi32(full, m));
        __m256i newR = r, newScreen = other, newOther = other;
        if (s.restoreOn) {
            const __m256i d = _mm256_sub_epi32(screen, other);
            newR = Clamp255(_mm256_add_epi32(r, ScaledBy255(restoreR, d)));
            newScreen = Clamp255(_mm256_add_epi32(other, ScaledBy255(restoreScreen, d)));
            newOther = Clamp255(_mm256_add_epi32(other, ScaledBy255(restoreOther, d)));
        }
        r = _mm256_blendv_epi8(newR, r, kept);
        screen = _mm256_blendv_epi8(newScreen, screen, kept);
        other = _mm256_blendv_epi8(newOther, other, kept);

        // Removal: X + (X * f) / 255 with f = -(removal * (255 - m)) / 255.
        const __m256i cut = Div255(_mm256_mullo_epi32(removal, _mm256_sub_epi32(full, m)));
        r = _mm256_sub_epi32(r, Div255(_mm256_mullo_epi32(r, cut)));
        screen = _mm256_sub_epi32(screen, Div255(_mm256_mullo_epi32(screen, cut)));
        other = _mm256_sub_epi32(other, Div255(_mm256_mullo_epi32(other, cut)));

        const __m256i colour = _mm256_shuffle_epi8(
            _mm256_or_si256(_mm256_or_si256(r, _mm256_sll_epi32(screen, _mm_cvtsi32_si128(screenShift))),
                            _mm256_sll_epi32(other, _mm_cvtsi32_si128(otherShift))),
            packColour);
        uint8_t* to = foreground + 3 * x;
        // The low half's four spare bytes are overwritten by the high half's.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(colour));
        const __m128i high = _mm256_extracti128_si256(colour, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 12), high);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
        __builtin_memcpy(to + 20, &last, 4);
        const __m256i levels = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(m, packMatte),
                                                           _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(matte + x), _mm256_castsi256_si128(levels));
    }
    return x;
}

}  // namespace tav
