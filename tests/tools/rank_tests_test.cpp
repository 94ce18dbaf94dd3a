// The rank tests and Pearson's chi-square; reference values from tests/reference/rank_tests.R.
#include "tools/rank_tests.h"

#include <cmath>
#include <string>
#include <vector>

#include "../data/data_session.h"
#include "data/restrict.h"
#include "models/models.h"

namespace korw::tools::test {
namespace {

using data::test::DataSession;

class RankTests : public DataSession {
  protected:
    void SetUp() override {
        models::InstallModelFitHooks();
        DataSession::SetUp();
    }
};

TEST_F(RankTests, WilcoxonWithoutTiesWritesAWholeRankSum) {
    Variate("y", {1, 2, 3, 4, 5});
    Factor("f", 2, {1, 1, 1, 2, 2});
    WilcoxonTwoSampleTest("y", "f", 1, 2);
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "WILCOXON'S TWO SAMPLE RANK SUM TEST\n"
              "Variate Y.\n"
              "Sample 1: Level 1 of F, 3 observations.\n"
              "Sample 2: Level 2 of F, 2 observations.\n"
              "Sum of ranks in sample 1             6\n"
              "Expected value                       9.0\n"
              "Approximate U-statistic  -1.7321\n"
              "Two sided tail probability   0.08326452\n");
    EXPECT_EQ(VectorsInUse(), 2);
}

TEST_F(RankTests, WilcoxonWithTiesShowsBothExtremes) {
    // 1, 2 against 2, 3: the tied 2 ranked 2 or 3 gives 3 and 4, the midpoint 3.5.
    Variate("y", {2, 1, 3, 2});
    Factor("g", 2, {2, 1, 2, 1});
    WilcoxonTwoSampleTest("y", "g", 1, 2);
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "WILCOXON'S TWO SAMPLE RANK SUM TEST\n"
              "Variate Y.\n"
              "Sample 1: Level 1 of G, 2 observations.\n"
              "Sample 2: Level 2 of G, 2 observations.\n"
              "Sum of ranks in sample 1             3.5\n"
              "Expected value                       5.0\n"
              "Approximate U-statistic  -1.1619\n"
              "Two sided tail probability   0.24527812\n"
              "The rank sum has been corrected for ties.\n"
              "The extreme values consistent with data are \n"
              "         3,  U =   -1.5492\n"
              "         4,  U =   -0.7746\n");
    // A zero of either sign is one tied value.
    Variate("z", {0, -0.0f, 3, 2});
    WilcoxonTwoSampleTest("z", "g", 1, 2);
    EXPECT_NE(Output().find("corrected for ties"), std::string::npos);
}

TEST_F(RankTests, WilcoxonUsesPresentNonMissingUnitsOfTheTwoLevels) {
    // Unit 4 is missing, unit 6 excluded, units 12 and 13 belong to level 3.
    Variate("y", {3.1f, 4.7f, 2.2f, data::MissingValue, 6.4f, 1.8f, 7.3f, 8.8f, 5.0f, 9.6f, 4.1f,
                  2.9f, 6.9f, 0.5f});
    Factor("f", 3, {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 2});
    data::Exclude(6);
    WilcoxonTwoSampleTest("y", "f", 1, 2);
    ASSERT_EQ(Error(), "");
    // wilcox.test gives W = 7 = 17 - 4 * 5 / 2 and p = 0.2864 without continuity correction.
    EXPECT_EQ(Output(),
              "WILCOXON'S TWO SAMPLE RANK SUM TEST\n"
              "Variate Y.\n"
              "Sample 1: Level 1 of F, 4 observations.\n"
              "Sample 2: Level 2 of F, 6 observations.\n"
              "Sum of ranks in sample 1            17\n"
              "Expected value                      22.0\n"
              "Approximate U-statistic  -1.0660\n"
              "Two sided tail probability   0.28642202\n");
    WilcoxonTwoSampleTest("y", "f", 2, 1);
    std::string swapped = Output();
    EXPECT_NE(swapped.find("Sample 1: Level 2 of F, 6 observations."), std::string::npos);
    EXPECT_NE(swapped.find("Sum of ranks in sample 1            38\n"), std::string::npos);
    EXPECT_NE(swapped.find("Approximate U-statistic   1.0660\n"), std::string::npos);
}

