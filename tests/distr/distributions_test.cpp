#include "distr/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "data/vectors.h"

using namespace korw::distr;
using korw::data::MissingValue;

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
    EXPECT_EQ(NormalUpperQuantile(1.0E-10L), MissingValue);
    EXPECT_EQ(NormalUpperQuantile(1 - 1.0E-10L), MissingValue);
    EXPECT_NEAR(static_cast<double>(ChiSquareQuantile(0.05L, 1)), 3.841459, 1e-6);
    EXPECT_NEAR(static_cast<double>(ChiSquareQuantile(0.05L, 200)), 233.99, 0.005);
}

// Exact to 1e-14 relative, and to the absolute limit 1e-20 of the asymptotic series, which
// further out keeps only the leading terms of the finite sum.
TEST(Distributions, EvenChiSquareIsAFiniteSum) {
    for (int n : {2, 4, 10, 60}) {
        for (long double x : {0.5L, 3.0L, 20.0L, 90.0L, 150.0L}) {
            long double sum = 0, term = 1;
            for (int j = 0; j < n / 2; ++j) {
                sum += term;
                term *= (x / 2) / (j + 1);
            }
            long double expected = std::exp(-x / 2) * sum;
            EXPECT_LE(std::fabs(ChiSquareUpperTail(x, n) - expected), 1e-14L * expected + 1e-20L)
                << n << " " << x;
        }
    }
}

// The chi-square quantile with two degrees of freedom is -2 ln p. The mean n/2 = 1 that starts
// the iteration equals the initial previous value, which must not end it before the first step.
TEST(Distributions, TwoDegreesOfFreedomQuantileIterates) {
    for (long double p : {0.9L, 0.5L, 0.05L, 1.0E-6L, 1.0E-40L})
        EXPECT_LT(RelativeError(ChiSquareQuantile(p, 2), -2 * std::log(p)), 1e-12L) << p;
}

// A negative variance ratio is exceeded with probability 1, also below -n/m where the beta
// argument turns negative.
TEST(Distributions, NegativeVarianceRatioIsExceededSurely) {
    for (long double f : {-0.1L, -2.0L, -1000.0L, -HUGE_VALL}) {
        EXPECT_EQ(FUpperTail(f, 3, 4), 1.0L) << f;
        EXPECT_EQ(FUpperTail(f, 50, 2), 1.0L) << f;
    }
    EXPECT_EQ(FUpperTail(0, 3, 4), 1.0L);
}

// One degree of freedom takes the normal quantile of p/2, so below 2e-9 the chi-square quantile
// is missing; with more than 100 degrees of freedom the normal quantile only gives the starting
// value, and its absence there starts the iteration from the centre instead.
TEST(Distributions, QuantileRangeOutsideTheNormalLimits) {
    EXPECT_EQ(ChiSquareQuantile(1.5E-9L, 1), MissingValue);
    EXPECT_NE(ChiSquareQuantile(2.5E-9L, 1), MissingValue);
    for (int n : {101, 1000}) {
        for (long double p : {1.0E-10L, 1 - 1.0E-10L}) {
            long double x = ChiSquareQuantile(p, n);
            EXPECT_LT(RelativeError(ChiSquareUpperTail(x, n), p), 1e-6L) << n << " " << p;
        }
    }
}

// Extreme arguments end, without overflow, and give probabilities.
TEST(Distributions, ExtremeArgumentsTerminate) {
    EXPECT_EQ(NormalUpperTail(1e6L), 0.0L);
    EXPECT_EQ(NormalUpperTail(-1e6L), 1.0L);
    EXPECT_EQ(NormalUpperTail(INFINITY), 0.0L);
    EXPECT_EQ(NormalUpperTail(-INFINITY), 1.0L);
    EXPECT_EQ(ChiSquareUpperTail(1e30L, 5), 0.0L);
    EXPECT_EQ(ChiSquareUpperTail(1e4000L, 1000), 0.0L);
    EXPECT_EQ(ChiSquareUpperTail(INFINITY, 5), 0.0L);
    EXPECT_EQ(ChiSquareUpperTail(1e-4000L, 3), 1.0L);
    EXPECT_NEAR(static_cast<double>(ChiSquareUpperTail(1e6L, 1000000)), 0.5, 1e-3);
    for (int p : {1, 2, 5, 40, 41, 1000}) {
        EXPECT_EQ(IncompleteBeta(0, p, 4), 0.0L) << p;
        EXPECT_EQ(IncompleteBeta(1, p, 4), 1.0L) << p;
        long double tiny = IncompleteBeta(1e-4000L, p, 4);
        EXPECT_TRUE(tiny >= 0 && tiny < 1e-1999L) << p;
        EXPECT_EQ(IncompleteBeta(1 - 1e-19L, p, 4), 1.0L) << p;
    }
    EXPECT_LE(FUpperTail(1e30L, 3, 1000), 1e-30L);
    EXPECT_EQ(FUpperTail(INFINITY, 3, 1000), 0.0L);
    EXPECT_EQ(FUpperTail(1e-4000L, 3, 1000), 1.0L);
    for (int n : {1, 2, 30, 41, 1000}) {
        EXPECT_LE(TUpperTail(1e300L, n), 1e-300L) << n;
        EXPECT_EQ(TUpperTail(1e3000L, n), 0.0L) << n;
        EXPECT_EQ(TUpperTail(-INFINITY, n), 1.0L) << n;
    }
    EXPECT_NEAR(static_cast<double>(NormalUpperQuantile(1.0E-9L)), 5.997807, 1e-5);
    EXPECT_NEAR(static_cast<double>(NormalUpperQuantile(1 - 1.0E-9L)), -5.997807, 1e-5);
    EXPECT_EQ(NormalUpperQuantile(0), MissingValue);
    EXPECT_EQ(NormalUpperQuantile(1), MissingValue);
    for (int n : {1, 2, 30, 101, 1000, 100000}) {
        long double x = ChiSquareQuantile(1.0E-8L, n);
        EXPECT_TRUE(std::isfinite(x) && x > 0) << n;
        EXPECT_LT(RelativeError(ChiSquareUpperTail(x, n), 1.0E-8L), 1e-5L) << n;
        for (long double p : {0.0L, 1e-4000L, 1.0L}) {
            x = ChiSquareQuantile(p, n);
            EXPECT_TRUE(std::isfinite(x) && x >= MissingValue) << n << " " << p;
        }
    }
    EXPECT_TRUE(std::isfinite(LnGammaHalf(2000000000)));
}

