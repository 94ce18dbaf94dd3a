// The risk-set sums of the Cox partial likelihood against a brute-force sum over all units,
// and its analytic derivatives against finite differences, on random data with tied times,
// delayed entry and strata.
#include "special/cox.h"

#include <gtest/gtest.h>

#include "models/cross_product.h"

#include <cmath>
#include <random>

namespace korw::special::cox {
namespace {

// n units with integer times (so many ties), about a quarter censored, entry times before
// the exit times when `truncated`, `strata` strata and a sparse design of `p` columns: two
// variates and one-of-k indicator columns for the rest.
struct Sample {
    Units units;
    SparseDesign x;
};

Sample MakeSample(int n, bool truncated, int strata, int p, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> time(1, 12), stratum(1, strata), level(2, p - 1);
    std::normal_distribution<double> normal;
    Sample s;
    s.units.leftTruncated = truncated;
    s.x.columns = p;
    for (int i = 0; i < n; ++i) {
        double exit = time(random);
        s.units.exit.push_back(exit);
        s.units.death.push_back(random() % 4 != 0);
        s.units.stratum.push_back(stratum(random));
        if (truncated) s.units.entry.push_back(std::floor(exit * (random() % 100) / 100.0) - 0.5);
        s.x.column.push_back(0);
        s.x.value.push_back(normal(random));
        s.x.column.push_back(1);
        s.x.value.push_back(normal(random) + 2);
        if (p > 2) {
            s.x.column.push_back(level(random));
            s.x.value.push_back(1.0);
        }
        s.x.start.push_back(static_cast<int32_t>(s.x.column.size()));
    }
    return s;
}

bool AtRisk(const Units& u, int i, double t, int stratum) {
    return u.stratum[i] == stratum && u.exit[i] >= t && (!u.leftTruncated || u.entry[i] < t);
}

// The log-likelihood by its definition: every death against all units at risk at its time.
double BruteForceLogLikelihood(const Units& u, const std::vector<double>& eta) {
    double sum = 0;
    for (size_t d = 0; d < eta.size(); ++d) {
        if (!u.death[d]) continue;
        double r = 0;
        for (size_t i = 0; i < eta.size(); ++i)
            if (AtRisk(u, static_cast<int>(i), u.exit[d], u.stratum[d])) r += std::exp(eta[i]);
        sum += eta[d] - std::log(r);
    }
    return sum;
}

TEST(CoxRiskSets, SumsMatchTheRiskSetsOfTheirDefinition) {
    for (bool truncated : {false, true}) {
        for (int strata : {1, 3}) {
            Sample s = MakeSample(300, truncated, strata, 6, 7 + strata);
            RiskSetPlan plan = PlanRiskSets(s.units);
            std::vector<double> r(300);
            std::mt19937 random(3);
            for (double& v : r) v = std::exp(std::normal_distribution<double>()(random));
            std::vector<double> sums = RiskSetSums(s.units, plan, r);
            ASSERT_EQ(sums.size(), plan.times.size());
            int32_t deaths = 0;
            for (size_t t = 0; t < plan.times.size(); ++t) {
                const DeathTime& time = plan.times[t];
                int stratum = s.units.stratum[plan.deaths[time.firstDeath]];
                double expected = 0;
                for (int i = 0; i < 300; ++i)
                    if (AtRisk(s.units, i, time.time, stratum)) expected += r[i];
                EXPECT_NEAR(sums[t], expected, 1e-12 * expected) << truncated << strata << t;
                // Every tied death of the time is listed with it, in its stratum.
                for (int32_t k = 0; k < time.deaths; ++k) {
                    int32_t i = plan.deaths[time.firstDeath + k];
                    EXPECT_EQ(s.units.exit[i], time.time);
                    EXPECT_EQ(s.units.stratum[i], stratum);
                    EXPECT_TRUE(s.units.death[i]);
                }
                deaths += time.deaths;
            }
            int32_t all = 0;
            for (uint8_t d : s.units.death) all += d;
            EXPECT_EQ(deaths, all);
        }
    }
}

TEST(CoxRiskSets, AUnitIsAtRiskAfterItsEntryUpToItsExit) {
    // Deaths at 2, 4 and 6; unit 3 enters at 4 (not at risk at 4) and leaves at 6.
    Units u;
    u.exit = {2, 4, 6, 6};
    u.entry = {0, 0, 0, 4};
    u.death = {1, 1, 1, 0};
    u.stratum = {0, 0, 0, 0};
    u.leftTruncated = true;
    RiskSetPlan plan = PlanRiskSets(u);
    std::vector<double> sums = RiskSetSums(u, plan, {1, 10, 100, 1000});
    ASSERT_EQ(sums.size(), 3u);
    EXPECT_EQ(sums[0], 1100);  // time 6
    EXPECT_EQ(sums[1], 110);   // time 4: unit 3 entered at 4 exactly
    EXPECT_EQ(sums[2], 111);   // time 2
}

TEST(CoxLikelihood, MatchesTheBruteForceSumAndIsInvariantToAShiftPerStratum) {
    for (bool truncated : {false, true}) {
        Sample s = MakeSample(200, truncated, 2, 5, 21);
        RiskSetPlan plan = PlanRiskSets(s.units);
        std::vector<double> eta = LinearPredictor(s.x, {0.3, -0.2, 0.5, -1.0, 0.1});
        double expected = BruteForceLogLikelihood(s.units, eta);
        EXPECT_NEAR(PartialLogLikelihood(s.units, plan, eta), expected, 1e-9 * std::fabs(expected));
        // A predictor far beyond exp's range in one stratum does not overflow.
        for (size_t i = 0; i < eta.size(); ++i)
            if (s.units.stratum[i] == 1) eta[i] += 1000;
        EXPECT_NEAR(PartialLogLikelihood(s.units, plan, eta), expected, 1e-9 * std::fabs(expected));
    }
}

TEST(CoxLikelihood, DerivativesMatchFiniteDifferences) {
    const double h = 1e-5;
    for (bool truncated : {false, true}) {
        for (int strata : {1, 2}) {
            Sample s = MakeSample(150, truncated, strata, 5, 40 + strata);
            RiskSetPlan plan = PlanRiskSets(s.units);
            std::vector<double> beta{0.4, -0.3, 0.2, -0.6, 0.8};
            Derivatives d;
            PartialDerivatives(s.units, plan, s.x, LinearPredictor(s.x, beta), d);
            auto value = [&](const std::vector<double>& b) {
                return PartialLogLikelihood(s.units, plan, LinearPredictor(s.x, b));
            };
            auto first = [&](const std::vector<double>& b, int i) {
                Derivatives e;
                PartialDerivatives(s.units, plan, s.x, LinearPredictor(s.x, b), e);
                return e.first[i];
            };
            for (int i = 0; i < 5; ++i) {
                std::vector<double> up = beta, down = beta;
                up[i] += h;
                down[i] -= h;
                EXPECT_NEAR(d.first[i], (value(up) - value(down)) / (2 * h), 1e-5)
                    << truncated << strata << i;
                for (int j = 0; j < 5; ++j) {
                    double numeric = (first(up, j) - first(down, j)) / (2 * h);
                    EXPECT_NEAR(d.second[i * 5 + j], numeric, 1e-5) << i << j;
                    EXPECT_EQ(d.second[i * 5 + j], d.second[j * 5 + i]);
                }
            }
        }
    }
}

TEST(CoxLikelihood, DerivativesStayAccurateWhenRiskSetsDifferByManyOrders) {
    // Six deaths, the covariate ordering them perfectly: the risk sets shrink from exp(0) to
    // exp(-5 beta) of the first one as beta grows, and the information tends to 0 from above.
    Units u;
    u.exit = {1, 2, 3, 4, 5, 6};
    u.death = {1, 1, 1, 1, 1, 1};
    u.stratum = {0, 0, 0, 0, 0, 0};
    SparseDesign x;
    x.columns = 1;
    for (int i = 0; i < 6; ++i) {
        x.column.push_back(0);
        x.value.push_back(-(i + 1));
        x.start.push_back(i + 1);
    }
    RiskSetPlan plan = PlanRiskSets(u);
    for (double beta : {10.0, 15.0, 20.0}) {
        Derivatives d;
        PartialDerivatives(u, plan, x, LinearPredictor(x, {beta}), d);
        // L = -sum over deaths of ln(1 + e^-beta + ... ) ~ -5 e^-beta: L' ~ -L and L'' ~ L.
        double l = PartialLogLikelihood(u, plan, LinearPredictor(x, {beta}));
        EXPECT_GT(d.first[0], 0) << beta;
        EXPECT_LT(d.second[0], 0) << beta;
        EXPECT_NEAR(d.first[0] / -l, 1, 1e-3) << beta;
        EXPECT_NEAR(d.second[0] / l, 1, 1e-3) << beta;
    }
}

TEST(CoxLikelihood, DerivativesDoNotDependOnTheNumberOfThreads) {
    // More units than one of the kernel's slices holds, so that the sums of products are shared
    // out; the result must be the same bits on one thread and on two.
    Sample s = MakeSample(150000, true, 3, 6, 77);
    RiskSetPlan plan = PlanRiskSets(s.units);
    std::vector<double> eta = LinearPredictor(s.x, {0.3, -0.2, 0.1, 0.4, -0.5, 0.2});
    Derivatives one, two;
    models::detail::SetKernelThreads(1);
    PartialDerivatives(s.units, plan, s.x, eta, one);
    models::detail::SetKernelThreads(2);
    PartialDerivatives(s.units, plan, s.x, eta, two);
    models::detail::SetKernelThreads(0);
    EXPECT_EQ(one.first, two.first);
    EXPECT_EQ(one.second, two.second);
}

TEST(CoxIntensity, AccumulatesOneOverTheRiskSetSumPerDeathUpToEachExitTime) {
    Sample s = MakeSample(120, true, 2, 4, 5);
    RiskSetPlan plan = PlanRiskSets(s.units);
    std::vector<double> eta = LinearPredictor(s.x, {0.2, -0.1, 0.3, 0.0});
    Intensity result;
    IntegratedIntensity(s.units, plan, s.x, eta, true, result);
    for (int u = 0; u < 120; ++u) {
        double value = 0, variance = 0;
        std::vector<double> h(4, 0.0);
        for (int d = 0; d < 120; ++d) {
            if (!s.units.death[d] || s.units.stratum[d] != s.units.stratum[u] ||
                s.units.exit[d] > s.units.exit[u])
                continue;
            double r = 0;
            std::vector<double> s1(4, 0.0);
            for (int i = 0; i < 120; ++i) {
                if (!AtRisk(s.units, i, s.units.exit[d], s.units.stratum[d])) continue;
                r += std::exp(eta[i]);
                for (int32_t k = s.x.start[i]; k < s.x.start[i + 1]; ++k)
                    s1[s.x.column[k]] += std::exp(eta[i]) * s.x.value[k];
            }
            value += 1 / r;
            variance += 1 / (r * r);
            for (int k = 0; k < 4; ++k) h[k] += s1[k] / (r * r);
        }
        EXPECT_NEAR(result.value[u], value, 1e-12 * (1 + value)) << u;
        EXPECT_NEAR(result.variance[u], variance, 1e-12 * (1 + variance)) << u;
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(result.h[u * 4 + k], h[k], 1e-12 * (1 + std::fabs(h[k])));
    }
}

}  // namespace
}  // namespace korw::special::cox
