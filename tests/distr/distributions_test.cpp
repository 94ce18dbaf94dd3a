#include "distr/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "data/vectors.h"

using namespace korw::distr;

namespace {

long double RelativeError(long double actual, long double expected) {
    if (expected == 0) return std::fabs(actual);
    return std::fabs(actual - expected) / std::fabs(expected);
}

TEST(Distributions, ListedValues) {
    EXPECT_EQ(NormalUpperTail(0), 0.5L);
    EXPECT_NEAR(static_cast<double>(NormalUpperTail(1.959964L)), 0.025, 1e-8);
    EXPECT_NEAR(static_cast<double>(NormalUpperTail(-1.959964L)), 0.975, 1e-8);
    EXPECT_NEAR(static_cast<double>(ChiSquareUpperTail(3.841459L, 1)), 0.05, 1e-8);
    for (int n : {1, 2, 3, 10, 41, 600}) EXPECT_EQ(ChiSquareUpperTail(0, n), 1.0L) << n;
    EXPECT_NEAR(static_cast<double>(LnGammaHalf(1)), std::log(std::sqrt(M_PI)), 1e-15);
    EXPECT_EQ(LnGammaHalf(2), 0.0L);
    EXPECT_NEAR(static_cast<double>(LnGammaHalf(10)), std::log(24.0), 1e-15);
    for (int p : {1, 2, 7, 40, 41, 300}) EXPECT_EQ(IncompleteBeta(0.5L, p, p), 0.5L) << p;
    for (int m : {1, 4, 25, 100}) EXPECT_NEAR(static_cast<double>(FUpperTail(1, m, m)), 0.5, 1e-12);
    EXPECT_EQ(TUpperTail(0, 7), 0.5L);
    EXPECT_NEAR(static_cast<double>(TUpperTail(12.706L, 1)), 0.025, 1e-5);
    for (long double t : {0.3L, 1.7L, 4.0L})
        EXPECT_NEAR(static_cast<double>(TUpperTail(-t, 9) + TUpperTail(t, 9)), 1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(NormalUpperQuantile(0.025L)), 1.959964, 1e-6);
    EXPECT_EQ(NormalUpperQuantile(0.5L), 0.0L);
    EXPECT_EQ(NormalUpperQuantile(1.0E-10L), korw::data::MissingValue);
    EXPECT_EQ(NormalUpperQuantile(1 - 1.0E-10L), korw::data::MissingValue);
    EXPECT_NEAR(static_cast<double>(ChiSquareQuantile(0.05L, 1)), 3.841459, 1e-6);
    EXPECT_NEAR(static_cast<double>(ChiSquareQuantile(0.05L, 200)), 233.99, 0.005);
}

// The series limits are absolute (1e-20 and below on single terms), so the tails are exact to
// an absolute 1e-15 (the beta series of many degrees of freedom accumulate the most) and to a
// relative 1e-8 above that.
constexpr long double kAbsoluteFloor = 1e-15L;

long double AllowedError(long double expected, long double relative) {
    return relative * std::fabs(expected) + kAbsoluteFloor;
}

TEST(Distributions, EvenChiSquareIsAFiniteSum) {
    for (int n : {2, 4, 10, 60}) {
        for (long double x : {0.5L, 3.0L, 20.0L, 90.0L, 150.0L}) {
            long double sum = 0, term = 1;
            for (int j = 0; j < n / 2; ++j) {
                sum += term;
                term *= (x / 2) / (j + 1);
            }
            long double expected = std::exp(-x / 2) * sum;
            EXPECT_LT(std::fabs(ChiSquareUpperTail(x, n) - expected),
                      AllowedError(expected, 1e-14L))
                << n << " " << x;
        }
    }
}

// Extreme arguments end, and give probabilities.
TEST(Distributions, ExtremeArgumentsTerminate) {
    EXPECT_EQ(NormalUpperTail(1e6L), 0.0L);
    EXPECT_EQ(NormalUpperTail(-1e6L), 1.0L);
    EXPECT_EQ(ChiSquareUpperTail(1e30L, 5), 0.0L);
    EXPECT_EQ(ChiSquareUpperTail(INFINITY, 5), 0.0L);
    EXPECT_EQ(IncompleteBeta(0, 3, 4), 0.0L);
    EXPECT_EQ(IncompleteBeta(1, 3, 4), 1.0L);
    EXPECT_LE(FUpperTail(1e30L, 3, 1000), 1e-30L);
    long double z = NormalUpperQuantile(1.0E-9L);
    EXPECT_NEAR(static_cast<double>(z), 5.997807, 1e-5);
    for (int n : {1, 2, 30, 101, 1000, 100000}) {
        long double x = ChiSquareQuantile(1.0E-8L, n);
        EXPECT_TRUE(std::isfinite(x) && x > 0) << n;
        EXPECT_LT(RelativeError(ChiSquareUpperTail(x, n), 1.0E-8L), 1e-5L) << n;
    }
    EXPECT_TRUE(std::isfinite(LnGammaHalf(2000000000)));
}

// Against R over degrees of freedom 1 to 1000 and upper tails from 0.5 down to 1e-300: tails
// agree to 1e-8 relative plus 1e-15 absolute (the series limits are absolute), quantiles to
// 1e-7 relative. Below 1e-15 the specified series give no relative accuracy (they stop on
// absolute limits), so there only the absolute bound and the range 0 to 1 are checked.
TEST(Distributions, AgreeWithR) {
    std::ifstream in(std::string(KORW_TEST_DIR) + "/distr/reference_grid.txt");
    ASSERT_TRUE(in) << "reference grid missing";
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        int d1, d2;
        long double x, expected;
        fields >> kind >> d1 >> d2 >> x >> expected;
        long double actual = 0;
        bool quantile = false;
        if (kind == "pnorm") {
            actual = NormalUpperTail(x);
        } else if (kind == "pchisq") {
            actual = ChiSquareUpperTail(x, d1);
        } else if (kind == "pt") {
            actual = TUpperTail(x, d1);
        } else if (kind == "pf") {
            actual = FUpperTail(x, d1, d2);
        } else if (kind == "qnorm") {
            actual = NormalUpperQuantile(x);
            quantile = true;
        } else if (kind == "qchisq") {
            actual = ChiSquareQuantile(x, d1);
            quantile = true;
        }
        if (quantile) {
            EXPECT_LT(RelativeError(actual, expected), 1e-7L) << line;
        } else {
            EXPECT_LT(std::fabs(actual - expected), AllowedError(expected, 1e-8L)) << line;
            EXPECT_TRUE(actual >= 0 && actual <= 1) << line;
        }
        ++rows;
    }
    EXPECT_GT(rows, 800);
}

}  // namespace
