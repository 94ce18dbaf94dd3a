// The negative binomial fit: the count sums, the derivatives against finite differences, the
// fits against R (tests/reference/negbin.R) and the saved fitted values.
#include "special/negbin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../models/models_test.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/session.h"
#include "data/vectors.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::special {
namespace {

using detail::NegBinData;
using detail::NegBinDerivatives;

// The sums term by term in long double.
detail::CountSums Reference(int y, double k) {
    long double s0 = 0, s1 = 0, s2 = 0;
    for (int j = 0; j < y; ++j) {
        long double t = 1.0L / (j + static_cast<long double>(k));
        s0 += std::log((j + static_cast<long double>(k)) / (j + 1));
        s1 += t;
        s2 += t * t;
    }
    return {static_cast<double>(s0), static_cast<double>(s1), static_cast<double>(s2)};
}

TEST(NegBinSums, LargeCountsAgreeWithTheTermByTermSums) {
    for (double k : {0.003, 0.4, 1.0, 2.7, 9.99, 10.0, 55.5, 1.0e4, 3.0e7}) {
        for (int y : {0, 1, 2, 16, 17, 40, 333, 5000, 65535}) {
            detail::CountSums s = detail::SumsOverCount(y, k), r = Reference(y, k);
            // Rounding errors of the log-gamma and trigamma differences: relative to their
            // largest terms, y ln(y + k) and 1/k.
            double logTolerance = 2e-12 * std::fabs(r.logRatio) + 1e-15 * y * std::log(y + k + 2);
            EXPECT_NEAR(s.logRatio, r.logRatio, logTolerance) << "y " << y << " k " << k;
            EXPECT_NEAR(s.inverse, r.inverse, 1e-12 * r.inverse) << "y " << y << " k " << k;
            EXPECT_NEAR(s.inverseSquare, r.inverseSquare, 1e-12 * r.inverseSquare + 4e-16 / k)
                << "y " << y << " k " << k;
        }
    }
}

class NegBinDerivativesTest : public models::test::SessionTest {
  protected:
    // Units with an intercept, a variate and a three-level factor, some counts beyond the
    // term-by-term limit.
    NegBinData RandomData(bool weighted, std::mt19937& random) {
        NegBinData d;
        d.weighted = weighted;
        std::uniform_real_distribution<double> uniform(0, 1);
        if (data::LengthOf("X") > 0) data::Delete("X G");
        data::DeclareVariate("X", 60);
        data::DeclareFactor("G", 60, 3);
        for (int i = 0; i < 60; ++i) {
            data::AssignLevel("G", i + 1, 1 + i % 3);
            data::AssignValue("X", i + 1, static_cast<float>(uniform(random) * 2 - 1));
            d.y.push_back(i % 7 == 0 ? 20 + i * 13 : static_cast<int>(uniform(random) * 9));
            d.weight.push_back(weighted ? 0.3 + 2 * uniform(random) : 1.0);
        }
        SetDesign(d, "1 + G + X", 60);
        detail::NoteCounts(d);
        return d;
    }
};

TEST_F(NegBinDerivativesTest, AgreeWithFiniteDifferences) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> uniform(-1, 1);
    for (bool weighted : {false, true}) {
        NegBinData d = RandomData(weighted, random);
        int p = d.columns + 1;
        for (int trial = 0; trial < 5; ++trial) {
            std::vector<double> at(p);
            for (int k = 0; k < p - 1; ++k) at[k] = uniform(random);
            at[p - 1] = 0.2 + 3 * (uniform(random) + 1);
            NegBinDerivatives r;
            detail::Evaluate(d, at, r);
            for (int i = 0; i < p; ++i) {
                double h = 1e-5 * std::max(1.0, std::fabs(at[i]));
                std::vector<double> up = at, down = at;
                up[i] += h;
                down[i] -= h;
                NegBinDerivatives ru, rd;
                detail::Evaluate(d, up, ru);
                detail::Evaluate(d, down, rd);
                double first = (ru.logLikelihood - rd.logLikelihood) / (2 * h);
                EXPECT_NEAR(r.first[i], first, 1e-5 * (1 + std::fabs(first)))
                    << "parameter " << i << (weighted ? " weighted" : "");
                for (int j = 0; j <= i; ++j) {
                    double second = (ru.first[j] - rd.first[j]) / (2 * h);
                    double analytic = r.second[static_cast<size_t>(i) * (i + 1) / 2 + j];
                    EXPECT_NEAR(analytic, second, 1e-5 * (1 + std::fabs(second)))
                        << "pair " << i << "," << j << (weighted ? " weighted" : "");
                }
            }
        }
    }
}

