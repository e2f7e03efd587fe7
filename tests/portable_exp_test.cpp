#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/portable_exp.h"

namespace tav {
namespace {

int64_t UnitsApart(double a, double b) {
    int64_t ia, ib;
    std::memcpy(&ia, &a, 8);
    std::memcpy(&ib, &b, 8);
    return ia > ib ? ia - ib : ib - ia;
}

TEST(PortableExpTest, AgreesWithTheLibraryWithinTwoUnitsOverTheBlurRange) {
    // Every weight the blur can ask for: exp(-i^2 / s), s = r^2 / 3, 1 <= i <= r <= 255.
    int64_t worst = 0;
    for (int r = 1; r <= 255; ++r) {
        const double s = double(r) * double(r) * 0.3333333333333333;
        for (int i = 1; i <= r; ++i) {
            const double x = -double(i) * double(i) / s;
            worst = std::max(worst, UnitsApart(PortableExp(x), std::exp(x)));
        }
    }
    EXPECT_LE(worst, 2);
}

TEST(PortableExpTest, ExactAndLimitValues) {
    EXPECT_EQ(PortableExp(0.0), 1.0);
    EXPECT_LE(UnitsApart(PortableExp(-3.0), std::exp(-3.0)), 2);
    EXPECT_LE(UnitsApart(PortableExp(1.0), std::exp(1.0)), 2);
    EXPECT_EQ(PortableExp(-1000.0), 0.0);
}

}  // namespace
}  // namespace tav
