#include <gtest/gtest.h>
#include <quadmath.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/exp.h"

namespace tav {
namespace {

// e^x from libquadmath's 113-bit expq, rounded to the nearest double by the
// conversion.
double Reference(double x) { return double(expq(__float128(x))); }

// How far expq's value lies from the nearest point halfway between two
// doubles, in units of the spacing of the doubles there. expq is good to
// about a unit in its 113th bit, 2^-60 of a double's unit; a distance below
// kUnambiguous (four such units) would leave the rounded reference itself in
// doubt. (e^x for tiny x comes close: e^(2^-53) lies 2^-55 of a unit above
// the point halfway between 1 and the next double.)
constexpr double kUnambiguous = 0x1p-58;
double DistanceFromHalfway(double x) {
    const __float128 q = expq(__float128(x));
    const double d = double(q);
    if (q == __float128(d)) return 0.5;
    __float128 halfway;
    __float128 spacing;
    if (std::isinf(d)) {
        spacing = __float128(DBL_MAX) - __float128(std::nextafter(DBL_MAX, 0.0));
        halfway = __float128(DBL_MAX) + spacing / 2;
    } else {
        const double next = std::nextafter(d, q > __float128(d) ? HUGE_VAL : -HUGE_VAL);
        spacing = fabsq(__float128(next) - __float128(d));
        halfway = (__float128(d) + __float128(next)) / 2;
    }
    return double(fabsq(q - halfway) / spacing);
}

std::string Hex(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

// Every weight the blur can ask for: exp(-i^2 / s), s = r^2 / 3, for
// 1 <= i <= r <= 255, computed as the blur computes its argument.
TEST(CorrectlyRoundedExpTest, EveryBlurWeightIsTheRoundedQuadPrecisionValue) {
    int checked = 0;
    int wrong = 0;
    for (int r = 1; r <= 255; ++r) {
        const double s = double(r) * double(r) * 0.3333333333333333;
        for (int i = 1; i <= r; ++i) {
            const double x = -(double(i) * double(i)) / s;
            const double got = CorrectlyRoundedExp(x);
            const double want = Reference(x);
            ++checked;
            if (DistanceFromHalfway(x) < kUnambiguous)
                ADD_FAILURE() << "r=" << r << " i=" << i << " x=" << Hex(x)
                              << ": expq lies too close to a halfway point to decide";
            if (std::bit_cast<uint64_t>(got) != std::bit_cast<uint64_t>(want) && ++wrong <= 20)
                ADD_FAILURE() << "r=" << r << " i=" << i << " x=" << Hex(x) << ": " << Hex(got)
                              << ", expected " << Hex(want);
        }
    }
    EXPECT_EQ(checked, 32640);
    EXPECT_EQ(wrong, 0);
}

// Arguments across the whole range: exact and limit values, tiny ones (e^x
// just beside the point halfway between two doubles at 1 + x), the ends of
// the normal and subnormal results, the edges of the reduction by ln 2, and
// pseudo-random ones.
std::vector<double> Arguments() {
    std::vector<double> xs = {
        0.0, -0.0, 0x1p-1074, -0x1p-1074, 1e-300, -1e-300, 0x1p-60, -0x1p-60,
        0x1p-54, -0x1p-54, 0x1p-53, -0x1p-53, 0x1.8p-53, -0x1.8p-53, 1e-10, -1e-10,
        0.25, -0.25, 0.34657359027997264, -0.34657359027997264, 0.3466, -0.3466,
        0.6931471805599453, -0.6931471805599453, 1.0, -1.0, 2.0, -2.0, -2.5,
        -3.0, -3.0000000000000004, 10.0, -10.0, 100.0, -100.0, -700.0, 700.0, 709.0,
        709.78, 709.782712893384, 709.7827128933841, 709.79, 710.0, -708.39, -708.3964185322641,
        -708.4, -720.0, -740.0, -744.0, -744.44, -745.0, -745.1332191019411,
        -745.1332191019412, -745.1332191019413, -745.2, -746.0, -1000.0, 1000.0,
        // Subnormal results whose nearest 53-bit value lies exactly halfway
        // between two subnormals: rounding twice goes the wrong way.
        -0x1.724ce11a748a5p+9, -0x1.706769b20f87dp+9, -0x1.6fa59e691af9ep+9,
        -0x1.6f85d6dfb3b07p+9,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
    };
    std::mt19937_64 generator(20240611);
    for (int n = 0; n < 400; ++n) {
        const double unit = double(generator() >> 11) * 0x1p-53;  // [0, 1)
        xs.push_back(-745.0 + 1454.0 * unit);
    }
    return xs;
}

class CorrectlyRoundedExpAcrossTheRange : public testing::TestWithParam<double> {};

TEST_P(CorrectlyRoundedExpAcrossTheRange, IsTheRoundedQuadPrecisionValue) {
    const double x = GetParam();
    EXPECT_GE(DistanceFromHalfway(x), kUnambiguous) << "x=" << Hex(x);
    const double got = CorrectlyRoundedExp(x);
    const double want = Reference(x);
    EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want))
        << "x=" << Hex(x) << ": " << Hex(got) << ", expected " << Hex(want);
}

INSTANTIATE_TEST_SUITE_P(Arguments, CorrectlyRoundedExpAcrossTheRange,
                         testing::ValuesIn(Arguments()));

TEST(CorrectlyRoundedExpTest, NotANumberStaysNotANumber) {
    EXPECT_TRUE(std::isnan(CorrectlyRoundedExp(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(CorrectlyRoundedExp(-std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace
}  // namespace tav