// The normal tail keeps its relative accuracy on a fine grid, also just below the point where
// it changes method: 1 minus the power series of one degree of freedom loses digits as the tail
// falls (1e-12 relative just below x = 5), which the reference grid of R does not reach. The
// C library's erfcl is exact to a few units of long double there.
TEST(Distributions, NormalTailAgreesWithTheComplementaryErrorFunction) {
    for (long double x = 0; x < 37; x += 0.0013L) {
        long double expected = 0.5L * std::erfc(x / std::sqrt(2.0L));
        ASSERT_LT(RelativeError(NormalUpperTail(x), expected), 1e-15L) << x;
    }
}

// Against R for degrees of freedom 1 to 1000 and upper tails from 0.9 down to 1e-300.
//
// Tails: |actual - R| <= 1e-13 R + 2e-15 everywhere. The relative part covers R's own error
// (near 1e-14 around the centre); the absolute part is the algorithm's: ln Gamma by Stirling's
// series for degrees of freedom adding up to more than 500 is exact to about 1e-15, and the
// tails taken as 1 minus a sum near 1 are exact only to an absolute 1e-19. So the relative
// error is at most 2e-7 at 1e-8 (4e-8 is reached with t on 500 degrees of freedom) and 1e-11
// for small degrees of freedom. Below about 1e-15 the series stop on absolute limits (1e-20,
// 5e-21, 1e-25) and a beta series whose first term is below 1e-35 gives 0 outright, so the
// tails there have no relative accuracy in general, unlike R: the F and t tails of many degrees
// of freedom are too large by up to 4e14 relative near 1e-30 and are 0 further out. Only for
// chi-square tails below 1e-20 is there a bound: the asymptotic series keeps just its leading
// terms, which differ from the tail by at most |a - 1| / t relative (a = n/2, t = x/2), up to
// 0.7 for 1000 degrees of freedom. The normal tail (one degree of freedom) is exact to 1e-13
// relative throughout.
//
// Quantiles: normal 1e-12 relative; chi-square 1e-10 for tails down to 1e-8, 1e-7 down to
// 1e-20 (tails near 1e-12 below t = 42 are 1 minus a sum), 1e-2 below that (the truncated
// asymptotic series moves the quantile by up to 0.5 percent); one degree of freedom is missing
// below 2e-9.
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
        ++rows;
        if (kind == "qnorm") {
            EXPECT_LT(RelativeError(NormalUpperQuantile(x), expected), 1e-12L) << line;
            continue;
        }
        if (kind == "qchisq") {
            long double actual = ChiSquareQuantile(x, d1);
            if (d1 == 1 && x < 2e-9L) {
                EXPECT_EQ(actual, MissingValue) << line;
                continue;
            }
            long double bound = x >= 1e-8L ? 1e-10L : x > 1e-19L ? 1e-7L : 1e-2L;
            EXPECT_LT(RelativeError(actual, expected), bound) << line;
            continue;
        }
        long double actual = 0, a = 0, t = 0;
        if (kind == "pnorm") {
            actual = NormalUpperTail(x);
            a = 0.5L, t = x * x / 2;
        } else if (kind == "pchisq") {
            actual = ChiSquareUpperTail(x, d1);
            a = d1 / 2.0L, t = x / 2;
        } else if (kind == "pt") {
            actual = TUpperTail(x, d1);
        } else if (kind == "pf") {
            actual = FUpperTail(x, d1, d2);
        } else {
            ADD_FAILURE() << line;
        }
        EXPECT_LE(std::fabs(actual - expected), 1e-13L * expected + 2e-15L) << line;
        EXPECT_TRUE(actual >= 0 && actual <= 1) << line;
        if (kind == "pnorm" && x > 0) {
            // The normal tail keeps its relative accuracy to 1e-300 (LN(PHI(x)) shows it); R's
            // own error grows to 2e-14 there.
            EXPECT_LT(RelativeError(actual, expected), 1e-13L) << line;
        }
        if (t != 0 && expected < 1e-20L) {
            EXPECT_LE(RelativeError(actual, expected), std::fabs(a - 1) / t + 1e-12L) << line;
        }
    }
    EXPECT_GT(rows, 4000);
}

}  // namespace
