#include "engine/exp.h"

#include <bit>
#include <cstdint>
#include <limits>

// e^x = 2^k e^r with k the integer nearest x / ln 2 and |r| <= ln 2 / 2.
// r is formed exactly enough (to about 2^-108) from a three-part ln 2,
// e^r - 1 is summed from its Taylor series in double-double arithmetic, and 1
// plus that is rounded to a double once; the scaling by 2^k is exact in the
// normal range, and for subnormal results the one rounding is done directly
// onto the subnormal grid.
//
// Every step is a plain double operation (no fused multiply-add, no extended
// precision, no library call), so with SSE2 arithmetic and contraction off the
// result is the same on every target.

namespace tav {
namespace {

// The unevaluated sum hi + lo, with |lo| at most half a unit in the last
// place of hi.
struct DoubleDouble {
    double hi;
    double lo;
};

// a + b = s + e exactly, for any a and b (Knuth's two-sum).
DoubleDouble TwoSum(double a, double b) {
    const double s = a + b;
    const double bVirtual = s - a;
    const double aVirtual = s - bVirtual;
    return {s, (a - aVirtual) + (b - bVirtual)};
}

// a + b = s + e exactly, when a is 0 or |a| >= |b| (Dekker's fast two-sum).
DoubleDouble FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo with hi and lo of at most 26 significant bits each (Veltkamp's
// splitting). |a| stays far below 2^996 here, so 2^27 + 1 times a is finite.
DoubleDouble Split(double a) {
    const double c = 134217729.0 * a;
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// a * b = p + e exactly (Dekker's two-product), while the partial products
// stay in the normal range; below it the error term loses bits far under
// anything that shows in the result.
DoubleDouble TwoProduct(double a, double b) {
    const double p = a * b;
    const DoubleDouble as = Split(a);
    const DoubleDouble bs = Split(b);
    const double e = (((as.hi * bs.hi - p) + as.hi * bs.lo) + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, e};
}

// Double-double sum, with both the high and the low parts added exactly.
DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = TwoSum(a.hi, b.hi);
    const DoubleDouble t = TwoSum(a.lo, b.lo);
    s = FastTwoSum(s.hi, s.lo + t.hi);
    return FastTwoSum(s.hi, s.lo + t.lo);
}

// Double-double product; the neglected a.lo * b.lo is below 2^-106 of it.
DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble p = TwoProduct(a.hi, b.hi);
    return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// 2^e for -1022 <= e <= 1023.
double PowerOfTwo(int e) {
    return std::bit_cast<double>(uint64_t(e + 1023) << 52);
}

// v * 2^k, exact whenever the result is representable; in two steps so that
// neither factor leaves the normal range for any k from -1075 to 1024.
double Scale(double v, int k) {
    const int k1 = k / 2;
    return v * PowerOfTwo(k1) * PowerOfTwo(k - k1);
}

// 1 / ln 2, and ln 2 as kLn2High + kLn2Middle + kLn2Low (within 2^-157):
// kLn2High has 42 significant bits, so k * kLn2High is exact for |k| < 2^11.
constexpr double kInverseLn2 = 0x1.71547652b82fep+0;
constexpr double kLn2High = 0x1.62e42fefa38p-1;
constexpr double kLn2Middle = 0x1.ef35793c76730p-45;
constexpr double kLn2Low = 0x1.f97b57a079a19p-103;

// 1/n! for n = 14 down to 3 as double-doubles (1/2! and 1/1! are exact).
constexpr DoubleDouble kInverseFactorials[] = {
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},   // 1/14!
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},   // 1/13!
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},  // 1/12!
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},  // 1/11!
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},   // 1/10!
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},  // 1/9!
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},   // 1/8!
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},   // 1/7!
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},  // 1/6!
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},    // 1/5!
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},    // 1/4!
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},    // 1/3!
    {0.5, 0.0},                                       // 1/2!
    {1.0, 0.0},                                       // 1/1!
};

// 1/n! for n = 25 down to 15, nearest doubles. These terms add up to less
// than 2^-62 for |r| <= 0.35, so a double's precision is enough for them; the
// first one left out, r^26/26!, is below 2^-128.
constexpr double kTailInverseFactorials[] = {
    0x1.3f3ccdd165fa9p-84,  // 1/25!
    0x1.f2cf01972f578p-80,  // 1/24!
    0x1.761b41316381ap-75,  // 1/23!
    0x1.0ce396db7f853p-70,  // 1/22!
    0x1.71b8ef6dcf572p-66,  // 1/21!
    0x1.e542ba4020225p-62,  // 1/20!
    0x1.2f49b46814157p-57,  // 1/19!
    0x1.6827863b97d97p-53,  // 1/18!
    0x1.952c77030ad4ap-49,  // 1/17!
    0x1.ae7f3e733b81fp-45,  // 1/16!
    0x1.ae7f3e733b81fp-41,  // 1/15!
};

