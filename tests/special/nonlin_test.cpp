// The non-linear regression against R's nls and glm (tests/reference/nonlin.R), its step and
// start rules, and what every ending leaves behind.
#include "special/nonlin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "../models/models_test.h"
#include "compute/compute.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "models/models.h"

namespace korw::special::test {

namespace {

class NonLinTest : public models::test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ForgetNonLinearFits();
    }

    void Run(const std::string& line) {
        compute::Compute(line);
        ASSERT_TRUE(data::ErrorFree) << line << ": " << data::ErrorMessage;
    }

    // The treated Puromycin data; X = 1/CONC, so that mu = 1/(a + b X) is Michaelis-Menten.
    void DeclarePuromycin() {
        Run("RATE = [76 47 97 107 123 139 159 152 191 201 207 200]");
        Run("CONC = [0.02 0.02 0.06 0.06 0.11 0.11 0.22 0.22 0.56 0.56 1.10 1.10]");
        Run("X = 1/CONC");
        Run("S = 1/RATE");
    }

    // Dobson's counts by outcome (a factor of 3 levels) with exposure times and weights.
    void DeclareCounts() {
        Run("COUNTS = [18 17 15 20 10 20 25 13 12]");
        data::DeclareFactor("OUTCOME", 9, 3);
        for (int u = 1; u <= 9; ++u) data::AssignLevel("OUTCOME", u, (u - 1) % 3 + 1);
        Run("T = [2 3 1.5 4 2.5 3 2 1 3.5]");
        Run("LT = LN(T)");
        Run("W = [1 2 1 1 0.5 1 2 1 1]");
    }

    std::string Fit(const std::string& spec, const std::string& m, const std::string& dm,
                    const std::string& v, const std::string& start = "") {
        Output();
        SetWorkingNames(DefaultWorkingResponse, DefaultWorkingWeight);
        SetStartingValues(start);
        FitNonLinear1(spec, m, dm, v);
        return Output();
    }

    // Names of the vectors in use, blank separated.
    std::string TableNames() {
        std::string names;
        for (int i = 1; i <= data::TableSize; ++i)
            if (data::Entry(i).kind != data::FreeEntry) names += data::Entry(i).name + " ";
        return names;
    }
};

// Single-precision data and working vectors: about six significant digits agree with R.
void ExpectRelative(double actual, double expected, double tolerance = 2e-6) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * tolerance);
}

}  // namespace

TEST(ReplaceArgumentTest, OnlyTheArgumentDotIsReplaced) {
    EXPECT_EQ(ReplaceArgument("EXP(.)", "SYS1"), "EXP(SYS1)");
    EXPECT_EQ(ReplaceArgument("1/(1+EXP(-.))", "eta"), "1/(1+EXP(-eta))");
    EXPECT_EQ(ReplaceArgument(".*(1-.)", "mu"), "mu*(1-mu)");
    // A point inside a number stays, also before or after its digits.
    EXPECT_EQ(ReplaceArgument("0.5*.^2", "mu"), "0.5*mu^2");
    EXPECT_EQ(ReplaceArgument(".5*.+2.", "mu"), ".5*mu+2.");
    EXPECT_EQ(ReplaceArgument("1", "mu"), "1");
}

TEST_F(NonLinTest, MichaelisMentenMatchesNls) {
    DeclarePuromycin();
    std::string out = Fit("RATE=1+X", "1/.", "-1/.^2", "1", "S");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(Contains(out, "Mean function  mu = m(eta) = 1/eta\n"));
    EXPECT_TRUE(Contains(out, "Variance function  v(mu) = 1\nDependent variate RATE\n"));
    EXPECT_TRUE(Contains(out, "Output from last iteration:\nANALYSIS OF VARIANCE TABLE\n"));
    EXPECT_TRUE(Contains(out, "RESIDUAL    10     1195.4486      119.5449\n"));
    EXPECT_TRUE(Contains(out, "Test for no over-dispersion:\nP[ ChiSquare(10) > 1195.4486 ]"));
    ExpectRelative(models::Parameter(1), 4.701818e-03);
    ExpectRelative(models::Parameter(2), 3.014863e-04);
    ExpectRelative(models::ParameterSD(1), 1.535813e-04);
    ExpectRelative(models::ParameterSD(2), 3.203498e-05);
    ExpectRelative(models::ModelVariance(), 119.5448814);
    // The start applies to one fit only: without it the mean 1/0 is undefined.
    Fit("RATE=1+X", "1/.", "-1/.^2", "1");
    EXPECT_EQ(data::ErrorMessage, "Function returns missing value - initialize");
}

