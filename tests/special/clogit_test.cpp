// Conditional logit and Rasch likelihoods: the symmetric functions against sums over subsets,
// the derivatives against finite differences, and fits against R (tests/reference/clogit.R).
#include <gtest/gtest.h>

#include <cmath>
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
#include "models/models.h"
#include "special/clogit.h"

namespace korw::special::test {

namespace {

using detail::Group;

// gamma_r as the sum over all subsets of r of the products of e^eta.
std::vector<long double> SubsetSums(const std::vector<double>& eta) {
    const size_t k = eta.size();
    std::vector<long double> gamma(k + 1, 0.0L);
    for (unsigned mask = 0; mask < (1u << k); ++mask) {
        long double product = 1;
        int r = 0;
        for (size_t i = 0; i < k; ++i)
            if (mask & (1u << i)) {
                product *= std::exp(static_cast<long double>(eta[i]));
                ++r;
            }
        gamma[r] += product;
    }
    return gamma;
}

// A random group of 2 to 5 units with 1 to 3 trials each and 1 .. N - 1 positive responses,
// its eta computed from random design rows and parameters.
Group RandomGroup(std::mt19937& random, int p, const std::vector<double>& beta) {
    std::uniform_int_distribution<int> units(2, 5), trials(1, 3);
    std::normal_distribution<double> normal;
    Group g;
    g.p = p;
    int n = units(random), total = 0;
    for (int i = 0; i < n; ++i) {
        g.trials.push_back(trials(random));
        total += static_cast<int>(g.trials.back());
        g.positives.push_back(0);
        for (int j = 0; j < p; ++j) g.x.push_back(normal(random));
    }
    int s = std::uniform_int_distribution<int>(1, total - 1)(random);
    for (int given = 0; given < s;) {
        int i = std::uniform_int_distribution<int>(0, n - 1)(random);
        if (g.positives[i] < g.trials[i]) ++g.positives[i], ++given;
    }
    g.eta.assign(n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < p; ++j) g.eta[i] += g.x[i * p + j] * beta[j];
    return g;
}

Group WithBeta(Group g, const std::vector<double>& beta) {
    for (size_t i = 0; i < g.eta.size(); ++i) {
        g.eta[i] = 0;
        for (int j = 0; j < g.p; ++j) g.eta[i] += g.x[i * g.p + j] * beta[j];
    }
    return g;
}

size_t Packed(int i, int j) {
    return static_cast<size_t>(i) * (i + 1) / 2 + j;
}

}  // namespace

TEST(ElementarySymmetric, MatchSumsOverSubsets) {
    std::mt19937 random(3);
    std::normal_distribution<double> normal(0, 2);
    for (int k = 1; k <= 9; ++k) {
        std::vector<double> eta(k);
        for (double& e : eta) e = normal(random);
        std::vector<long double> gamma = detail::ElementarySymmetric(eta);
        std::vector<long double> expected = SubsetSums(eta);
        ASSERT_EQ(gamma.size(), expected.size());
        for (int r = 0; r <= k; ++r)
            EXPECT_NEAR(static_cast<double>(gamma[r] / expected[r]), 1.0, 1e-15) << k << " " << r;
    }
}

// Every trial expanded to a unit of its own: the group's value is sum positives * eta less
// ln gamma_s over the expanded units, the sum over subsets taken without any order limit.
TEST(ClogitGroup, ValueMatchesExpandedTrialsWithTheOrderLimit) {
    std::mt19937 random(5);
    std::vector<double> beta = {0.7, -0.4};
    for (int round = 0; round < 40; ++round) {
        Group g = RandomGroup(random, 2, beta);
        std::vector<double> expanded;
        long double linear = 0;
        int s = 0;
        for (size_t i = 0; i < g.eta.size(); ++i) {
            for (int t = 0; t < g.trials[i]; ++t) expanded.push_back(g.eta[i]);
            linear += g.positives[i] * g.eta[i];
            s += static_cast<int>(g.positives[i]);
        }
        long double expected = linear - std::log(SubsetSums(expanded)[s]);
        EXPECT_NEAR(static_cast<double>(detail::GroupLogLikelihood(g, nullptr, nullptr)),
                    static_cast<double>(expected), 1e-12);
    }
}

TEST(ClogitGroup, DerivativesMatchFiniteDifferences) {
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    const int p = 3;
    const double h = 1e-5;
    for (int round = 0; round < 25; ++round) {
        std::vector<double> beta(p);
        for (double& b : beta) b = normal(random);
        Group g = RandomGroup(random, p, beta);
        std::vector<long double> gradient(p, 0.0L), hessian(Packed(p, 0), 0.0L);
        detail::GroupLogLikelihood(g, &gradient, &hessian);
        for (int j = 0; j < p; ++j) {
            std::vector<double> up = beta, down = beta;
            up[j] += h;
            down[j] -= h;
            double numeric = static_cast<double>(
                (detail::GroupLogLikelihood(WithBeta(g, up), nullptr, nullptr) -
                 detail::GroupLogLikelihood(WithBeta(g, down), nullptr, nullptr)) /
                (2 * h));
            EXPECT_NEAR(static_cast<double>(gradient[j]), numeric, 1e-7);
            std::vector<long double> gUp(p, 0.0L), gDown(p, 0.0L), unused(Packed(p, 0));
            detail::GroupLogLikelihood(WithBeta(g, up), &gUp, &unused);
            detail::GroupLogLikelihood(WithBeta(g, down), &gDown, &unused);
            for (int l = 0; l <= j; ++l)
                EXPECT_NEAR(static_cast<double>(hessian[Packed(j, l)]),
                            static_cast<double>((gUp[l] - gDown[l]) / (2 * h)), 1e-7);
        }
    }
}

// 255 positive responses among 300 units with eta near the limits: long double and centring
// keep gamma_s and its derivatives finite.
TEST(ClogitGroup, LargestGroupStaysFinite) {
    Group g;
    g.p = 1;
    for (int i = 0; i < 300; ++i) {
        g.x.push_back(i % 2 == 0 ? 29.9 : -29.9);
        g.eta.push_back(g.x.back());
        g.trials.push_back(1);
        g.positives.push_back(i < 255 ? 1 : 0);
    }
    std::vector<long double> gradient(1, 0.0L), hessian(1, 0.0L);
    long double value = detail::GroupLogLikelihood(g, &gradient, &hessian);
    EXPECT_TRUE(std::isfinite(value));
    EXPECT_TRUE(std::isfinite(gradient[0]));
    EXPECT_TRUE(std::isfinite(hessian[0]));
    EXPECT_LE(hessian[0], 0.0L);
}

namespace {

long double RaschByDefinition(const std::vector<double>& eta, const std::vector<double>& totals,
                              const std::vector<double>& sizes) {
    std::vector<long double> gamma = SubsetSums(eta);
    long double l = 0;
    for (size_t i = 0; i < eta.size(); ++i)
        if (totals[i] >= 0) l += totals[i] * eta[i];
    for (size_t r = 1; r <= eta.size(); ++r) l -= sizes[r - 1] * std::log(gamma[r]);
    return l;
}

}  // namespace

TEST(RaschLikelihood, ValueAndDerivativesMatchDefinitionAndDifferences) {
    std::mt19937 random(11);
    std::normal_distribution<double> normal(0, 1.5);
    std::uniform_int_distribution<int> count(0, 20);
    const double h = 1e-5;
    for (int k = 2; k <= 8; ++k) {
        std::vector<double> eta(k), totals(k), sizes(k);
        for (int i = 0; i < k; ++i) {
            eta[i] = normal(random);
            totals[i] = count(random);
            sizes[i] = count(random);
        }
        totals[0] = -1.0E-37;  // a missing total is left out of the first sum
        std::vector<long double> gradient, hessian;
        long double value = detail::RaschLogLikelihood(eta, totals, sizes, &gradient, &hessian);
        EXPECT_NEAR(static_cast<double>(value),
                    static_cast<double>(RaschByDefinition(eta, totals, sizes)), 1e-9);
        for (int i = 0; i < k; ++i) {
            std::vector<double> up = eta, down = eta;
            up[i] += h;
            down[i] -= h;
            std::vector<long double> gUp, gDown, unused;
            long double lUp = detail::RaschLogLikelihood(up, totals, sizes, &gUp, &unused);
            long double lDown = detail::RaschLogLikelihood(down, totals, sizes, &gDown, &unused);
            EXPECT_NEAR(static_cast<double>(gradient[i]),
                        static_cast<double>((lUp - lDown) / (2 * h)), 1e-6);
            for (int j = 0; j < k; ++j)
                EXPECT_NEAR(static_cast<double>(hessian[i * k + j]),
                            static_cast<double>((gUp[j] - gDown[j]) / (2 * h)), 1e-6)
                    << k << " " << i << " " << j;
        }
    }
}

TEST(RaschLikelihood, TwoHundredFiftyFiveItemsNearTheLimitStayFinite) {
    const int k = 255;
    std::vector<double> eta(k), totals(k, 10), sizes(k, 0);
    for (int i = 0; i < k; ++i) eta[i] = i % 2 == 0 ? 59.9 : -59.9;
    sizes[9] = 255;  // 255 persons with score 10
    std::vector<long double> gradient, hessian;
    long double value = detail::RaschLogLikelihood(eta, totals, sizes, &gradient, &hessian);
    EXPECT_TRUE(std::isfinite(value));
    for (long double g : gradient) EXPECT_TRUE(std::isfinite(g));
    for (long double x : hessian) EXPECT_TRUE(std::isfinite(x));
}

// ---- Fits in a library session ----

class ClogitFitTest : public models::test::SessionTest {
  protected:
    // Reads columns of a data file of tests/golden into new variates of `units` units.
    void ReadColumns(const std::string& file, const std::vector<std::string>& names, int units) {
        std::ifstream in(std::string(KORW_TEST_DIR) + "/golden/" + file);
        ASSERT_TRUE(in.good()) << file;
        for (const std::string& name : names) data::DeclareVariate(name, units);
        for (int u = 1; u <= units; ++u)
            for (const std::string& name : names) {
                double v;
                ASSERT_TRUE(in >> v) << file << " unit " << u;
                data::AssignValue(name, u, static_cast<float>(v));
            }
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }
};

// The data are held in single precision, R's in double: the results agree to about 1e-7.
TEST_F(ClogitFitTest, BinaryResponsesMatchSurvivalClogit) {
    ReadColumns("clogit.files/cl.dat", {"G", "GF", "Y", "X1", "X2"}, 109);
    FitConditionalLogitLinear("Y = X1 / G");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Deviance(), 72.70799281, 1e-6);
    EXPECT_NEAR(models::Parameter(1), 0.4994661947, 1e-6);
    EXPECT_NEAR(models::ParameterSD(1), 0.2297615538, 1e-6);
    std::string out = Output();
    EXPECT_EQ(out.substr(0, out.find("Convergence")),
              "CONDITIONAL LOGISTIC REGRESSION\n"
              "Conditioning by sums in groups defined by variate G\n"
              "Dependent binary variate Y.\n");
    // Excluding the three groups without information changes nothing.
    for (int u = 103; u <= 109; ++u) data::Exclude(u);
    FitConditionalLogitLinear("Y = X1 / G");
    EXPECT_NEAR(models::Deviance(), 72.70799281, 1e-6);
    EXPECT_NEAR(models::Parameter(1), 0.4994661947, 1e-6);
}