// e^r - 1 for |r| <= 0.35 as a double-double, by Horner's rule on the Taylor
// series: r (1 + r (1/2 + r (1/6 + ... + r (1/14! + r tail)))).
DoubleDouble ExpMinusOne(DoubleDouble r) {
    double tail = 0.0;
    for (double c : kTailInverseFactorials) tail = tail * r.hi + c;
    DoubleDouble sum = {tail, 0.0};
    for (const DoubleDouble& c : kInverseFactorials) sum = Add(c, Multiply(r, sum));
    return Multiply(r, sum);
}

// The double nearest to the exact a + b.hi + b.lo, rounded once, for
// |b.lo| at most half a unit in the last place of b.hi and a + b.hi not far
// below a in size. s = a + b.hi is formed exactly as s.hi + s.lo; the part
// below s.hi, z.hi + z.lo, is then rounded to odd (the nearest double with an
// odd last bit, when z.lo is not 0), on a grid far finer than the doubles
// around the sum. That keeps s.hi + z.hi off every point halfway between two
// of those doubles and on the same side of each as the exact sum, so the
// last addition rounds as the exact sum would. (Rounding b to one double
// first could round twice: e^x for tiny x lies just beside the point halfway
// between two doubles at 1 + x.)
double RoundSum(double a, DoubleDouble b) {
    const DoubleDouble s = TwoSum(a, b.hi);
    const DoubleDouble z = TwoSum(s.lo, b.lo);
    uint64_t bits = std::bit_cast<uint64_t>(z.hi);
    if (z.lo != 0.0 && (bits & 1) == 0) {
        // One step in magnitude toward z.lo (away from zero when they agree in
        // sign); an even last bit never carries into the exponent, and one
        // below a power of two is the largest double under it.
        bits = (z.lo > 0.0) == (z.hi > 0.0) ? bits + 1 : bits - 1;
    }
    return s.hi + std::bit_cast<double>(bits);
}

}  // namespace

double CorrectlyRoundedExp(double x) {
    if (x != x) return x + x;
    // e^709.79 is above the largest double by more than half a unit; below
    // -745.2, e^x is under half the smallest subnormal (2^-1075 = e^-745.133).
    if (x > 709.79) return std::numeric_limits<double>::infinity();
    if (x < -745.2) return 0.0;

    // k = x / ln 2 rounded to the nearest integer (|k| <= 1075), by adding and
    // removing 1.5 * 2^52.
    const double kd = (x * kInverseLn2 + 0x1.8p52) - 0x1.8p52;
    const int k = int(kd);
    // r = x - k ln 2. k * kLn2High is exact, and x is within a factor of 2 of
    // it (or k is 0), so the first difference is exact too.
    const double reduced = x - kd * kLn2High;
    const DoubleDouble middle = TwoProduct(kd, kLn2Middle);
    const double low = kd * kLn2Low;
    const DoubleDouble r = Add({reduced, 0.0}, {-middle.hi, -(middle.lo + low)});

    // e^r = 1 + p in [0.70, 1.42], rounded once.
    const DoubleDouble p = ExpMinusOne(r);
    const double expR = RoundSum(1.0, p);

    // Normal results: scaling by 2^k is exact (or overflows to infinity, as
    // the rounded result would). Below 2^-1022 the doubles are spaced by
    // 2^-1074, which in units of 2^k is u = c * 2^-52 with c = 2^(-1022 - k);
    // e^r rounded to a double at or above c means the result is normal
    // (rounding is monotonic and c is a double).
    if (k > -1022) return Scale(expR, k);
    const double c = PowerOfTwo(-1022 - k);
    if (expR >= c) return Scale(expR, k);
    // Otherwise c + e^r lies in [c, 2c], where the doubles are spaced by u:
    // rounding that sum is rounding e^r onto the subnormal grid, and taking c
    // away again is exact and leaves a multiple of u.
    return Scale(RoundSum(c, Add({1.0, 0.0}, p)) - c, k);
}

}  // namespace tav