TEST_F(RankTests, WilcoxonChecks) {
    Variate("y", {1, 2, 3});
    Variate("short", {1, 2});
    Factor("f", 2, {1, 2, 2});
    Factor("c", 3, {1, 1, 1});
    auto error = [&](const std::string& y, const std::string& f, int l1, int l2) {
        WilcoxonTwoSampleTest(y, f, static_cast<uint8_t>(l1), static_cast<uint8_t>(l2));
        return Error();
    };
    EXPECT_EQ(error("f", "f", 1, 2), "F is not a variate");
    EXPECT_EQ(error("y", "y", 1, 2), "Y is not a factor");
    EXPECT_EQ(error("nosuch", "f", 1, 2), "Invalid identifier NOSUCH");
    EXPECT_EQ(error("short", "f", 1, 2), "F and SHORT are not of the same length");
    EXPECT_EQ(error("y", "f", 1, 3), "Invalid factor level(s)");
    EXPECT_EQ(error("y", "f", 3, 1), "Invalid factor level(s)");
    EXPECT_EQ(error("y", "f", 2, 2), "Identical factor levels");
    EXPECT_EQ(error("y", "c", 1, 2), "Sample 2 is empty");
    EXPECT_EQ(error("y", "c", 2, 1), "Sample 1 is empty");
    data::ProcedureName.clear();
    EXPECT_EQ(error("y", "c", 0, 1), "Sample 1 is empty");
    EXPECT_EQ(data::ProcedureName, "WilcoxonTwoSampleTest");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(VectorsInUse(), 4);
}

TEST_F(RankTests, SpearmanWithoutTiesMatchesR) {
    Variate("x", {1.2f, 3.4f, 2.2f, 5.1f, 4.4f, 0.3f, 6.6f, 2.9f, 7.7f, 3.9f});
    Variate("y", {2.0f, 1.1f, 3.5f, 4.2f, 6.0f, 0.7f, 5.5f, 2.6f, 8.1f, 3.0f});
    Spearman("x", "y");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "Variates X and Y, 10 units present.\n"
              "Rank correlation   0.842424\n"
              "Approximate two-sided tail probability   0.011495\n");
    data::Exclude(10);  // the present units only
    Spearman("y", "x");
    EXPECT_EQ(Output(),
              "Variates Y and X, 9 units present.\n"
              "Rank correlation   0.833333\n"
              "Approximate two-sided tail probability   0.018422\n");
    EXPECT_EQ(VectorsInUse(), 2);
}

TEST_F(RankTests, SpearmanIdenticalAndConstantVariates) {
    Variate("x", {4, 1, 3, 2, 5});
    Variate("c", {7, 7, 7, 7, 7});
    Spearman("x", "x");
    EXPECT_EQ(Output(),
              "Variates X and X, 5 units present.\n"
              "Rank correlation   1.000000\n"
              "Approximate two-sided tail probability   0.045500\n");
    // All y tied: the extremes are 1 and -1.
    Spearman("x", "c");
    EXPECT_EQ(Output(),
              "Variates X and C, 5 units present.\n"
              "Rank correlation   0.000000\n"
              "Approximate two-sided tail probability   1.000000\n"
              "The rank correlation has been corrected for ties.\n"
              "The extreme values consistent with data are\n"
              "  1.000000 (two-sided tail probability   0.045500)\n"
              " -1.000000 (two-sided tail probability   0.045500)\n");
}

