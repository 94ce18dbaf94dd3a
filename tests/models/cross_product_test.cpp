// The blocked cross-product kernel against unit-by-unit sums over the design rows, and the
// fits on it giving the same bits whatever the number of threads.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/restrict.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models_test.h"

namespace korw::models::test {

namespace {

using namespace detail;

// Several slices and a last block that is not full.
constexpr int kUnits = 200003;

class CrossProductTest : public SessionTest {
  protected:
    void TearDown() override {
        SetKernelThreads(0);
        SessionTest::TearDown();
    }

    // Y (binary), C (counts), A (5 levels, some units at level 0), B (3 levels), X and V.
    void DeclareData() {
        data::DeclareVariate("Y C X V", kUnits);
        data::DeclareFactor("A", kUnits, 5);
        data::DeclareFactor("B", kUnits, 3);
        std::mt19937 random(5);
        std::normal_distribution<float> normal;
        float* y = data::VariatePointer("Y");
        float* c = data::VariatePointer("C");
        float* x = data::VariatePointer("X");
        float* v = data::VariatePointer("V");
        uint8_t* a = data::FactorPointer("A");
        uint8_t* b = data::FactorPointer("B");
        for (int u = 1; u <= kUnits; ++u) {
            a[u] = static_cast<uint8_t>(random() % 6);
            b[u] = static_cast<uint8_t>(1 + random() % 3);
            x[u] = normal(random);
            v[u] = u % 7 == 0 ? 0.0f : normal(random);
            double eta = 0.3 * x[u] - 0.2 * b[u] + 0.1 * a[u];
            y[u] = random() % 1000 < 1000 / (1 + std::exp(-eta)) ? 1.0f : 0.0f;
            c[u] = static_cast<float>(random() % 5);
        }
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }

    // The terms of `formula` in the fit record.
    void SetTerms(std::string formula) {
        ParseFormula(formula);
        BuildColumns(formula, kUnits);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }
};

double WeightAt(size_t i) {
    return 0.5 + static_cast<double>(i % 13) / 7;
}

TEST_F(CrossProductTest, KernelMatchesUnitByUnitSums) {
    DeclareData();
    SetTerms("1 + A + X + A*X + A*B + X*V + B*V");
    int p = static_cast<int>(Fit().columns.size());
    Design design;
    ASSERT_TRUE(MakeDesign(Fit().terms, design));
    EXPECT_EQ(design.columns, p);
    // Every third unit, then every unit.
    std::vector<int32_t> list;
    for (int32_t u = 1; u <= kUnits; u += 3) list.push_back(u);
    for (UnitList units : {UnitList{&list, list.size()}, UnitList{nullptr, kUnits}}) {
        auto unitAt = [&](size_t i) { return units.list ? list[i] : static_cast<int32_t>(i + 1); };
        std::vector<double> m(Packed(p + 1, 0), 0.0), expected(m.size(), 0.0);
        AccumulateCrossProducts(
            design, units,
            [](size_t begin, size_t count, double* d, double* s) {
                for (size_t i = 0; i < count; ++i) {
                    d[i] = WeightAt(begin + i);
                    s[i] = 1 - WeightAt(begin + i);
                }
            },
            1, m);
        std::vector<double> beta(p), eta(units.count), expectedEta(units.count);
        for (int k = 0; k < p; ++k) beta[k] = 0.1 * (k % 5) - 0.2;
        std::vector<float> offset(kUnits + 1, 0.25f);
        LinearPredictor(design, units, beta, offset.data(), eta);
        std::vector<TermValue> row;
        bool missing = false;
        for (size_t i = 0; i < units.count; ++i) {
            ASSERT_TRUE(DesignRow(unitAt(i), row, missing));
            double w = WeightAt(i);
            double e = 0.25;
            for (size_t a = 0; a < row.size(); ++a) {
                for (size_t b = 0; b <= a; ++b)
                    expected[Packed(row[a].column, row[b].column)] +=
                        w * row[a].value * row[b].value;
                expected[Packed(p, row[a].column)] += (1 - w) * row[a].value;
                e += beta[row[a].column] * row[a].value;
            }
            expectedEta[i] = e;
        }
        double largest = 0;
        for (double x : expected) largest = std::max(largest, std::fabs(x));
        for (size_t k = 0; k < m.size(); ++k)
            ASSERT_NEAR(m[k], expected[k], 1e-12 * largest) << "element " << k;
        // Each unit sums its terms in term order, as the unit-by-unit row does.
        EXPECT_EQ(eta, expectedEta);
    }
}

TEST_F(CrossProductTest, FitsGiveTheSameBitsWithOneOrTwoThreads) {
    DeclareData();
    data::Exclude(17);
    struct Result {
        std::vector<double> estimates, sds, matrix;
        double deviance, residualSS;
    };
    auto run = [&](void (*fit)(const std::string&), const std::string& model, int threads) {
        SetKernelThreads(threads);
        Output();
        fit(model);
        EXPECT_TRUE(data::ErrorFree) << model << ": " << data::ErrorMessage;
        return Result{Fit().estimates, Fit().sds, Fit().matrix, Fit().deviance, Fit().residualSS};
    };
    auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 8) == 0;
    };
    const std::pair<void (*)(const std::string&), std::string> fits[] = {
        {FitLogitLinear, "Y = 1 + A + X + B*V"},
        {FitLogLinear, "C = 1 + A*B + X"},
        {FitLinearNormal, "X = 1 + A + B + A*B + V + A*V"},
        {FitLinearNormal, "X = 1 + A + V / C"}};
    for (const auto& [fit, model] : fits) {
        Result one = run(fit, model, 1);
        Result two = run(fit, model, 2);
        Result again = run(fit, model, 2);
        for (const Result* r : {&two, &again}) {
            EXPECT_TRUE(same(one.estimates, r->estimates)) << model;
            EXPECT_TRUE(same(one.sds, r->sds)) << model;
            EXPECT_TRUE(same(one.matrix, r->matrix)) << model;
            EXPECT_EQ(std::memcmp(&one.deviance, &r->deviance, 8), 0) << model;
            EXPECT_EQ(std::memcmp(&one.residualSS, &r->residualSS, 8), 0) << model;
        }
    }
}

