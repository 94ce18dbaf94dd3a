// The mixed-model analysis of variance: how terms relate (coarser, minimum, orthogonality),
// the Moebius coefficients of the variance components, and the classes of a minimum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../models/models_test.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "models/models.h"
#include "special/anova.h"
#include "special/anova_terms.h"

namespace korw::special::test {

namespace {

using anova::PairRelation;
using anova::Term;

class AnovaTest : public models::test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        InstallAnovaHooks();
    }

    // A split-plot layout: 4 blocks of 3 plots of 4 subplots; W is the whole-plot treatment,
    // S the subplot treatment, PB the plots numbered across blocks.
    void SplitPlot() {
        std::vector<int> b, p, w, s, pb;
        for (int block = 1; block <= 4; ++block)
            for (int plot = 1; plot <= 3; ++plot)
                for (int sub = 1; sub <= 4; ++sub) {
                    b.push_back(block);
                    p.push_back(plot);
                    w.push_back((plot + block) % 3 + 1);
                    s.push_back(sub);
                    pb.push_back((block - 1) * 3 + plot);
                }
        Factor("B", 4, b);
        Factor("P", 3, p);
        Factor("W", 3, w);
        Factor("S", 4, s);
        Factor("PB", 12, pb);
    }

    Term Parsed(const std::string& text, int32_t n) {
        Term term;
        EXPECT_TRUE(anova::ParseTerm(text, term) && anova::CheckTermFactors(term, n))
            << text << ": " << data::ErrorMessage;
        anova::CountLevels(term, nullptr, n);
        return term;
    }

    PairRelation Relation(const std::string& a, const std::string& b, int32_t n) {
        Term ta = Parsed(a, n), tb = Parsed(b, n);
        return anova::Relate(ta, tb, n);
    }
};

}  // namespace

TEST_F(AnovaTest, CoarserThanAndMinimumOfTwoTerms) {
    SplitPlot();
    // Nested: every plot lies within one block, and the minimum is the block.
    PairRelation r = Relation("B", "B*P", 48);
    EXPECT_TRUE(r.aCoarser);
    EXPECT_FALSE(r.bCoarser);
    EXPECT_EQ(r.minimumLevels, 4);
    EXPECT_TRUE(r.orthogonal);
    // Crossed treatments: everything is linked; the counts are proportional.
    r = Relation("W", "S", 48);
    EXPECT_FALSE(r.aCoarser || r.bCoarser);
    EXPECT_EQ(r.minimumLevels, 1);
    EXPECT_TRUE(r.orthogonal);
    // The whole-plot treatment is constant on each plot.
    r = Relation("W", "B*P", 48);
    EXPECT_TRUE(r.aCoarser);
    // Interaction and plots meet in the whole-plot treatment: three classes, one per level.
    r = Relation("W*S", "B*P", 48);
    EXPECT_FALSE(r.aCoarser || r.bCoarser);
    EXPECT_EQ(r.minimumLevels, 3);
    EXPECT_TRUE(r.orthogonal);
    for (int l = 0; l < 12; ++l) EXPECT_EQ(r.aClass[l], r.aClass[l / 4 * 4]) << l;
    // Plots numbered across blocks are the same partition as B*P: each is coarser than the other.
    r = Relation("PB", "P*B", 48);
    EXPECT_TRUE(r.aCoarser && r.bCoarser);
    EXPECT_EQ(r.minimumLevels, 12);
    // The constant is coarser than anything.
    r = Relation("1", "W*S", 48);
    EXPECT_TRUE(r.aCoarser);
    EXPECT_EQ(r.minimumLevels, 1);
}

TEST_F(AnovaTest, NonOrthogonalAndUnlinkedPairs) {
    // Counts 2,1 / 1,2 in one class: linked but not proportional.
    Factor("A", 2, {1, 1, 1, 2, 2, 2});
    Factor("C", 2, {1, 1, 2, 1, 2, 2});
    PairRelation r = Relation("A", "C", 6);
    EXPECT_EQ(r.minimumLevels, 1);
    EXPECT_FALSE(r.orthogonal);
    // Two separate groups: A = 1 meets only D = 1 and 2, A = 2 only D = 3; within each group
    // the counts are proportional.
    Factor("D", 3, {1, 2, 1, 3, 3, 3});
    r = Relation("A", "D", 6);
    EXPECT_EQ(r.minimumLevels, 2);
    EXPECT_TRUE(r.orthogonal);
    EXPECT_TRUE(r.aCoarser);
}

