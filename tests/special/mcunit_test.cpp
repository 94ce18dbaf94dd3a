// McCullagh's ordinal model: the three distributions, the analytic derivatives of the likelihood
// against finite differences, and fits against the reference values of
// tests/reference/mcunit.R.
#include "special/mcunit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../models/models_test.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::special::test {

using namespace mcunit;

const Distribution kLogistic{LogisticF, LogisticDensity, LogisticSlope};
const Distribution kNormal{NormalF, NormalDensity, NormalSlope};
const Distribution kGompertz{GompertzF, GompertzDensity, GompertzSlope};
const Distribution* const kAll[] = {&kLogistic, &kNormal, &kGompertz};

TEST(McUnitDistributions, DensitiesAreDerivativesAndTailsStayFinite) {
    const double h = 1.0E-5;
    for (const Distribution* d : kAll) {
        for (double x : {-6.0, -2.5, -0.3, 0.0, 0.7, 1.9, 4.0}) {
            EXPECT_NEAR(d->f(x), (d->F(x + h) - d->F(x - h)) / (2 * h), 1.0E-8) << x;
            EXPECT_NEAR(d->fPrime(x), (d->f(x + h) - d->f(x - h)) / (2 * h), 1.0E-8) << x;
        }
        // Far out nothing overflows: F tends to 0 and 1, f and f' to 0.
        for (double x : {-800.0, -40.0, 40.0, 800.0}) {
            EXPECT_TRUE(std::isfinite(d->F(x)) && std::isfinite(d->f(x)) &&
                        std::isfinite(d->fPrime(x)))
                << x;
            EXPECT_NEAR(d->F(x), x < 0 ? 0.0 : 1.0, 1.0E-15);
        }
        EXPECT_GT(d->F(-30), 0.0);  // the lower tail keeps its precision
    }
    EXPECT_DOUBLE_EQ(GompertzF(0), 1 - std::exp(-1.0));
    EXPECT_DOUBLE_EQ(LogisticF(0), 0.5);
    EXPECT_DOUBLE_EQ(NormalF(0), 0.5);
    EXPECT_NEAR(NormalF(-1.959963984540054), 0.025, 1.0E-12);
    for (const Distribution* d : kAll)
        for (double p : {0.001, 0.2, 0.5, 0.93})
            EXPECT_NEAR(d->F(InverseDistribution(*d, p)), p, 1E-11);
}

// The fit takes F, f and f' from one call where it can; they must be the very values of the
// three functions, or the log-likelihood of a pass would depend on whether it made derivatives.
TEST(McUnitDistributions, ValuesAtOnceAreTheSameBits) {
    const Distribution withValues[] = {{LogisticF, LogisticDensity, LogisticSlope, LogisticValues},
                                       {NormalF, NormalDensity, NormalSlope, NormalValues},
                                       {GompertzF, GompertzDensity, GompertzSlope, GompertzValues}};
    for (const Distribution& d : withValues) {
        for (double x : {-800.0, -37.5, -3.3, -0.1, 0.0, 1e-300, 0.45, 2.0, 36.9, 710.0, 800.0}) {
            double got[3];
            d.values(x, got[0], got[1], got[2]);
            double expected[3] = {d.F(x), d.f(x), d.fPrime(x)};
            EXPECT_EQ(std::memcmp(expected, got, sizeof got), 0) << x;
        }
    }
}

// A library session whose fits' designs come from its vector table.
class McUnitLikelihood : public models::test::SessionTest {
  protected:
    // Random units with K categories: counts (some 0) or one observation per unit (kept as a
    // factor response keeps it), a constant, two covariates and a three-level factor.
    OrdinalData RandomData(std::mt19937& random, int K, bool single) {
        constexpr int32_t n = 25;
        OrdinalData d;
        d.categories = K;
        std::uniform_real_distribution<double> uniform(-1.5, 1.5);
        std::uniform_int_distribution<int> count(0, 4), category(0, K - 1);
        if (data::LengthOf("X1") > 0) data::Delete("X1 X2 G");
        data::DeclareVariate("X1 X2", n);
        data::DeclareFactor("G", n, 3);
        for (int32_t i = 0; i < n; ++i) {
            double total = 0;
            int level = category(random);
            for (int j = 0; j < K; ++j) {
                double c = single ? (j == level ? 1 : 0) : count(random);
                if (!single && i % 5 == 0) c += 0.5;  // counts need not be whole
                d.counts.push_back(c);
                total += c;
            }
            if (total == 0) d.counts[static_cast<size_t>(i) * K] = total = 1;
            d.totals.push_back(total);
            if (single) d.level.push_back(static_cast<uint8_t>(level + 1));
            data::AssignValue("X1", i + 1, static_cast<float>(uniform(random)));
            data::AssignValue("X2", i + 1, static_cast<float>(uniform(random)));
            data::AssignLevel("G", i + 1, 1 + i % 3);
        }
        SetDesign(d, "1 + X1 + X2 + G", n);
        if (single) {
            d.counts.clear();
            d.totals.clear();
        }
        return d;
    }
};