// The one-pass form of an iteration gives the bits of the separate passes: eta as
// LinearPredictor forms it, the sums as SumsInSlices adds them, X'DX as the kernel adds it.
TEST_F(CrossProductTest, OnePassEqualsTheSeparatePasses) {
    DeclareData();
    SetTerms("1 + A + X + A*X + B*V");
    int p = static_cast<int>(Fit().columns.size());
    Design design;
    ASSERT_TRUE(MakeDesign(Fit().terms, design));
    std::vector<int32_t> list;
    for (int32_t u = 2; u <= kUnits; u += 2) list.push_back(u);
    std::vector<double> beta(p);
    for (int k = 0; k < p; ++k) beta[k] = 0.05 * (k % 7) - 0.1;
    const float* offset = data::VariatePointer("C");
    for (int threads : {1, 2}) {
        SetKernelThreads(threads);
        for (UnitList units : {UnitList{&list, list.size()}, UnitList{nullptr, kUnits}}) {
            std::vector<double> eta(units.count);
            LinearPredictor(design, units, beta, offset, eta);
            double expectedSums[2];
            SumsInSlices(
                units.count, 2,
                [&](size_t begin, size_t end, double* out) {
                    out[0] = out[1] = 0;
                    for (size_t i = begin; i < end; ++i) {
                        out[0] += std::exp(-std::fabs(eta[i]));
                        out[1] += eta[i] * WeightAt(i);
                    }
                },
                expectedSums);
            auto weights = [&](const double* e, size_t begin, size_t count, double* d, double* s) {
                for (size_t i = 0; i < count; ++i) {
                    d[i] = WeightAt(begin + i) / (1 + e[i] * e[i]);
                    s[i] = e[i];
                }
            };
            std::vector<double> expected(Packed(p + 1, 0), 0.0);
            AccumulateCrossProducts(
                design, units,
                [&](size_t begin, size_t count, double* d, double* s) {
                    weights(&eta[begin], begin, count, d, s);
                },
                1, expected);
            std::vector<double> m(expected.size(), 0.0), seen(units.count);
            double sums[2];
            PassAt(
                design, units, beta, offset,
                [&](size_t begin, size_t count, const double* e, double* d, double* s,
                    double* out) {
                    for (size_t i = 0; i < count; ++i) {
                        seen[begin + i] = e[i];
                        out[0] += std::exp(-std::fabs(e[i]));
                        out[1] += e[i] * WeightAt(begin + i);
                    }
                    if (d != nullptr) weights(e, begin, count, d, s);
                },
                2, sums, 1, &m);
            EXPECT_EQ(seen, eta);
            EXPECT_EQ(std::memcmp(sums, expectedSums, sizeof sums), 0);
            EXPECT_EQ(std::memcmp(m.data(), expected.data(), m.size() * 8), 0);
            // Without a matrix the pass gives the sums alone.
            double alone[2];
            PassAt(
                design, units, beta, offset,
                [&](size_t begin, size_t count, const double* e, double* d, double*, double* out) {
                    EXPECT_EQ(d, nullptr);
                    for (size_t i = 0; i < count; ++i) {
                        out[0] += std::exp(-std::fabs(e[i]));
                        out[1] += e[i] * WeightAt(begin + i);
                    }
                },
                2, alone, 1, nullptr);
            EXPECT_EQ(std::memcmp(alone, expectedSums, sizeof alone), 0);
        }
    }
}