// A unit with count 0 adds only -k ln(1 + e^eta); one with a count adds the log-gamma terms.
TEST_F(NegBinDerivativesTest, LogLikelihoodOfSingleUnits) {
    NegBinData d;
    SetDesign(d, "1", 1);
    d.y = {0};
    d.weight = {1};
    detail::NoteCounts(d);
    NegBinDerivatives r;
    detail::Evaluate(d, {0.4, 2.5}, r);
    EXPECT_NEAR(r.logLikelihood, -2.5 * std::log1p(std::exp(0.4)), 1e-14);
    d.y = {7};
    detail::NoteCounts(d);
    detail::Evaluate(d, {0.4, 2.5}, r);
    double expected = std::lgamma(9.5) - std::lgamma(2.5) - std::lgamma(8.0) + 0.4 * 7 -
                      9.5 * std::log1p(std::exp(0.4));
    EXPECT_NEAR(r.logLikelihood, expected, 1e-12);
    // Far out on the linear predictor nothing overflows, and the curvature does not vanish
    // where 1 - e^eta / (1 + e^eta) rounds to 0 (it would mark the parameter aliased).
    detail::Evaluate(d, {800, 2.5}, r);
    EXPECT_TRUE(std::isfinite(r.logLikelihood) && std::isfinite(r.second[0]));
    detail::Evaluate(d, {60, 2.5}, r);
    EXPECT_NEAR(r.second[0] / (-9.5 * std::exp(-60.0)), 1.0, 1e-12);
}

// Several slices of units: the same bits with one thread or two.
TEST_F(NegBinDerivativesTest, SameBitsWithOneOrTwoThreads) {
    constexpr int32_t n = 150001;
    NegBinData d;
    data::DeclareVariate("X", n);
    data::DeclareFactor("G", n, 3);
    for (int32_t u = 1; u <= n; ++u) {
        data::AssignLevel("G", u, 1 + u % 3);
        data::AssignValue("X", u, static_cast<float>(u % 101) / 50 - 1);
        d.y.push_back(u % 13);
        d.weight.push_back(1.0);
    }
    SetDesign(d, "1 + G + X + G*X", n);
    detail::NoteCounts(d);
    std::vector<double> at(d.columns + 1, 0.1);
    NegBinDerivatives one, two, alone;
    models::detail::SetKernelThreads(1);
    detail::Evaluate(d, at, one);
    models::detail::SetKernelThreads(2);
    detail::Evaluate(d, at, two);
    // The log-likelihood of a pass without derivatives is the same bits as with them.
    detail::Evaluate(d, at, alone, true);
    models::detail::SetKernelThreads(0);
    EXPECT_TRUE(alone.first.empty() && alone.second.empty());
    EXPECT_EQ(std::memcmp(&one.logLikelihood, &alone.logLikelihood, sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&one.logLikelihood, &two.logLikelihood, sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(one.first.data(), two.first.data(), one.first.size() * sizeof(double)),
              0);
    EXPECT_EQ(std::memcmp(one.second.data(), two.second.data(), one.second.size() * sizeof(double)),
              0);
}

// A fit over more units than one slice of the kernel, unweighted (every unit, and some units
// excluded) and weighted: the same estimates, standard deviations and -2 log likelihood, to the
// bit, with one thread or two.
TEST_F(NegBinDerivativesTest, SameFitWithOneOrTwoThreads) {
    constexpr int32_t n = 70001;
    data::DeclareVariate("C X W", n);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(0, 1);
    for (int32_t u = 1; u <= n; ++u) {
        double x = uniform(random) * 2 - 1;
        data::AssignValue("X", u, static_cast<float>(x));
        data::AssignValue("W", u, static_cast<float>(0.5 + uniform(random)));
        // Overdispersed counts: Poisson-like counts with a mean that varies beyond X.
        double mean = std::exp(1 + 0.5 * x + (uniform(random) - 0.5));
        data::AssignValue("C", u, static_cast<float>(std::floor(mean * 2 * uniform(random))));
    }
    for (const char* model : {"C = 1 + X", "C = 1 + X / W", "excluded"}) {
        std::string spec = model;
        if (spec == "excluded") {
            for (int32_t u = 1; u <= n; u += 3) data::Exclude(u);
            spec = "C = 1 + X";
        }
        std::vector<double> results[2];
        for (int threads : {1, 2}) {
            models::detail::SetKernelThreads(threads);
            // Each fit from the same start: without one it would start from the last fit's alpha.
            FitNegBin(spec, 1.0);
            ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
            for (int k = 1; k <= 3; ++k) {
                results[threads - 1].push_back(models::Parameter(k));
                results[threads - 1].push_back(models::ParameterSD(k));
            }
            results[threads - 1].push_back(models::Deviance());
        }
        models::detail::SetKernelThreads(0);
        EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), 7 * sizeof(double)), 0)
            << model;
    }
    data::IncludeAll();
}