TEST_F(AnovaTest, MoebiusCoefficientsOfNestedRandomTerms) {
    // Blocks > plots > units: sigma2_B = (4/48)(MS_B - MS_P), sigma2_P = (12/48)(MS_P - MS_U),
    // sigma2_U = MS_U.
    std::vector<std::vector<bool>> coarser = {
        {false, true, true}, {false, false, true}, {false, false, false}};
    auto c = anova::ComponentCoefficients(coarser, {4, 12, 48}, 48);
    std::vector<std::vector<double>> expected = {
        {4.0 / 48, -4.0 / 48, 0}, {0, 12.0 / 48, -12.0 / 48}, {0, 0, 1}};
    for (int f = 0; f < 3; ++f)
        for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(c[f][k], expected[f][k]) << f << k;

    // A with two crossed terms inside it, A*B and A*C (2 x 3 x 4 = 24 units, one each):
    // mu(A, UNITS) = -(1 - 1 - 1) = 1, so the units come back in with a plus sign.
    coarser = {{false, true, true, true},
               {false, false, false, true},
               {false, false, false, true},
               {false, false, false, false}};
    c = anova::ComponentCoefficients(coarser, {2, 6, 8, 24}, 24);
    EXPECT_DOUBLE_EQ(c[0][0], 2.0 / 24);
    EXPECT_DOUBLE_EQ(c[0][1], -2.0 / 24);
    EXPECT_DOUBLE_EQ(c[0][2], -2.0 / 24);
    EXPECT_DOUBLE_EQ(c[0][3], 2.0 / 24);
    EXPECT_DOUBLE_EQ(c[1][3], -6.0 / 24);
    EXPECT_DOUBLE_EQ(c[2][2], 8.0 / 24);
}

TEST_F(AnovaTest, MinimumLinksUnitsThroughChains) {
    // A joins units 1-2 and 3-4, B joins 2-3: one class of four; unit 5 and 6 stand apart.
    Factor("A", 4, {1, 1, 2, 2, 3, 4});
    Factor("B", 5, {1, 2, 2, 3, 4, 5});
    ConstructMinimum("M", "A", "B");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::vector<int> levels;
    for (int u = 1; u <= 6; ++u) levels.push_back(data::Level("M", u));
    EXPECT_EQ(levels, (std::vector<int>{1, 1, 1, 1, 2, 3}));
    EXPECT_EQ(data::NumberOfLevels("M"), 3);
    // The minimum with itself renumbers the levels in order of first appearance.
    Factor("R", 9, {9, 9, 2, 5, 2, 5});
    ConstructMinimum("N", "R", "R");
    levels.clear();
    for (int u = 1; u <= 6; ++u) levels.push_back(data::Level("N", u));
    EXPECT_EQ(levels, (std::vector<int>{1, 1, 2, 3, 2, 3}));
    // A refused minimum declares nothing.
    ConstructMinimum("Q", "A", "1*B");
    EXPECT_EQ(data::ErrorMessage, "Constant as factor in term 1*B");
    EXPECT_EQ(data::FindVector("Q"), 0);
}

TEST_F(AnovaTest, DeletingAVectorOfTheFitDiscardsIt) {
    SplitPlot();
    data::DeclareVariate("Y", 48);
    for (int u = 1; u <= 48; ++u) data::AssignValue("Y", u, static_cast<float>(u % 7 + u % 5));
    FitANOVA("Y = W + S + W*S [B + B*P]");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(AnovaHeld());
    data::Delete("PB");  // not in the model
    EXPECT_TRUE(AnovaHeld());
    data::Delete("P");
    EXPECT_FALSE(AnovaHeld());
    AnovaEstimate("W");
    EXPECT_EQ(data::ErrorMessage, "No model has been fitted");
    EXPECT_EQ(data::ProcedureName, "ANOVA.Estimate");
    // A failed fit leaves no model behind.
    FitANOVA("Y = W + S + W*S [B + B*P]");
    EXPECT_EQ(data::ErrorMessage, "Invalid identifier P");
    EXPECT_FALSE(AnovaHeld());
}

}  // namespace korw::special::test