TEST_F(RankTests, SpearmanWithTiesTakesTheMidpoint) {
    // y = 1, 1, 2, 3 against x = 1..4: the tied pair ranked 1, 2 gives r = 1, ranked 2, 1
    // (with y taken decreasing) gives 0.8; R's mid-rank value would be 0.9487.
    Variate("x", {1, 2, 3, 4});
    Variate("y", {1, 1, 2, 3});
    Spearman("x", "y");
    EXPECT_EQ(Output(),
              "Variates X and Y, 4 units present.\n"
              "Rank correlation   0.900000\n"
              "Approximate two-sided tail probability   0.119033\n"
              "The rank correlation has been corrected for ties.\n"
              "The extreme values consistent with data are\n"
              "  1.000000 (two-sided tail probability   0.083265)\n"
              "  0.800000 (two-sided tail probability   0.165857)\n");
}

TEST_F(RankTests, SpearmanChecksAndLeavesNoTemporaries) {
    Variate("x", {1, 2, 3});
    Variate("y", {3, 1, data::MissingValue});
    Variate("z", {1, 2});
    Factor("f", 2, {1, 2, 1});
    EXPECT_EQ((Spearman("nosuch", "x"), Error()), "NOSUCH does not exist");
    EXPECT_EQ((Spearman("f", "nosuch"), Error()), "NOSUCH does not exist");
    EXPECT_EQ((Spearman("x", "f"), Error()), "F is not a variate");
    EXPECT_EQ((Spearman("x", "z"), Error()), "X and Z are of different lengths");
    EXPECT_EQ((Spearman("x", "y"), Error()), "Missing values present in Y");
    EXPECT_EQ(data::ProcedureName, "Spearman");
    data::Exclude(2);
    data::Exclude(3);
    EXPECT_EQ((Spearman("x", "y"), Error()), "Only one unit present");
    data::IncludeAll();
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(VectorsInUse(), 4);
}

TEST_F(RankTests, FramesAndTheOutputFileSurviveTheQuietSorts) {
    Variate("x", {1, 2, 3});
    Variate("y", {2, 1, 3});
    data::Exclude(3);  // the sorts warn about restrictions and other vectors; none of it shows
    data::ContinueOnError = false;
    Spearman("x", "y");
    data::ContinueOnError = true;
    std::string stars(80, '*');
    EXPECT_EQ(Output(), stars + "\nOurUnit.Spearman\n" +
                            "Variates X and Y, 2 units present.\n"
                            "Rank correlation  -1.000000\n"
                            "Approximate two-sided tail probability   0.317311\n" +
                            stars + "\n\n");
}

TEST_F(RankTests, PearsonChiSquareOfTheLastFit) {
    // CNT - LT = 1 + A + X of tests/golden/likelihood.files/glm.dat.
    Variate("cnt", {3, 5, 2, 8, 6, 9, 7, 12, 10, 6, 7, 14, 13, 9});
    Variate("x",
            {1.5f, 2.1f, 0.7f, 3.3f, 2.8f, 1.9f, 4.0f, 3.1f, 2.2f, 1.1f, 3.7f, 2.6f, 4.4f, 0.9f});
    std::vector<float> lt;
    for (float n : {5, 8, 6, 7, 9, 4, 5, 6, 8, 7, 5, 9, 6, 7}) lt.push_back(std::log(n));
    Variate("lt", lt);
    Factor("a", 3, {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3});
    EXPECT_EQ((PearsonChiSquare("cnt"), Error()), "No model fit information available");
    models::FitLogLinear("cnt - lt = 1 + a + x");
    ASSERT_EQ(Error(), "");
    Output();
    PearsonChiSquare(" cnt ");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "Pearsons's chi-square test for goodness of fit\n"
              "P[ ChiSquare(10) >       6.4948 ] =    0.772120\n");
    EXPECT_EQ((PearsonChiSquare("a"), Error()), "Variate A does not exist");
    EXPECT_EQ((PearsonChiSquare("none"), Error()), "Variate NONE does not exist");
    EXPECT_EQ(data::ProcedureName, "PearsonChiSquare");
}

}  // namespace
}  // namespace korw::tools::test