TEST_F(ClogitFitTest, BinomialTotalsMatchTheTrialsAsUnits) {
    ReadColumns("clogit.files/bin.dat", {"BG", "S", "N", "X"}, 36);
    data::DeclareVariate("P", 36);
    for (int u = 1; u <= 36; ++u)
        data::AssignValue("P", u, data::Value("S", u) / data::Value("N", u));
    FitConditionalLogitLinear("P / N = X / BG");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Deviance(), 82.98806734, 1e-6);
    EXPECT_NEAR(models::Parameter(1), 1.6834810077, 1e-6);
    EXPECT_NEAR(models::ParameterSD(1), 0.4682453353, 1e-6);
    EXPECT_NE(Output().find("Dependent relative frequency P, binomial totals N.\n"),
              std::string::npos);
}

// Enough informative groups for several of the kernel's slices: the fit is the same to the last
// bit on one thread and on two.
TEST_F(ClogitFitTest, ResultsDoNotDependOnTheNumberOfThreads) {
    const int groups = 70000, units = 2 * groups;
    for (const char* name : {"G", "Y", "X1", "X2"}) data::DeclareVariate(name, units);
    std::mt19937 random(5);
    std::normal_distribution<float> normal;
    bool firstIsCase = false;
    for (int u = 1; u <= units; ++u) {
        // One case in every pair: every group is informative.
        if (u % 2 == 1) firstIsCase = random() % 2 == 0;
        data::AssignValue("G", u, static_cast<float>((u + 1) / 2));
        data::AssignValue("X1", u, normal(random));
        data::AssignValue("X2", u, normal(random));
        data::AssignValue("Y", u, (u % 2 == 1) == firstIsCase ? 1.0f : 0.0f);
    }
    std::vector<double> results[2];
    for (int threads : {1, 2}) {
        models::detail::SetKernelThreads(threads);
        FitConditionalLogitLinear("Y = X1 + X2 / G");
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        results[threads - 1] = {models::Deviance(), models::Parameter(1), models::Parameter(2),
                                models::ParameterSD(1), models::ParameterCov(1, 2)};
    }
    models::detail::SetKernelThreads(0);
    for (size_t k = 0; k < results[0].size(); ++k) EXPECT_EQ(results[0][k], results[1][k]) << k;
}