class NegBinFitTest : public models::test::SessionTest {
  protected:
    // Y, G (3 levels), X and W of tests/golden/negbin.files/negbin.dat.
    void ReadData() {
        std::ifstream in(std::string(KORW_TEST_DIR) + "/golden/negbin.files/negbin.dat");
        data::DeclareVariate("Y X W", 40);
        data::DeclareFactor("G", 40, 3);
        for (int u = 1; u <= 40; ++u) {
            float y, x, w;
            int g;
            in >> y >> g >> x >> w;
            data::AssignValue("Y", u, y);
            data::AssignLevel("G", u, g);
            data::AssignValue("X", u, x);
            data::AssignValue("W", u, w);
        }
        ASSERT_TRUE(in && data::ErrorFree);
    }

    std::string FitError(const std::string& model) {
        FitNegBin(model);
        return data::ErrorFree ? "" : data::ErrorMessage;
    }
};

// R: glm.nb(y ~ g + x) mapped to CONSTANT = intercept - log(theta), ALPHA = theta; standard
// deviations from the joint information; the weighted fit maximised in R directly.
TEST_F(NegBinFitTest, FitsMatchR) {
    ReadData();
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const double estimates[] = {1.4104889347, 0.2976764981, 1.6061332170, 0,
                                0.0152952307, 0.7237226253};
    const double sds[] = {0.670356580, 0.497235778, 0.501377479, 0, 0.212363592, 0.180415654};
    for (int k = 1; k <= 6; ++k) {
        EXPECT_NEAR(models::Parameter(k), estimates[k - 1], 2e-7) << k;
        EXPECT_NEAR(models::ParameterSD(k), sds[k - 1], 1e-6) << k;
    }
    EXPECT_EQ(models::ParameterName(6), "ALPHA");
    EXPECT_NEAR(models::Deviance(), 225.8860, 1e-4);
    EXPECT_EQ(models::ResDF(), 35);
    std::string out = Output();
    EXPECT_EQ(out.substr(0, 35), "LOG-LINEAR NEGATIVE BINOMIAL MODEL\n");

    FitNegBin("Y = 1 + G + X / W");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const double weighted[] = {1.2141060836, -0.0819428189, 1.4507904235, 0,
                               0.1573418526, 0.6893127639};
    const double weightedSds[] = {0.654037204, 0.492203503, 0.508187996,
                                  0,           0.203615277, 0.174788518};
    for (int k = 1; k <= 6; ++k) {
        EXPECT_NEAR(models::Parameter(k), weighted[k - 1], 2e-7) << k;
        EXPECT_NEAR(models::ParameterSD(k), weightedSds[k - 1], 1e-6) << k;
    }
    EXPECT_NEAR(models::Deviance(), 226.6680, 1e-4);
    EXPECT_NE(Output().find("\nWeights W\n"), std::string::npos);

    // Excluded units take no part; the starting alpha is the last fit's.
    for (int u = 31; u <= 40; ++u) data::Exclude(u);
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Parameter(6), 0.7819795, 1e-6);
    EXPECT_NEAR(models::Parameter(1), 1.318605, 1e-6);
    EXPECT_NEAR(models::Deviance(), 170.9735, 1e-4);
}

