#include "engine/portable_exp.h"

#include <cmath>

namespace tav {

double PortableExp(double x) {
    if (x == 0.0) return 1.0;
    if (x < -700.0) return 0.0;
    if (x > 700.0) return HUGE_VAL;
    // x = k ln 2 + t with |t| <= ln 2 / 2; ln 2 split so k * kLn2High is exact.
    constexpr double kInvLn2 = 1.44269504088896338700e+00;
    constexpr double kLn2High = 6.93147180369123816490e-01;
    constexpr double kLn2Low = 1.90821492927058770002e-10;
    const double k = std::floor(x * kInvLn2 + 0.5);
    const double t = (x - k * kLn2High) - k * kLn2Low;
    // exp(t) by its Taylor series to the 14th power (the remainder is below
    // 1e-17 for |t| <= 0.35), summed from the smallest term up.
    double sum = 1.0 / 87178291200.0;  // 1/14!
    constexpr double kInverseFactorials[] = {
        1.0 / 6227020800.0, 1.0 / 479001600.0, 1.0 / 39916800.0, 1.0 / 3628800.0,
        1.0 / 362880.0,     1.0 / 40320.0,     1.0 / 5040.0,     1.0 / 720.0,
        1.0 / 120.0,        1.0 / 24.0,        1.0 / 6.0,        1.0 / 2.0};
    for (double c : kInverseFactorials) sum = sum * t + c;
    sum = sum * t;  // t/2 + t^2/6 + ... + t^13/14!
    const double expT = 1.0 + t * (1.0 + sum);
    return std::ldexp(expT, int(k));
}

}  // namespace tav
