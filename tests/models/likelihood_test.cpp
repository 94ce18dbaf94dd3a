// Logit-linear, log-linear and user-defined likelihood fits against R's glm and anova
// (tests/reference/likelihood.R).
#include <cmath>
#include <string>
#include <vector>

#include "data/restrict.h"
#include "models_test.h"

namespace korw::models::test {

namespace {

class LikelihoodTest : public ModelTest {
  protected:
    // The model test data plus Z (binary), N (totals), P = S/N, CNT (counts) and LT = ln N.
    void DeclareLikelihoodData() {
        DeclareTestData();
        static const float z[] = {0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 1};
        static const float n[] = {5, 8, 6, 7, 9, 4, 5, 6, 8, 7, 5, 9, 6, 7};
        static const float s[] = {1, 3, 2, 4, 6, 2, 3, 5, 6, 3, 2, 8, 5, 6};
        static const float cnt[] = {3, 5, 2, 8, 6, 9, 7, 12, 10, 6, 7, 14, 13, 9};
        data::DeclareVariate("Z N P CNT LT", 14);
        for (int u = 1; u <= 14; ++u) {
            data::AssignValue("Z", u, z[u - 1]);
            data::AssignValue("N", u, n[u - 1]);
            data::AssignValue("P", u, s[u - 1] / n[u - 1]);
            data::AssignValue("CNT", u, cnt[u - 1]);
            data::AssignValue("LT", u, std::log(n[u - 1]));
        }
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }

    std::string Fit(void (*fit)(const std::string&), const std::string& model) {
        Output();
        fit(model);
        EXPECT_TRUE(data::ErrorFree) << model << ": " << data::ErrorMessage;
        return Output();
    }

