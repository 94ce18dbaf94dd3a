// The linear normal fit against R's lm, anova and summary (tests/reference/linear.R).
#include <cmath>

#include "data/restrict.h"
#include "models_test.h"

namespace korw::models::test {

TEST_F(ModelTest, OneWayAnalysisMatchesR) {
    DeclareTestData();
    std::string out = FitOk("y = 1 + a");
    EXPECT_TRUE(
        Contains(out, "A            2    22.3121460    11.1560730       10.7083   0.002621\n"));
    EXPECT_TRUE(Contains(out, "RESIDUAL    11    11.4599999     1.0418182\n"));
    EXPECT_TRUE(Contains(out, "TOTAL       14   637.0300075\n"));
    EXPECT_TRUE(Contains(out, "14 observations, 3 parameters estimated.\n"));
    EXPECT_TRUE(Contains(out, "R-square = 0.6607\n"));
    EXPECT_NEAR(Parameter(1), 7.900000214576720, 1e-9);
    EXPECT_NEAR(Parameter(2), -2.980000281333922, 1e-9);
    EXPECT_NEAR(ParameterSD(2), 0.684702985751540, 1e-9);
    EXPECT_EQ(Parameter(4), 0.0);
    EXPECT_EQ(ParameterSD(4), 0.0);
    EXPECT_NEAR(ModelVariance(), 1.04181817488239, 1e-10);
    ListParameters();
    out = Output();
    EXPECT_TRUE(
        Contains(out, "A[1]                    -2.980          0.6847       -4.352   0.001151\n"));
    EXPECT_TRUE(Contains(out, "A[3]               set to zero\n"));
}

TEST_F(ModelTest, TwoWayWithInteractionMatchesR) {
    DeclareTestData();
    std::string out = FitOk("Y = 1 + A + B + A*B");
    // anova(lm(y ~ a * b)): sequential sums of squares, F and P.
    EXPECT_TRUE(
        Contains(out, "A            2    22.3121460    11.1560730       15.6944   0.001702\n"));
    EXPECT_TRUE(
        Contains(out, "B            1     2.8998825     2.8998825        4.0796   0.078084\n"));
    EXPECT_TRUE(
        Contains(out, "A*B          2     2.8734515     1.4367257        2.0212   0.194765\n"));
    EXPECT_TRUE(Contains(out, "RESIDUAL     8     5.6866659     0.7108332\n"));
    EXPECT_TRUE(Contains(out, "R-square = 0.8316\n"));
    // Aliased: A[3], B[2], and the interaction columns other than A[1]*B[1] and A[2]*B[1].
    EXPECT_NEAR(Parameter(1), 8.95000028610229, 1e-8);
    EXPECT_NEAR(Parameter(2), -3.40000033378601, 1e-8);
    EXPECT_NEAR(Parameter(5), -2.10000014305115, 1e-8);
    EXPECT_NEAR(Parameter(7), 1.05000011126200, 1e-8);
    EXPECT_NEAR(ParameterSD(7), 1.141575343332485, 1e-8);
    EXPECT_NEAR(Parameter(9), 2.28333353996277, 1e-8);
    for (int k : {4, 6, 8, 10, 11, 12}) EXPECT_EQ(Parameter(k), 0.0) << k;
    ListParameters();
    out = Output();
    EXPECT_TRUE(
        Contains(out, "A[2]*B[1]                  2.28           1.142        2.000   0.080496\n"));

    // rstudent(two) and 2 * pt(-|r|, df - 1).
    SaveNormedResiduals("R", "P");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const double r[] = {-0.4125764254194293, -0.7326408314346213, -1.0193351506153367,
                        0.7326408314346209,  1.5836548851465084,  0.0453009986456723,
                        -0.7326404135028174, 1.8939057432625324,  0.7326404135028171,
                        -1.9801250926882297, -0.9129008506541862, 0.2362935538448278,
                        -0.2362935538448280, 0.9129008506541862};
    const double p[] = {0.6922600902781684, 0.4875789547188798, 0.3419739729771444,
                        0.4875789547188800, 0.1572891959135756, 0.9651326343060244,
                        0.4875791941824171, 0.1000989733444177, 0.4875791941824172,
                        0.0881655400010159, 0.3916511971146998, 0.8199700975878194,
                        0.8199700975878192, 0.3916511971146998};
    for (int u = 1; u <= 14; ++u) {
        EXPECT_NEAR(data::Value("R", u), r[u - 1], 2e-6) << u;
        EXPECT_NEAR(data::Value("P", u), p[u - 1], 2e-6) << u;
    }
}

TEST_F(ModelTest, AliasedVariateIsSetToZero) {
    DeclareTestData();
    std::string out = FitOk("Y = 1 + X1 + X2");
    EXPECT_TRUE(
        Contains(out, "X1           1     7.5938002     7.5938002        3.4810   0.086703\n"));
    EXPECT_TRUE(Contains(out, "X2           0     0.0000000     0.0000000\n"));
    EXPECT_TRUE(Contains(out, "RESIDUAL    12    26.1783458     2.1815288\n"));
    EXPECT_TRUE(Contains(out, "14 observations, 2 parameters estimated.\n"));
    EXPECT_NEAR(Parameter(2), 0.654355838402005, 1e-8);
    EXPECT_NEAR(ParameterSD(1), 0.945607142793974, 1e-8);
    EXPECT_EQ(Parameter(3), 0.0);
}

TEST_F(ModelTest, WeightedFitIgnoresZeroWeights) {
    DeclareTestData();
    std::string out = FitOk("Y = 1 + A + X1 / W");
    EXPECT_TRUE(
        Contains(out, "A            2    21.7762726    10.8881363       10.2914   0.006137\n"));
    EXPECT_TRUE(
        Contains(out, "X1           1     1.2292397     1.2292397        1.1619   0.312505\n"));
    EXPECT_TRUE(Contains(out, "RESIDUAL     8     8.4639032     1.0579879\n"));
    EXPECT_TRUE(Contains(out, "12 observations, 4 parameters estimated.\n"));
    EXPECT_TRUE(Contains(out, "Estimated variance and standard deviation for Y*sqrt(W).\n"));
    EXPECT_TRUE(Contains(out, "R-square = 0.7310\n"));
    EXPECT_NEAR(Parameter(5), 0.282102056902715, 1e-8);
    EXPECT_NEAR(ParameterSD(5), 0.261714815933989, 1e-8);
    // rstudent(wt); units with weight 0 (3 and 8) have none.
    SaveNormedResiduals("R", "");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const double r[] = {-0.8085513376112111,
                        -0.0111287514238257,
                        0,
                        0.6003241493085686,
                        0.2013171155294460,
                        0.2531829690068614,
                        -0.9310408947223059,
                        0,
                        1.0377249483258242,
                        -0.9315821272072511,
                        -2.9623845868923655,
                        1.3852300740657242,
                        0.7967759908009667,
                        -0.0419067560513457};
    for (int u = 1; u <= 14; ++u) {
        if (u == 3 || u == 8)
            EXPECT_EQ(data::Value("R", u), data::MissingValue);
        else
            EXPECT_NEAR(data::Value("R", u), r[u - 1], 2e-6) << u;
    }
}

TEST_F(ModelTest, FitWithoutConstantHasNoRSquare) {
    DeclareTestData();
    std::string out = FitOk("Y = A + X1");
    EXPECT_TRUE(
        Contains(out, "A            3   625.5700076   208.5233359      227.9903   0.000000\n"));
    EXPECT_TRUE(
        Contains(out, "X1           1     2.3138486     2.3138486        2.5299   0.142794\n"));
    EXPECT_FALSE(Contains(out, "R-square"));
    EXPECT_NEAR(Parameter(1), 4.134876781955143, 1e-8);
    EXPECT_NEAR(ParameterSD(3), 0.838029687432665, 1e-8);
}

TEST_F(ModelTest, SaturatedAndExactFits) {
    data::DeclareVariate("U V", 3);
    for (int u = 1; u <= 3; ++u) {
        data::AssignValue("U", u, static_cast<float>(u));
        data::AssignValue("V", u, static_cast<float>(u * u + 1));
    }
    std::string out = FitOk("V = 1 + U + U*U");
    EXPECT_TRUE(Contains(out, "No residual - variance not estimable.\n"));
    EXPECT_FALSE(Contains(out, "Estimated variance"));
    EXPECT_FALSE(Contains(out, "R-square"));
    ListParameters();
    EXPECT_TRUE(Contains(Output(), "undefined"));

    DeclareTestData();
    data::DeclareVariate("Z", 14);
    for (int u = 1; u <= 14; ++u) data::AssignValue("Z", u, 3.0f + 2.0f * data::Value("X1", u));
    out = FitOk("Z = 1 + X1");
    EXPECT_TRUE(Contains(out,
                         "Computations not reliable - data constructed or strongly linearly "
                         "dependent.\n"));
}

TEST_F(ModelTest, TestModelChangeMatchesRAnova) {
    DeclareTestData();
    TestModelChange();
    EXPECT_EQ(data::ErrorMessage, "No models to compare");
    FitOk("Y = 1 + A");
    TestModelChange();
    EXPECT_EQ(data::ErrorMessage, "No model to compare with");
    FitOk("Y = 1 + A + X1");
    TestModelChange();
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(Output(),
              "1 parameters added\nvariance-ratio = 2.529860\n"
              "P[ F(1,10) > variance-ratio ] = 0.142794\n");
    FitOk("Y = 1 + A + X1 / W");
    TestModelChange();
    EXPECT_EQ(data::ErrorMessage, "Latest two models fitted for different data sets");
}

TEST_F(ModelTest, FitErrorsKeepThePreviousFit) {
    DeclareTestData();
    FitOk("Y = 1 + A");
    EXPECT_EQ(FitError("Y 1 + A"), "Missing = in model specification");
    EXPECT_EQ(FitError("Y = 1 + A / Q"), "Invalid identifier Q");
    data::AssignValue("X1", 4, data::MissingValue);
    EXPECT_EQ(FitError("Y = 1 + X1"), "Variate X1 has a missing value at unit 4");
    data::Exclude(4);
    FitOk("Y = 1 + X1");
    data::IncludeAll();
    data::AssignValue("W", 2, -1.0f);
    EXPECT_EQ(FitError("Y = 1 + A / W"), "W has a negative value at unit 2");
    data::DeclareVariate("V", 10);
    EXPECT_EQ(FitError("Y = 1 + A / V"), "Weight variate V of incorrect length");
    EXPECT_EQ(FitError("Y = 1 + V"), "V of wrong length");
    EXPECT_EQ(FitError("Y = 1 + A / V"), "Weight variate V of incorrect length");
    for (int u = 1; u <= 14; ++u) data::Exclude(u);
    EXPECT_EQ(FitError("Y = 1 + A"), "no units present in Y");
    data::IncludeAll();
    data::AssignValue("W", 2, 0.0f);
    for (int u = 1; u <= 14; ++u) data::AssignValue("W", u, 0.0f);
    EXPECT_EQ(FitError("Y = 1 + A / W"), "no units with W >0 present in Y");
    // The previous fit (Y = 1 + X1 without unit 4) is still in place.
    EXPECT_EQ(NumberOfParameters(), 2);
    EXPECT_EQ(ParameterName(2), "X1");
}

TEST_F(ModelTest, FittedValuesAndResiduals) {
    DeclareTestData();
    FitOk("Y = 1 + A");
    SaveFitted("F", "E", "N");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(data::Value("F", 1), 7.9 - 2.98, 1e-5);
    EXPECT_NEAR(data::Value("E", 1), 4.2 - (7.9 - 2.98), 1e-5);
    EXPECT_NEAR(Fitted(12), 7.9, 1e-6);
    EXPECT_EQ(Xmatrix(12, 4), 1.0);
    EXPECT_EQ(Xmatrix(12, 2), 0.0);
    // Normed residual: e / (sigma sqrt(1 - h)), h = 1/5 in the group of five.
    EXPECT_NEAR(data::Value("N", 1), (4.2 - 4.92) / std::sqrt(1.04181817488239 * 0.8), 1e-5);
    data::DeclareFactor("G", 14, 2);
    SaveFitted("G", "", "");
    EXPECT_EQ(data::ErrorMessage, "G is not a variate");
    data::DeclareVariate("S", 3);
    SaveFitted("S", "", "");
    EXPECT_EQ(data::ErrorMessage, "S is of incorrect length");
    EXPECT_NEAR(ParameterCov(2, 3), 1.04181817488239 / 4, 1e-9);
    EXPECT_EQ(ParameterCov(2, 4), 0.0);
    ParameterCov(0, 1);
    EXPECT_EQ(data::ErrorMessage, "Argument out of range");
    Fitted(15);
    EXPECT_EQ(data::ErrorMessage, "Unit index 15 out of range");
    // Deleting the response leaves the fit but not the residuals.
    data::Delete("Y");
    EXPECT_EQ(Output(), "");
    SaveFitted("", "E", "");
    EXPECT_EQ(data::ErrorMessage, "The response variate has been deleted");
    SaveFitted("F", "", "");
    EXPECT_TRUE(data::ErrorFree);
}

TEST_F(ModelTest, ContrastsOfATerm) {
    DeclareTestData();
    FitOk("Y = 1 + A");
    EstimateContrasts("a");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::string out = Output();
    // A[1] - A[2] = -2.22 with variance (1/5 + 1/5) sigma^2.
    EXPECT_TRUE(Contains(out, "  Contrast"));
    EXPECT_TRUE(Contains(out, "    1 -  2              -2.220          0.6455       -3.439"));
    EstimateContrasts("Q");
    EXPECT_EQ(data::ErrorMessage, "Invalid argument Q");
    EXPECT_EQ(data::ProcedureName, "EstimateContrast");
    EstimateContrasts("");
    EXPECT_EQ(data::ErrorMessage, "Missing argument");
    // A coefficient variate: the constant plus A[2], the mean of level 2.
    data::DeclareVariate("C", 4);
    data::AssignValue("C", 1, 1.0f);
    data::AssignValue("C", 3, 1.0f);
    EstimateContrasts("C");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(Contains(Output(), "7.140"));
}

}  // namespace korw::models::test