// Parameters with thresholds in order below 0.
std::vector<double> RandomParameters(std::mt19937& random, const OrdinalData& d) {
    std::uniform_real_distribution<double> uniform(-0.8, 0.8), gap(0.3, 1.2);
    std::vector<double> params(d.Parameters());
    for (int k = 0; k < d.columns; ++k) params[k] = uniform(random);
    double alpha = 0;
    for (int m = d.categories - 2; m >= 1; --m) params[d.columns + m - 1] = alpha -= gap(random);
    return params;
}

double LogLikelihoodAt(const OrdinalData& d, const Distribution& dist,
                       const std::vector<double>& params) {
    return Evaluate(d, dist, params);
}

std::vector<double> GradientAt(const OrdinalData& d, const Distribution& dist,
                               const std::vector<double>& params, std::vector<double>* hessian) {
    std::vector<double> gradient, h;
    EXPECT_TRUE(std::isfinite(Evaluate(d, dist, params, &gradient, &h)));
    if (hessian != nullptr) *hessian = h;
    return gradient;
}

TEST_F(McUnitLikelihood, DerivativesMatchFiniteDifferences) {
    std::mt19937 random(2024);
    const double h = 1.0E-5;
    for (const Distribution* dist : kAll) {
        for (int K : {2, 3, 5}) {
            for (bool single : {false, true}) {
                OrdinalData d = RandomData(random, K, single);
                std::vector<double> params = RandomParameters(random, d);
                std::vector<double> hessian;
                std::vector<double> gradient = GradientAt(d, *dist, params, &hessian);
                int p = d.Parameters();
                for (int a = 0; a < p; ++a) {
                    std::vector<double> up = params, down = params;
                    up[a] += h;
                    down[a] -= h;
                    double numeric =
                        (LogLikelihoodAt(d, *dist, up) - LogLikelihoodAt(d, *dist, down)) / (2 * h);
                    EXPECT_NEAR(gradient[a], numeric, 1.0E-5 * (1 + std::fabs(numeric)))
                        << "K " << K << " parameter " << a;
                    std::vector<double> gUp = GradientAt(d, *dist, up, nullptr);
                    std::vector<double> gDown = GradientAt(d, *dist, down, nullptr);
                    for (int b = 0; b < p; ++b) {
                        double second = (gUp[b] - gDown[b]) / (2 * h);
                        EXPECT_NEAR(hessian[static_cast<size_t>(a) * p + b], second,
                                    1.0E-5 * (1 + std::fabs(second)))
                            << "K " << K << " pair " << a << "," << b;
                    }
                }
            }
        }
    }
}

// A factor response's categories and the same observations as counts: the same bits.
TEST_F(McUnitLikelihood, CategoriesAndCountsGiveTheSameBits) {
    std::mt19937 random(11);
    for (const Distribution* dist : kAll) {
        OrdinalData byLevel = RandomData(random, 4, true), byCount = byLevel;
        for (int i = 0; i < byLevel.Units(); ++i) {
            for (int j = 1; j <= 4; ++j) byCount.counts.push_back(byLevel.Count(i, j));
            byCount.totals.push_back(1.0);
        }
        byCount.level.clear();
        std::vector<double> params = RandomParameters(random, byLevel);
        std::vector<double> g[2], h[2];
        double l[2] = {Evaluate(byLevel, *dist, params, &g[0], &h[0]),
                       Evaluate(byCount, *dist, params, &g[1], &h[1])};
        EXPECT_EQ(std::memcmp(&l[0], &l[1], sizeof(double)), 0);
        EXPECT_EQ(g[0], g[1]);
        EXPECT_EQ(h[0], h[1]);
    }
}