// From an initial alpha far above the maximum (and from one far below) the fit reaches the same
// maximum: no step takes alpha below 0, nor stops on an indefinite matrix.
TEST_F(NegBinFitTest, StartsFarOffConverge) {
    ReadData();
    for (double start : {5000.0, 0.001}) {
        FitNegBin("Y = 1 + G + X", start);
        ASSERT_TRUE(data::ErrorFree) << start << ": " << data::ErrorMessage;
        EXPECT_NEAR(models::Parameter(6), 0.7237226253, 1e-6) << start;
        EXPECT_NEAR(models::Deviance(), 225.8860, 1e-4) << start;
    }
}

// Counts without overdispersion drive alpha towards infinity, where the likelihood is flat in
// alpha. The next fit must not start there: from such an alpha it would stop at once at the
// Poisson fit and report convergence.
TEST_F(NegBinFitTest, AlphaOfAPoissonLimitIsNotCarriedOver) {
    data::DeclareVariate("C", 8);
    for (int u = 1; u <= 8; ++u) data::AssignValue("C", u, static_cast<float>(u));
    data::DeclareVariate("T", 8);
    for (int u = 1; u <= 8; ++u) data::AssignValue("T", u, static_cast<float>(u));
    // Counts without overdispersion: alpha runs beyond 100 times the mean count of 4.5.
    FitNegBin("C = 1 + T", 1.0E6);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    ASSERT_GT(models::Parameter(3), 450);
    ReadData();
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Parameter(6), 0.7237226253, 1e-6);
    EXPECT_NEAR(models::Deviance(), 225.8860, 1e-4);

    // Large equal counts stop on their way to the Poisson limit where alpha still looks
    // determined; that alpha is far above the counts of the next data.
    for (int u = 1; u <= 8; ++u) data::AssignValue("C", u, 65535);
    FitNegBin("C = 1 + T", 1.0E7);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    ASSERT_LT(models::ParameterSD(3), models::Parameter(3));
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Parameter(6), 0.7237226253, 1e-6);
    EXPECT_NEAR(models::Deviance(), 225.8860, 1e-4);
}