// A fit of the present units of a restricted table (units listed) and the same fit on a table
// holding only those units (every unit taking part, no list) are the same computation.
TEST_F(CrossProductTest, RestrictedFitEqualsTheFitOfItsUnits) {
    DeclareData();
    std::vector<int32_t> kept;
    for (int32_t u = 1; u <= kUnits; ++u) {
        if (u % 3 == 1)
            data::Exclude(u);
        else
            kept.push_back(u);
    }
    int32_t n = static_cast<int32_t>(kept.size());
    data::DeclareVariate("Y2 C2 X2", n);
    data::DeclareFactor("A2", n, 5);
    for (int32_t i = 0; i < n; ++i) {
        data::VariatePointer("Y2")[i + 1] = data::VariatePointer("Y")[kept[i]];
        data::VariatePointer("C2")[i + 1] = data::VariatePointer("C")[kept[i]];
        data::VariatePointer("X2")[i + 1] = data::VariatePointer("X")[kept[i]];
        data::FactorPointer("A2")[i + 1] = data::FactorPointer("A")[kept[i]];
    }
    const std::pair<void (*)(const std::string&), std::string> fits[][2] = {
        {{FitLogitLinear, "Y = 1 + A + X"}, {FitLogitLinear, "Y2 = 1 + A2 + X2"}},
        {{FitLogLinear, "C = 1 + A*X"}, {FitLogLinear, "C2 = 1 + A2*X2"}}};
    for (const auto& pair : fits) {
        pair[0].first(pair[0].second);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        std::vector<double> estimates = Fit().estimates, sds = Fit().sds;
        double deviance = Fit().deviance;
        EXPECT_EQ(Fit().observations, n);
        data::IncludeAll();
        pair[1].first(pair[1].second);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        EXPECT_EQ(Fit().estimates, estimates) << pair[0].second;
        EXPECT_EQ(Fit().sds, sds) << pair[0].second;
        EXPECT_EQ(Fit().deviance, deviance) << pair[0].second;
        for (int32_t u = 1; u <= kUnits; u += 3) data::Exclude(u);
    }
}

// Missing values are found run by run: the first present one is named, wherever it falls
// relative to the runs, and an excluded unit's missing value does not count.
TEST_F(CrossProductTest, FirstMissingValueIsFoundAcrossRuns) {
    DeclareData();
    float* x = data::VariatePointer("X");
    float* y = data::VariatePointer("Y");
    x[4096] = x[4097] = x[kUnits] = data::MissingValue;
    data::Exclude(4096);
    FitLogitLinear("Y = 1 + X");
    EXPECT_EQ(data::ErrorMessage, "Variate X has a missing value at unit 4097");
    data::IncludeAll();
    x[4096] = x[4097] = 0;
    FitLogitLinear("Y = 1 + X");
    EXPECT_EQ(data::ErrorMessage,
              "Variate X has a missing value at unit " + std::to_string(kUnits));
    x[kUnits] = 0;
    y[8193] = 0.5f;
    FitLogitLinear("Y = 1 + X");
    EXPECT_EQ(data::ErrorMessage, "Binary response Y out of range at unit 8193");
    y[8192] = data::MissingValue;
    FitLogitLinear("Y = 1 + X");
    EXPECT_EQ(data::ErrorMessage, "Variate Y has a missing value at unit 8192");
    y[8192] = 1;
    y[8193] = 0;
    FitLogitLinear("Y = 1 + X");
    EXPECT_TRUE(data::ErrorFree) << data::ErrorMessage;
}

TEST_F(CrossProductTest, DeletedVectorIsReported) {
    DeclareData();
    SetTerms("1 + A + X");
    std::vector<Term> terms = Fit().terms;
    data::Delete("X");
    Design design;
    EXPECT_FALSE(MakeDesign(terms, design));
    EXPECT_EQ(data::ErrorMessage, "A vector in the model formula has been deleted");
}

}  // namespace

}  // namespace korw::models::test