TEST_F(McUnitLikelihood, CategoryWithoutProbabilityIsMinusInfinity) {
    std::mt19937 random(5);
    OrdinalData d = RandomData(random, 4, false);
    std::vector<double> params = RandomParameters(random, d);
    params[d.columns + 1] = 0.5;  // alpha_2 above alpha_3 = 0: category 3 has no probability
    EXPECT_EQ(LogLikelihoodAt(d, kLogistic, params), -HUGE_VAL);
    std::vector<double> gradient, hessian;
    EXPECT_EQ(Evaluate(d, kLogistic, params, &gradient, &hessian), -HUGE_VAL);
    EXPECT_EQ(gradient, std::vector<double>(d.Parameters(), 0.0));
    EXPECT_EQ(hessian, std::vector<double>(d.Parameters() * d.Parameters(), 0.0));
}

// More units than one slice of the kernel: the same bits with one thread or two.
TEST_F(McUnitLikelihood, SameBitsWithOneOrTwoThreads) {
    constexpr int32_t n = 150001, K = 4;
    OrdinalData d;
    d.categories = K;
    data::DeclareVariate("X", n);
    data::DeclareFactor("G", n, 3);
    for (int32_t u = 1; u <= n; ++u) {
        data::AssignLevel("G", u, 1 + u % 3);
        data::AssignValue("X", u, static_cast<float>(u % 101) / 50 - 1);
        for (int j = 0; j < K; ++j) d.counts.push_back((u + j) % 3);
        d.totals.push_back(d.counts[(u - 1) * K] + d.counts[(u - 1) * K + 1] +
                           d.counts[(u - 1) * K + 2] + d.counts[(u - 1) * K + 3]);
    }
    SetDesign(d, "1 + G + X + G*X", n);
    std::vector<double> params(d.Parameters(), 0.1);
    params[d.columns] = -1.0;
    params[d.columns + 1] = -0.4;
    double l[2], alone[2];
    std::vector<double> gradient[2], hessian[2];
    for (int threads : {1, 2}) {
        models::detail::SetKernelThreads(threads);
        l[threads - 1] =
            Evaluate(d, kNormal, params, &gradient[threads - 1], &hessian[threads - 1]);
        alone[threads - 1] = Evaluate(d, kNormal, params);
    }
    models::detail::SetKernelThreads(0);
    EXPECT_TRUE(std::isfinite(l[0]));
    EXPECT_EQ(std::memcmp(&l[0], &l[1], sizeof(double)), 0);
    // The log-likelihood of a pass without derivatives is the same bits as with them.
    EXPECT_EQ(std::memcmp(l, alone, sizeof l), 0);
    EXPECT_EQ(
        std::memcmp(gradient[0].data(), gradient[1].data(), gradient[0].size() * sizeof(double)),
        0);
    EXPECT_EQ(std::memcmp(hessian[0].data(), hessian[1].data(), hessian[0].size() * sizeof(double)),
              0);
}

// A library session with the grouped data of tests/golden/mcunit.files/grouped.dat.
class McUnitFit : public models::test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        const float n1[] = {18, 14, 10, 7, 4, 2}, n2[] = {5, 8, 9, 9, 8, 6},
                    n3[] = {1, 2, 5, 8, 12, 16};
        data::DeclareVariate("DOSE N1 N2 N3 N12", 6);
        for (int u = 1; u <= 6; ++u) {
            data::AssignValue("DOSE", u, static_cast<float>(u));
            data::AssignValue("N1", u, n1[u - 1]);
            data::AssignValue("N2", u, n2[u - 1]);
            data::AssignValue("N3", u, n3[u - 1]);
            data::AssignValue("N12", u, n1[u - 1] + n2[u - 1]);
        }
        ASSERT_TRUE(data::ErrorFree);
    }

    void Fit(const std::string& model, const Distribution& dist) {
        StoreMcCullaghHeading("heading");
        FitMcCullaghModel(model, dist.F, dist.f, dist.fPrime);
    }
};