TEST_F(NonLinTest, VarianceRatioOfTwoFitsMatchesNlsAnova) {
    DeclarePuromycin();
    Fit("RATE=1+X", "1/.", "-1/.^2", "1", "S");
    Output();
    NLTestModelChange("");
    EXPECT_EQ(data::ErrorMessage, "No model to compare with");
    Fit("RATE=1", "1/.", "-1/.^2", "1", "S");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    ExpectRelative(models::Parameter(1), 0.0070629782);
    ExpectRelative(models::ParameterSD(1), 0.0007627445);
    NLTestModelChange("RATE=1+X");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    // R's F of 248.136662 (on the single-precision data) agrees to the precision of the
    // single-precision working vectors.
    std::string out = Output();
    ASSERT_EQ(out.substr(0, 38), "1 parameters removed\nvariance-ratio = ");
    ExpectRelative(std::stod(out.substr(38)), 248.136662, 1e-6);
    EXPECT_TRUE(Contains(out, "\nP[ F(1,10) > variance-ratio ] =  0.000000\n"));
    NLTestModelChange("RATE=1+CONC+Y");
    EXPECT_EQ(data::ErrorMessage, "Y is of incorrect length or type");
    ForgetNonLinearFits();
    NLTestModelChange("");
    EXPECT_EQ(data::ErrorMessage, "No models to compare");
}

TEST_F(NonLinTest, PoissonFitMatchesGlm) {
    DeclareCounts();
    std::string out = Fit("COUNTS=1+OUTCOME", "EXP(.)", "EXP(.)", ".");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    // The residual variance of the last weighted fit is Pearson's X2 over its degrees of
    // freedom, the quasi-Poisson dispersion.
    EXPECT_TRUE(Contains(out, "P[ ChiSquare(6) > 5.1732 ] = 0.521798\n"));
    ExpectRelative(models::Parameter(1), 2.751535);
    ExpectRelative(models::Parameter(2), 2.929871e-01);
    ExpectRelative(models::Parameter(3), -1.612681e-01);
    double dispersion = models::ModelVariance();
    ExpectRelative(dispersion, 5.173201621 / 6);
    ExpectRelative(models::ParameterSD(2) / std::sqrt(dispersion), 1.927423e-01);
}

TEST_F(NonLinTest, WeightsAndOffsetMatchQuasiPoissonGlm) {
    DeclareCounts();
    std::string out = Fit("COUNTS-LT=1+OUTCOME/W", "EXP(.)", "EXP(.)", ".");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(Contains(out, "Dependent variate COUNTS, weights W, offset LT\n"));
    ExpectRelative(models::Parameter(1), 1.77070606005);
    ExpectRelative(models::Parameter(2), 0.40404566144, 1e-5);
    ExpectRelative(models::Parameter(3), 0.07032445819, 1e-4);
    ExpectRelative(models::ParameterSD(1), 0.3238633337);
    ExpectRelative(models::ParameterSD(3), 0.4468668162);
    ExpectRelative(models::ModelVariance(), 4.929721505);
}