// TESTMODELCHANGE compares fits conditioned on the same groups of the same units: grouping
// vectors that differ only at excluded units form the same groups, those that split a group
// do not.
TEST_F(ClogitFitTest, ModelChangeNeedsTheSameGroups) {
    const float y[] = {1, 0, 1, 0, 0, 1, 1, 0}, x[] = {2, 1, 3, 1, 1, 3, 2, 4};
    const float a[] = {1, 1, 2, 2, 3, 3, 4, 4}, b[] = {2, 2, 2, 2, 3, 3, 4, 4};
    const float c[] = {1, 1, 2, 2, 3, 3, 3, 3};
    data::DeclareVariate("Y X A B C", 8);
    for (int u = 1; u <= 8; ++u) {
        data::AssignValue("Y", u, y[u - 1]);
        data::AssignValue("X", u, x[u - 1]);
        data::AssignValue("A", u, a[u - 1]);
        data::AssignValue("B", u, b[u - 1]);
        data::AssignValue("C", u, c[u - 1]);
    }
    data::Exclude(1);
    data::Exclude(2);
    FitConditionalLogitLinear("Y = X / A");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    FitConditionalLogitLinear("Y = 1 / B");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    models::TestModelChange();
    EXPECT_TRUE(data::ErrorFree) << data::ErrorMessage;
    FitConditionalLogitLinear("Y = 1 / C");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    FitConditionalLogitLinear("Y = X / A");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    models::TestModelChange();
    EXPECT_EQ(data::ErrorMessage, "Latest two models fitted for different data sets");
}