TEST_F(NegBinFitTest, ChecksLeaveTheLastFit) {
    EXPECT_EQ(FitError(""), "Empty model specification");
    ReadData();
    EXPECT_EQ(FitError("Y 1 + G"), "Missing = in model formula");

    data::AssignValue("Y", 3, data::MissingValue);
    EXPECT_EQ(FitError("Y = 1 + G"), "The response variate must not have missing values");
    data::AssignValue("Y", 3, 65536);
    EXPECT_EQ(FitError("Y = 1 + G"), "Responses must be in the range 0..65535");
    data::AssignValue("Y", 3, -1);
    EXPECT_EQ(FitError("Y = 1 + G"), "Responses must be in the range 0..65535");
    data::AssignValue("Y", 3, 2.5f);
    EXPECT_EQ(FitError("Y = 1 + G"), "Responses must be whole numbers");
    // An excluded unit is not looked at.
    data::Exclude(3);
    EXPECT_EQ(FitError("Y = 1 + G"), "");
    data::IncludeAll();
    data::AssignValue("Y", 3, 6);
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree);
    double alpha = models::Parameter(6);

    data::AssignValue("W", 7, 0);
    EXPECT_EQ(FitError("Y = 1 + G / W"), "Weight <= 0 occurs");
    data::AssignValue("W", 7, data::MissingValue);
    EXPECT_EQ(FitError("Y = 1 + G / W"), "Weight <= 0 occurs");
    data::DeclareVariate("SHORT", 39);
    EXPECT_EQ(FitError("Y = 1 + G / SHORT"), "Weight variate SHORT of incorrect length");
    data::AssignValue("X", 9, data::MissingValue);
    EXPECT_EQ(FitError("Y = 1 + X"), "Variate X has a missing value at unit 9");

    // None of the failures replaced the fit record.
    FitNegBin("Y = 1 + G + X");
    EXPECT_EQ(FitError("Y = 1 + G + X"), "Variate X has a missing value at unit 9");
    EXPECT_EQ(models::Parameter(6), alpha);
}

// A count of 65535 is a count like any other: the fit converges to the Poisson-like alpha of a
// constant mean.
TEST_F(NegBinFitTest, LargestCountIsAccepted) {
    data::DeclareVariate("Y", 4);
    const float y[] = {65535, 60000, 64000, 61000};
    for (int u = 1; u <= 4; ++u) data::AssignValue("Y", u, y[u - 1]);
    FitNegBin("Y = 1");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    double alpha = models::Parameter(2);
    EXPECT_NEAR(std::exp(models::Parameter(1)) * alpha, 62633.75, 0.01);
}

TEST_F(NegBinFitTest, SavedValues) {
    ReadData();
    FitNegBin("Y = 1 + G + X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    data::Exclude(2);
    SaveFittedNegBin("", "R", "");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(data::FindVector("F"), 0);
    EXPECT_EQ(data::LengthOf("R"), 40);
    // R: fitted(glm.nb) at units 1, 2 (excluded now, fitted at as well) and 11.
    EXPECT_NEAR(data::Value("R", 1), 2 - 4.03092, 1e-4);
    EXPECT_NEAR(data::Value("R", 2), 12 - 15.68848, 1e-4);
    SaveFittedNegBin("F", "*R", "NR");
    EXPECT_EQ(data::ErrorMessage, "Invalid first character in identifier *R");
    SaveFittedNegBin("F", "R", "NR");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(data::Value("F", 11), 15.16935, 1e-4);
    EXPECT_NEAR(data::Value("NR", 11), 6.839429, 1e-5);
    EXPECT_NEAR(data::Value("NR", 5), -0.831095, 1e-5);

    data::DeclareFactor("FA", 40, 2);
    data::DeclareVariate("V39", 39);
    EXPECT_EQ((SaveFittedNegBin("FA", "", ""), data::ErrorMessage),
              "FA of incorrect length or type");
    EXPECT_EQ((SaveFittedNegBin("", "", "V39"), data::ErrorMessage),
              "V39 of incorrect length or type");

    // Saving over a variate of the formula stores the values of the fit, not of the new X.
    SaveFittedNegBin("X", "", "");
    ASSERT_TRUE(data::ErrorFree);
    EXPECT_NEAR(data::Value("X", 11), 15.16935, 1e-4);
    // Deleting a vector of the formula takes the fit with it.
    data::Delete("X");
    EXPECT_EQ((SaveFittedNegBin("F", "", ""), data::ErrorMessage),
              "A vector in the model formula has been deleted");
    // Another fit replaces the negative binomial one.
    models::FitLogLinear("Y = 1 + G");
    EXPECT_EQ((SaveFittedNegBin("F", "", ""), data::ErrorMessage),
              "No Negative Binomial model fitted");
}

}  // namespace
}  // namespace korw::special