TEST_F(NonLinTest, StartingChecksInTheirOrder) {
    DeclareCounts();
    Fit("COUNTS 1", "EXP(.)", "EXP(.)", ".");
    EXPECT_EQ(data::ErrorMessage, "No \"=\" in model specification");
    Fit("COUNTS=1", "EXP(.)", "EXP(.)", ".", "OUTCOME");
    EXPECT_EQ(data::ErrorMessage, "OUTCOME is not a variate");
    Run("SHORT = [1 2 3]");
    Fit("COUNTS=1/SHORT", "EXP(.)", "EXP(.)", ".");
    EXPECT_EQ(data::ErrorMessage, "Invalid length of SHORT");
    Fit("COUNTS=1", ".", ".", "1");
    EXPECT_EQ(data::ErrorMessage, "Dm(.) has a value zero - initialize");
    Fit("COUNTS=1", "EXP(.)", "EXP(.)", ".-1");
    EXPECT_EQ(data::ErrorMessage, "v(.) has a value zero - initialize");
    Fit("COUNTS=1", "LN(.)", "1/.", ".");
    EXPECT_EQ(data::ErrorMessage, "Function returns missing value - initialize");
    // A negative variance makes a negative working weight: no more usable than a missing one.
    Fit("COUNTS=1", "EXP(.)", "EXP(.)", "-.");
    EXPECT_EQ(data::ErrorMessage, "Function returns missing value - initialize");
    data::AssignValue("COUNTS", 3, data::MissingValue);
    Fit("COUNTS=1", "EXP(.)", "EXP(.)", ".");
    EXPECT_EQ(data::ErrorMessage, "COUNTS has a missing value");
}

TEST_F(NonLinTest, EveryEndingLeavesTheTableAndOutputAsBefore) {
    DeclareCounts();
    data::DeclareFactor("UNIT", 9, 9);
    for (int u = 1; u <= 9; ++u) data::AssignLevel("UNIT", u, u);
    models::FitLinearNormal("COUNTS = 1 + OUTCOME");
    double before = models::Parameter(2);
    std::string names = TableNames();
    const char* failing[][4] = {
        {"COUNTS=1+OUTCOME", "EXP(.)", "EXP(.)", "1/0"},    // Function returns missing
        {"COUNTS=1+NOSUCH", "EXP(.)", "EXP(.)", "."},       // a formula error in the fit
        {"COUNTS=1+OUTCOME", "EXP(.)", "EXP(.)", "[1 2]"},  // a COMPUTE error
        {"COUNTS=UNIT", "EXP(.)", "EXP(.)", "."},           // no residual
    };
    for (const auto& f : failing) {
        Fit(f[0], f[1], f[2], f[3]);
        EXPECT_FALSE(data::ErrorFree) << f[0] << " " << f[3];
        EXPECT_EQ(TableNames(), names) << data::ErrorMessage;
        EXPECT_EQ(data::OutFileName(), out_);
        EXPECT_EQ(models::Parameter(2), before);
    }
    Fit("COUNTS=UNIT", "EXP(.)", "EXP(.)", ".");
    EXPECT_EQ(data::ErrorMessage, "No degrees of freedom for the residual");
    // Success leaves the working vectors, under the names asked for, and nothing else.
    SetWorkingNames("ZZ", "WWW");
    FitNonLinear1("COUNTS=1+OUTCOME", "EXP(.)", "EXP(.)", ".");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(TableNames(), names + "ZZ WWW ");
    EXPECT_EQ(data::OutFileName(), out_);
    // A working vector may not replace one the fit reads.
    SetWorkingNames("COUNTS", "WWW");
    FitNonLinear1("COUNTS=1+OUTCOME", "EXP(.)", "EXP(.)", ".");
    EXPECT_EQ(data::ErrorMessage, "COUNTS is used in the model specification");
}

TEST_F(NonLinTest, StepControlKeepsTheFitWhereTheFunctionsAreDefined) {
    // From means a tenth of the data the full step of 1/eta jumps to eta < 0, where SQRT is
    // undefined; halving brings it back, and the fit reaches nls's estimates.
    DeclarePuromycin();
    Run("S = 10/RATE");
    Fit("RATE=1+X", "1/SQR(SQRT(.))", "-1/SQR(.)", "1", "S");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    ExpectRelative(models::Parameter(1), 4.701818e-03);
    ExpectRelative(models::Parameter(2), 3.014863e-04);
}

TEST_F(NonLinTest, AFitThatCannotConvergeStopsAfterOneHundredIterations) {
    // Dm of the wrong sign sends every step away from the data; the fit ends with the
    // warning and the last weighted fit, not with an overflow.
    Run("Y = [1 2 3 4]");
    std::string out = Fit("Y=1", ".", "-1", "1");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(Contains(
        out, "Warning: maximum of 100 iterations performed.\nOutput from last iteration:"));
}

}  // namespace korw::special::test