TEST_F(ClogitFitTest, FailedChecksKeepThePreviousFit) {
    ReadColumns("clogit.files/cl.dat", {"G", "GF", "Y", "X1", "X2"}, 109);
    FitConditionalLogitLinear("Y = X1 / G");
    ASSERT_TRUE(data::ErrorFree);
    double deviance = models::Deviance();
    const std::pair<const char*, const char*> cases[] = {
        {"Y = X1", "Missing / in model specification"},
        {"Y X1 / G", "Missing = in model specification"},
        {"X1 = X2 / G", "Responses must be 0 or 1"},
        {"Y = X1 / X1", "Data must be sorted by X1"},
        {"X1 / Y = X2 / G", "Responses must be RELATIVE frequencies"},
    };
    for (const auto& [model, message] : cases) {
        FitConditionalLogitLinear(model);
        EXPECT_FALSE(data::ErrorFree) << model;
        EXPECT_EQ(data::ErrorMessage, message);
        EXPECT_EQ(models::Deviance(), deviance);
    }
    data::AssignValue("X1", 5, data::MissingValue);
    FitConditionalLogitLinear("Y = X1 + X2 / G");
    EXPECT_EQ(data::ErrorMessage, "Variate X1 has a missing value at unit 5");
    EXPECT_EQ(models::Deviance(), deviance);
}