TEST_F(McUnitFit, EstimatesMatchR) {
    struct Case {
        const Distribution* dist;
        double estimate[3], sd[3], deviance;
    };
    // ordinal::clm with weights, mapped to CONSTANT, DOSE, ALPHA1 (tests/reference/mcunit.R).
    const Case cases[] = {
        {&kLogistic,
         {3.5128381467, -0.6986080317, -1.7226605844},
         {0.4866752420, 0.1105685599, 0.2356813511},
         267.0033415},
        {&kNormal,
         {2.1032753657, -0.4188103277, -1.0183535238},
         {0.26994273633, 0.06263134836, 0.13294829873},
         266.7603665},
        {&kGompertz,
         {1.8087825055, -0.4437223948, -1.1103177881},
         {0.25027771205, 0.06786314913, 0.14663654576},
         268.1373001},
    };
    for (const Case& c : cases) {
        Fit("N1, N2, N3 = 1 + DOSE", *c.dist);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        EXPECT_EQ(models::NumberOfParameters(), 3);
        EXPECT_EQ(models::ParameterName(3), "ALPHA1");
        for (int k = 1; k <= 3; ++k) {
            EXPECT_NEAR(models::Parameter(k), c.estimate[k - 1], 1.0E-6) << k;
            EXPECT_NEAR(models::ParameterSD(k), c.sd[k - 1], 1.0E-6) << k;
        }
        EXPECT_NEAR(models::Deviance(), c.deviance, 1.0E-6);
        // The covariance matrix is kept for ESTIMATE.
        EXPECT_NEAR(models::ParameterCov(1, 1), c.sd[0] * c.sd[0], 1.0E-6);
        std::string out = Output();
        EXPECT_NE(out.find("Response: N1 N2 N3\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Convergence after "), std::string::npos);
    }
    // Two categories: the binary regression of glm(cbind(N1 + N2, N3) ~ DOSE), with the standard
    // deviation of the observed information (clm's, not glm's).
    Fit("N12 N3 = 1 + DOSE", kGompertz);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(models::NumberOfParameters(), 2);
    EXPECT_NEAR(models::Parameter(1), 1.6758245157, 1.0E-6);
    EXPECT_NEAR(models::Parameter(2), -0.4116291423, 1.0E-6);
    EXPECT_NEAR(models::ParameterSD(2), 0.07463127518, 1.0E-6);
    EXPECT_NEAR(models::Deviance(), 141.347923, 1.0E-5);
}

TEST_F(McUnitFit, StopsLeaveThePreviousFit) {
    Fit("N1 N2 N3 = 1 + DOSE", kLogistic);
    ASSERT_TRUE(data::ErrorFree);
    double deviance = models::Deviance();
    // Starting values with the thresholds out of order stop the fit at its first evaluation.
    data::DeclareVariate("N4", 6);
    for (int u = 1; u <= 6; ++u) data::AssignValue("N4", u, 3);
    models::InitParameter(1, 3.0);
    models::InitParameter(3, -0.5);
    models::InitParameter(4, -1.0);
    Fit("N1 N2 N3 N4 = 1 + DOSE", kLogistic);
    EXPECT_FALSE(data::ErrorFree);
    EXPECT_EQ(data::ErrorMessage, "Threshold parameters have interchanged - collapse responses");
    EXPECT_EQ(data::ProcedureName, "McUnit.FitMcCullaghModel");
    EXPECT_DOUBLE_EQ(models::Deviance(), deviance);
    EXPECT_EQ(models::NumberOfParameters(), 3);

    Fit("N1 N2 N3 = DOSE", kNormal);
    EXPECT_EQ(data::ErrorMessage, "The model formula must have a constant term as its first term");
    EXPECT_DOUBLE_EQ(models::Deviance(), deviance);

    // Starting values that leave an observed category without probability are replaced.
    models::InitParameter(3, 2.0);
    Fit("N1 N2 N3 = 1 + DOSE", kLogistic);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Deviance(), 267.0033415, 1.0E-6);
}

