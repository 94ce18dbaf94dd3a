// The lane functions against the C library: within a unit or two in the last place over their
// whole range, the same value in every lane, and small arguments keeping their precision.
#include "distr/lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace korw::distr {
namespace {

// |a - b| in units in the last place of b.
double UlpsApart(double a, double b) {
    return std::fabs(a - b) / (std::nextafter(std::fabs(b), INFINITY) - std::fabs(b));
}

TEST(Lanes, Log1pWithinTwoUnitsInTheLastPlace) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0), power(-700.0, 0.0);
    double worst = 0;
    for (int k = 0; k < 200000; ++k) {
        // Uniform on [0, 1], and spread over the powers of e down to e^-700.
        double t = k % 2 == 0 ? unit(random) : std::exp(power(random));
        Quad v = Log1pLanes(Splat(t));
        worst = std::max(worst, UlpsApart(v[0], std::log1p(t)));
        for (int j = 1; j < Lanes; ++j) ASSERT_EQ(v[j], v[0]);
    }
    EXPECT_LE(worst, 2.0);
    // The edges: 0, the largest argument, the point where u crosses sqrt(2), and an argument
    // lost entirely in 1 + t.
    for (double t : {0.0, 1.0, std::sqrt(2.0) - 1, 1e-300, 0x1p-60})
        EXPECT_LE(UlpsApart(Log1pLanes(Splat(t))[0], std::log1p(t)), 2.0) << t;
}

TEST(Lanes, ExpWithinOneUnitInTheLastPlace) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> argument(-708.0, 709.0);
    double worst = 0;
    for (int k = 0; k < 200000; ++k) {
        double t = argument(random);
        Quad v = ExpLanes(Quad{t, -t / 3, t / 7, 0.5});
        worst = std::max(worst, UlpsApart(v[0], std::exp(t)));
        worst = std::max(worst, UlpsApart(v[1], std::exp(-t / 3)));
        worst = std::max(worst, UlpsApart(v[2], std::exp(t / 7)));
    }
    EXPECT_LE(worst, 1.0);
    EXPECT_EQ(ExpLanes(Splat(0.0))[0], 1.0);
}

}  // namespace
}  // namespace korw::distr