TEST_F(ClogitFitTest, RaschMatchesConditionalMaximumLikelihood) {
    ReadColumns("clogit_rasch.files/rasch.dat", {"T", "N"}, 6);
    data::DeclareFactor("ITEM", 6, 6);
    for (int u = 1; u <= 6; ++u) data::AssignLevel("ITEM", u, u);
    FitConditionalRasch("T = ITEM / N");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(models::Deviance(), 524.3864469, 1e-6);
    const double estimate[] = {2.64721607464, 2.11659808873, 1.50531000057, 0.97187992245,
                               0.04184381783};
    const double sd[] = {0.3063350831, 0.2915612288, 0.2824583004, 0.2804801807, 0.2893063126};
    for (int k = 1; k <= 5; ++k) {
        EXPECT_NEAR(models::Parameter(k), estimate[k - 1], 1e-5);
        EXPECT_NEAR(models::ParameterSD(k), sd[k - 1], 1e-6);
    }
    EXPECT_EQ(models::ParameterSD(6), 0.0);  // the last item is the reference
}

TEST_F(ClogitFitTest, RaschChecksInOrder) {
    data::DeclareVariate("T N", 3);
    data::DeclareVariate("D", 3);
    data::DeclareVariate("N4", 4);
    const float t[] = {5, 3, 0}, n[] = {2, 3, 0};
    for (int u = 1; u <= 3; ++u) {
        data::AssignValue("T", u, t[u - 1]);
        data::AssignValue("N", u, n[u - 1]);
        data::AssignValue("D", u, static_cast<float>(u));
    }
    const std::pair<const char*, const char*> cases[] = {
        {"T D / N", "Missing = in model specification"},
        {"T = D", "Missing / in model specification"},
        {"T = D / N4", "incompatible lengths of T and N4"},
        {"T = D / T", "Sum of item totals does not match score group sizes."},
    };
    for (const auto& [model, message] : cases) {
        FitConditionalRasch(model);
        EXPECT_FALSE(data::ErrorFree) << model;
        EXPECT_EQ(data::ErrorMessage, message);
    }
    data::DeclareVariate("T256 N256", 256);
    FitConditionalRasch("T256 = 1 / N256");
    EXPECT_EQ(data::ErrorMessage, "Too many items");
    Output();
    // Item 3 is never solved: its eta runs off until the overflow stop ends the fit, which
    // stands with the estimates of its last step.
    data::AssignValue("D", 3, 10);
    FitConditionalRasch("T = D / N");
    EXPECT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::string out = Output();
    EXPECT_NE(out.find("Item totals T.\nNumerical overflow - estimates on boundary ?\n"
                       "Convergence after "),
              std::string::npos)
        << out;
    EXPECT_LE(models::Parameter(1) * 10, -60);
}

}  // namespace korw::special::test