TEST_F(McUnitFit, ResponseChecksInOrder) {
    auto error = [this](const std::string& model) {
        Fit(model, kLogistic);
        return data::ErrorFree ? std::string() : data::ErrorMessage;
    };
    EXPECT_EQ(error("N1 N2 1 + DOSE"), "Missing '=' in model specification");
    EXPECT_EQ(error(" , = 1 + DOSE"), "Missing response");
    data::DeclareVariate("Z", 6);
    EXPECT_EQ(error("N1 Z N3 = 1"), "Empty response category - collapse and try again");
    data::DeclareVariate("SHORT", 5);
    for (int u = 1; u <= 5; ++u) data::AssignValue("SHORT", u, 1);
    EXPECT_EQ(error("N1 SHORT = 1"), "Multinomial count variates of unequal lengths");
    data::AssignValue("Z", 2, data::MissingValue);
    EXPECT_EQ(error("N1 Z = 1"), "Variate Z has a missing value at unit 2");
    data::AssignValue("Z", 2, -1);
    EXPECT_EQ(error("N1 Z = 1"), "Z has a negative value at unit 2");
    data::AssignValue("Z", 2, 0);
    data::AssignValue("Z", 3, 4);
    data::AssignValue("N1", 5, 0);
    EXPECT_EQ(error("N1 Z = 1 + DOSE"), "Units without responses should be excluded");

    data::DeclareFactor("ONE", 6, 1);
    EXPECT_EQ(error("ONE = 1"), "The response factor must have at least 2 levels");
    data::DeclareFactor("Y", 6, 3);
    for (int u = 1; u <= 5; ++u) data::AssignLevel("Y", u, 1 + u % 3);
    EXPECT_EQ(error("Y = 1 + DOSE"), "The response factor has a level 0");
    data::AssignLevel("Y", 6, 2);
    data::DeclareFactor("Y4", 6, 4);
    for (int u = 1; u <= 6; ++u) data::AssignLevel("Y4", u, u <= 3 ? 1 : 4);
    EXPECT_EQ(error("Y4 = 1 + DOSE"), "Empty response category - collapse and try again");
    EXPECT_EQ(error("Y = 1 + DOSE"), "");
    EXPECT_EQ(error("DOSE = 1"), "DOSE is not a factor");
}

// A fit over more units than one slice of the kernel: the same estimates, standard deviations
// and -2 log likelihood, to the bit, with one thread or two.
TEST_F(McUnitFit, SameFitWithOneOrTwoThreads) {
    constexpr int32_t n = 70001;
    data::DeclareFactor("R", n, 4);
    data::DeclareVariate("X", n);
    for (int32_t u = 1; u <= n; ++u) {
        double x = static_cast<double>(u % 997) / 300 - 1.6;
        data::AssignValue("X", u, static_cast<float>(x));
        // Categories that follow X loosely.
        data::AssignLevel("R", u, 1 + static_cast<int>(x + 2.0 + (u % 7) / 3.5) % 4);
    }
    std::vector<double> results[2];
    for (int threads : {1, 2}) {
        models::detail::SetKernelThreads(threads);
        Fit("R = 1 + X", kLogistic);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        for (int k = 1; k <= models::NumberOfParameters(); ++k) {
            results[threads - 1].push_back(models::Parameter(k));
            results[threads - 1].push_back(models::ParameterSD(k));
        }
        results[threads - 1].push_back(models::Deviance());
    }
    models::detail::SetKernelThreads(0);
    ASSERT_EQ(results[0].size(), 9u);
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), 9 * sizeof(double)), 0);
}

// Counts that are not whole are written with two decimals, the fitted counts with three.
TEST_F(McUnitFit, TableWritesFractionalCountsWithTwoDecimals) {
    data::AssignValue("N1", 1, 17.5f);
    Output();
    Fit("N1 N2 N3 = 1 + DOSE", kLogistic);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::string out = Output();
    size_t line = out.find("\n     1 17.50 ");
    ASSERT_NE(line, std::string::npos) << out;
    std::string unit1 = out.substr(line + 1, out.find('\n', line + 1) - line - 1);
    // The unit, then the count and fitted count of each category, right-aligned in 6 and 7.
    ASSERT_EQ(unit1.size(), 6u + 3 * 13) << unit1;
    for (int j = 0; j < 3; ++j) {
        std::string fitted = unit1.substr(6 + 13 * j + 6, 7);
        EXPECT_EQ(fitted[0], ' ') << unit1;
        EXPECT_EQ(fitted[3], '.') << unit1;
    }
}

}  // namespace korw::special::test