    std::string Error(void (*fit)(const std::string&), const std::string& model) {
        fit(model);
        return data::ErrorFree ? "" : data::ErrorMessage;
    }
};

TEST_F(LikelihoodTest, BinaryLogitMatchesGlm) {
    DeclareLikelihoodData();
    std::string out = Fit(FitLogitLinear, "Z = 1 + X1 + B");
    EXPECT_TRUE(Contains(out,
                         "Dependent binary variable Z.\nModel terms\n  CONSTANT\n  X1\n  B\n"
                         "Convergence after "))
        << out;
    EXPECT_TRUE(Contains(out,
                         "14 observations, 3 parameters estimated.\n"
                         "-2log(Likelihood) =              17.9364\n"))
        << out;
    // A binary response has no test against the full model.
    EXPECT_FALSE(Contains(out, "Likelihood ratio test")) << out;
    EXPECT_NEAR(Deviance(), 17.9364357995834, 1e-6);
    EXPECT_EQ(ResDF(), 11);
    EXPECT_NEAR(Parameter(1), 0.90669068440530942, 1e-6);
    EXPECT_NEAR(Parameter(2), 0.00363351450287607, 1e-6);
    EXPECT_NEAR(Parameter(3), -1.20257549906064276, 1e-6);
    EXPECT_EQ(Parameter(4), 0.0);
    EXPECT_NEAR(ParameterSD(1), 1.573063362290129, 1e-5);
    EXPECT_NEAR(ParameterSD(3), 1.149229187135384, 1e-5);
    EXPECT_EQ(ModelVariance(), -1.0);
    EXPECT_NEAR(Fitted(1), 0.427897487101468, 1e-6);
    EXPECT_NEAR(Fitted(2), 0.713883571752319, 1e-6);
    ListParameters();
    out = Output();
    EXPECT_TRUE(Contains(out, "U          P\n")) << out;
    EXPECT_TRUE(
        Contains(out, "B[1]                     -1.20           1.149       -1.046   0.295368\n"))
        << out;

    SaveFitted("F", "R", "NR");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const double normed[] = {-0.954217294648574, 0.690007108616688,  -1.027635057038409,
                             -1.732608938775630, 1.259547000050387,  0.695810063284351,
                             -1.063122957558979, 0.686908192153763,  1.247498847102051,
                             -1.841392126592925, -1.018083556452896, 0.683221472346701,
                             0.754912156030147,  1.343390386038136};
    for (int u = 1; u <= 14; ++u) {
        EXPECT_NEAR(data::Value("R", u), data::Value("Z", u) - data::Value("F", u), 1e-6);
        EXPECT_NEAR(data::Value("NR", u), normed[u - 1], 1e-5) << u;
    }
}

TEST_F(LikelihoodTest, ModelChangeOfTwoLogitFits) {
    DeclareLikelihoodData();
    Fit(FitLogitLinear, "Z = 1 + X1");
    Fit(FitLogitLinear, "Z = 1 + X1 + B");
    TestModelChange();
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    // anova(small, binary, test = "Chisq"): deviance 1.148108153581, P 0.2839455297.
    EXPECT_EQ(Output(),
              "1 parameters added\n-2log(Q) = 1.1481\n"
              "P[ ChiSquare(1) > -2log(Q) ] = 0.283946\n");
    Fit(FitLogLinear, "CNT = 1 + A");
    TestModelChange();
    EXPECT_EQ(data::ErrorMessage, "Two latest models are of different types");
}

TEST_F(LikelihoodTest, RelativeFrequenciesWithTotalsMatchGlm) {
    DeclareLikelihoodData();
    std::string out = Fit(FitLogitLinear, "P = 1 + A + X1 / N");
    EXPECT_TRUE(Contains(out, "Dependent relative frequency P, binomial totals N.\n")) << out;
    EXPECT_TRUE(Contains(out,
                         "14 observations, 4 parameters estimated.\n"
                         "-2log(Likelihood) =              10.8325\n"
                         "Likelihood ratio test against full model\n"
                         "P[ ChiSquare(10) > -2log(Likelihood) ] = 0.370715\n"))
        << out;
    EXPECT_NEAR(Parameter(1), 0.727116595481229, 1e-6);
    EXPECT_NEAR(Parameter(2), -1.332067509690509, 1e-6);
    EXPECT_NEAR(Parameter(3), -0.644282723881609, 1e-6);
    EXPECT_EQ(Parameter(4), 0.0);
    EXPECT_NEAR(Parameter(5), 0.196696848179663, 1e-6);
    EXPECT_NEAR(ParameterSD(2), 0.582521811583183, 1e-5);
    EXPECT_NEAR(ParameterSD(5), 0.218028623413468, 1e-5);
    // Units with a zero total take no part.
    data::AssignValue("N", 3, 0);
    out = Fit(FitLogitLinear, "P = 1 + A + X1 / N");
    EXPECT_TRUE(Contains(out, "13 observations, 4 parameters estimated.\n")) << out;
}

TEST_F(LikelihoodTest, PoissonFitsMatchGlm) {
    DeclareLikelihoodData();
    std::string out = Fit(FitLogLinear, "CNT = 1 + A + X1");
    EXPECT_TRUE(Contains(out, "Dependent variable CNT.\nModel terms\n")) << out;
    EXPECT_TRUE(Contains(out,
                         "-2log(Likelihood) =               8.9918\n"
                         "Likelihood ratio test against full model\n"
                         "P[ ChiSquare(10) > -2log(Likelihood) ] = 0.532878\n"))
        << out;
    EXPECT_NEAR(Parameter(1), 2.041823340888372, 1e-6);
    EXPECT_NEAR(Parameter(2), -0.709772817759442, 1e-6);
    EXPECT_NEAR(Parameter(5), 0.111223642335375, 1e-6);
    EXPECT_NEAR(ParameterSD(1), 0.307118961877770, 1e-5);
    EXPECT_NEAR(ParameterSD(5), 0.086359301977656, 1e-5);
    EXPECT_NEAR(ParameterCov(5, 5), 0.086359301977656 * 0.086359301977656, 1e-6);

    out = Fit(FitLogLinear, "CNT - LT = 1 + A + X1");
    EXPECT_TRUE(Contains(out, "Dependent variable CNT.\nOffset variate LT\n")) << out;
    EXPECT_NEAR(Deviance(), 6.1611559578967, 1e-5);
    EXPECT_NEAR(Parameter(1), -0.0177782068459652, 1e-6);
    EXPECT_NEAR(Parameter(5), 0.1666755755301578, 1e-6);
    EXPECT_NEAR(Fitted(1), 3.02121809156867, 1e-5);
    EXPECT_NEAR(Fitted(14), 7.98959366727818, 1e-5);
}

TEST_F(LikelihoodTest, ChecksBeforeFitting) {
    DeclareLikelihoodData();
    EXPECT_EQ(Error(FitLogitLinear, "Y = 1 + A"), "Binary response Y out of range at unit 1");
    // Relative frequencies may be fractions, but not outside 0..1.
    EXPECT_EQ(Error(FitLogitLinear, "Y = 1 + A / N"),
              "Relative frequency Y out of range at unit 1");
    EXPECT_EQ(Error(FitLogitLinear, "P = 1 + A / N"), "");
    EXPECT_EQ(Error(FitLogitLinear, "P = 1 + A / P"),
              "Dependent variable occurs as weight in model formula");
    EXPECT_EQ(Error(FitLogitLinear, "Z = 1 + A + Z"), "Dependent variable occurs in model formula");
    EXPECT_EQ(Error(FitLogLinear, "CNT - CNT = 1 + A"),
              "Dependent variable occurs as offset in model formula");
    EXPECT_EQ(Error(FitLogLinear, "CNT = 1 + A / N"), "Weights not allowed");
    EXPECT_EQ(Error(FitLogLinear, "CNT 1 + A"), "Missing = in model specification");
    data::DeclareVariate("SHORT", 3);
    EXPECT_EQ(Error(FitLogitLinear, "P = 1 / SHORT"), "Weight variate SHORT of incorrect length");
    EXPECT_EQ(Error(FitLogLinear, "CNT - SHORT = 1"), "Offset variate SHORT of incorrect length");
    data::AssignValue("N", 4, -1);
    EXPECT_EQ(Error(FitLogitLinear, "P = 1 / N"), "N has a negative value at unit 4");
    data::AssignValue("N", 4, 7);
    data::AssignValue("X1", 6, data::MissingValue);
    EXPECT_EQ(Error(FitLogLinear, "CNT = 1 + X1"), "Variate X1 has a missing value at unit 6");
    data::Exclude(6);
    EXPECT_EQ(Error(FitLogLinear, "CNT = 1 + X1"), "");
    data::IncludeAll();

    // A failed fit keeps the last one.
    Fit(FitLogLinear, "CNT = 1 + A");
    double deviance = Deviance();
    EXPECT_NE(Error(FitLogLinear, "CNT = 1 + NOSUCH"), "");
    EXPECT_EQ(Deviance(), deviance);
    EXPECT_EQ(ParameterName(2), "A[1]");
}

TEST_F(LikelihoodTest, ResultsBeforeAnyFit) {
    Deviance();
    EXPECT_EQ(data::ErrorMessage, "No model fitted");
    ResDF();
    EXPECT_EQ(data::ErrorMessage, "No model fitted");
    InitParameter(1000, 1);
    EXPECT_EQ(data::ErrorMessage, "Index out of range");
    InitParameter(0, 1);
    EXPECT_EQ(data::ErrorMessage, "Index out of range");
}

TEST_F(LikelihoodTest, StartingValuesApplyToTheNextFitOnly) {
    DeclareLikelihoodData();
    std::string plain = Fit(FitLogLinear, "CNT = 1 + A + X1");
    InitParameter(1, 2.0);
    InitParameter(5, 0.1);
    std::string started = Fit(FitLogLinear, "CNT = 1 + A + X1");
    // Starting near the estimates takes fewer iterations to the same result.
    EXPECT_NE(plain, started);
    EXPECT_NEAR(Parameter(1), 2.041823340888372, 1e-6);
    EXPECT_EQ(Fit(FitLogLinear, "CNT = 1 + A + X1"), plain);
}

TEST_F(LikelihoodTest, CompleteSeparationEndsWithoutOverflow) {
    DeclareLikelihoodData();
    // SEP = X1 > 2.5 is separated by X1; the linear predictor of the outer units passes the
    // clipping limit of e^eta long before the end. -2 log likelihood must still tend to 0 from
    // above: a log likelihood that grows past the limit would drive it far below 0.
    data::DeclareVariate("SEP", 14);
    for (int u = 1; u <= 14; ++u) data::AssignValue("SEP", u, data::Value("X1", u) > 2.5f ? 1 : 0);
    std::string out = Fit(FitLogitLinear, "SEP = 1 + X1");
    EXPECT_TRUE(Contains(out,
                         "14 observations, 2 parameters estimated.\n"
                         "-2log(Likelihood) =               0.0000\n"))
        << out;
    EXPECT_GE(Deviance(), 0.0);
    EXPECT_LT(Deviance(), 1e-5);
    EXPECT_TRUE(std::isfinite(Parameter(1)));
    EXPECT_GT(Parameter(2), 10.0);
    for (int u = 1; u <= 14; ++u) {
        EXPECT_TRUE(std::isfinite(Fitted(u)));
        EXPECT_NEAR(Fitted(u), data::Value("SEP", u), 1e-6) << u;
    }
    // With the largest X1 turned to 0 the data overlap, and the fit is R's again.
    data::DeclareVariate("W", 14);
    for (int u = 1; u <= 14; ++u) data::AssignValue("W", u, u == 13 ? 0 : data::Value("SEP", u));
    Fit(FitLogitLinear, "W = 1 + X1");
    EXPECT_NEAR(Deviance(), 12.93341338781, 1e-5);
    EXPECT_NEAR(Parameter(1), -4.27818760528, 1e-5);
    EXPECT_NEAR(Parameter(2), 1.55959845143, 1e-5);
}

TEST_F(LikelihoodTest, UserDefinedFitWithoutMaximumStopsAfterHundredIterations) {
    // L = ln(b): each Newton step doubles b and gains 2 ln 2 in -2 log likelihood.
    UserLikelihood f{[] { return std::log(CurrentEstimate(1)); },
                     [](int) { return 1 / CurrentEstimate(1); },
                     [](int, int) { return -1 / (CurrentEstimate(1) * CurrentEstimate(1)); }};
    DeclareLikelihoodData();
    InitParameter(1, 1.0);
    Output();
    FitUserDefined("", "B", 14, f);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(Output(),
              "Warning: No convergence after 100 iterations.\n"
              "Last change of -2log(Likelihood) was 1.38629436\n"
              "14 observations, 1 parameters estimated.\n"
              "-2log(Likelihood) =            -138.6294\n");
    EXPECT_DOUBLE_EQ(Parameter(1), std::ldexp(1.0, 100));
}

// A Poisson likelihood written by hand over the design columns of the formula.
struct PoissonByHand {
    int columns = 0;
    double Eta(int32_t u) const {
        double eta = 0;
        for (int k = 1; k <= columns; ++k) eta += CurrentEstimate(k) * ColumnValue(u, k);
        return eta;
    }
    double L() const {
        double sum = 0;
        for (int32_t u = 1; u <= 14; ++u) {
            double y = data::Value("CNT", u), eta = Eta(u);
            sum += y * eta - std::exp(eta) - (y > 0 ? y * std::log(y) - y : 0);
        }
        return sum;
    }
    double First(int i) const {
        double sum = 0;
        for (int32_t u = 1; u <= 14; ++u)
            sum += (data::Value("CNT", u) - std::exp(Eta(u))) * ColumnValue(u, i);
        return sum;
    }
    double Second(int i, int j) const {
        double sum = 0;
        for (int32_t u = 1; u <= 14; ++u)
            sum -= std::exp(Eta(u)) * ColumnValue(u, i) * ColumnValue(u, j);
        return sum;
    }
};

TEST_F(LikelihoodTest, UserDefinedPoissonReproducesTheLogLinearFit) {
    DeclareLikelihoodData();
    Fit(FitLogLinear, "CNT = 1 + A + X1");
    std::vector<double> estimates, sds;
    for (int k = 1; k <= 5; ++k) {
        estimates.push_back(Parameter(k));
        sds.push_back(ParameterSD(k));
    }
    double deviance = Deviance();

    PoissonByHand poisson;
    poisson.columns = 5;
    UserLikelihood f{[&] { return poisson.L(); }, [&](int i) { return poisson.First(i); },
                     [&](int i, int j) { return poisson.Second(i, j); }};
    Output();
    FitUserDefined("1 + A + X1", "", 14, f);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::string out = Output();
    EXPECT_TRUE(Contains(out,
                         "14 observations, 4 parameters estimated.\n"
                         "-2log(Likelihood) =               8.9918\n"))
        << out;
    EXPECT_NEAR(Deviance(), deviance, 1e-8);
    EXPECT_EQ(ResDF(), 10);
    for (int k = 1; k <= 5; ++k) {
        EXPECT_NEAR(Parameter(k), estimates[k - 1], 1e-8) << k;
        EXPECT_NEAR(ParameterSD(k), sds[k - 1], 1e-8) << k;
    }
    // Without the hold flag the matrix is released.
    ParameterCov(1, 1);
    EXPECT_EQ(data::ErrorMessage, "The covariance matrix is not available");
    SaveFitted("", "RES", "");
    EXPECT_EQ(data::ErrorMessage, "Residuals are not available for userdefined models");
}

TEST_F(LikelihoodTest, UserDefinedExtraParametersAndStop) {
    DeclareLikelihoodData();
    // One extra parameter MU: the log of a common Poisson mean.
    auto total = [] {
        double t = 0;
        for (int32_t u = 1; u <= 14; ++u) t += data::Value("CNT", u);
        return t;
    };
    int calls = 0;
    UserLikelihood f{[&] {
                         ++calls;
                         double mu = CurrentEstimate(1);
                         return total() * mu - 14 * std::exp(mu);
                     },
                     [&](int) { return total() - 14 * std::exp(CurrentEstimate(1)); },
                     [&](int, int) { return -14 * std::exp(CurrentEstimate(1)); }};
    HoldMatrix = true;
    FitUserDefined("", " mu, ", 14, f);
    HoldMatrix = false;
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(ParameterName(1), "MU");
    EXPECT_EQ(NumberOfParameters(), 1);
    EXPECT_NEAR(Parameter(1), std::log(total() / 14), 1e-8);
    EXPECT_NEAR(ParameterCov(1, 1), 1 / total(), 1e-6);

    FitUserDefined("", "averyverylongname", 14, f);
    EXPECT_EQ(data::ErrorMessage, "Parameter identifier AVERYVERYLONGNAME... too long");

    // The caller stops the iterations from inside its likelihood: its third evaluation is the
    // first halving of the first step.
    calls = 0;
    UserLikelihood stopping = f;
    stopping.logLikelihood = [&] {
        if (++calls == 3) StopIterations = true;
        return total() * CurrentEstimate(1) - 14 * std::exp(CurrentEstimate(1));
    };
    Output();
    FitUserDefined("", "MU", 14, stopping);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(calls, 3);
    std::string stopped = Output();
    EXPECT_TRUE(Contains(stopped, "Convergence after 1 iterations.\n")) << stopped;

    for (int32_t u = 1; u <= 14; ++u) data::Exclude(u);
    FitUserDefined("", "MU", 14, f);
    EXPECT_EQ(data::ErrorMessage, "No units present");
}

// Fitted values are saved at every unit, also at units the fit left out; where the mean there
// is beyond single precision (exp of a far linear predictor) the missing value is stored, not
// an infinity that every later fit or listing would take for data.
TEST_F(LikelihoodTest, FittedValuesBeyondSinglePrecisionAreMissing) {
    data::DeclareVariate("C X", 5);
    const float c[] = {1, 2, 4, 8, 3}, x[] = {0, 1, 2, 3, 1000};
    for (int u = 1; u <= 5; ++u) {
        data::AssignValue("C", u, c[u - 1]);
        data::AssignValue("X", u, x[u - 1]);
    }
    data::Exclude(5);
    Fit(FitLogLinear, "C = 1 + X");
    EXPECT_NEAR(Parameter(2), std::log(2.0), 1e-5);
    SaveFitted("F", "R", "");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_NEAR(data::Value("F", 4), 8.0, 1e-4);
    EXPECT_EQ(data::Value("F", 5), data::MissingValue);
    EXPECT_EQ(data::Value("R", 5), data::MissingValue);
}

}  // namespace
}  // namespace korw::models::test
