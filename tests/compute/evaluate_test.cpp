// The evaluator: missing-value rules, warning lines, storing unit by unit, factor left-hand
// sides and the random generators.

#include <cmath>
#include <string>

#include "compute_test.h"
#include "data/restrict.h"

namespace korw::compute::test {
namespace {

using EvaluateTest = ComputeTest;

const std::string Header = "Warning: Some values have been set to MissingValue due to\n";
const std::string LevelHeader = "Warning: Some levels have been set to zero due to\n";

TEST_F(EvaluateTest, DivisionAndLogarithm) {
    Variate("X", {2, 0, M});
    Run("Y = 1/X");
    EXPECT_EQ(Values("Y"), (std::vector<float>{0.5f, M, M}));
    EXPECT_EQ(Output(), Header + "- division by zero (1 cases)\n");
    Variate("L", {1, 0, -1, M});
    Run("Z = LN(L)");
    EXPECT_EQ(Values("Z"), (std::vector<float>{0, M, M, M}));
    EXPECT_EQ(Output(), Header + "- negative or zero ln() argument (2 cases)\n");
    Variate("S", {4, -4, M});
    Run("Q = SQRT(S) + SQR(S) + ABS(S) + INT(-2.7)");
    EXPECT_EQ(Values("Q"), (std::vector<float>{2 + 16 + 4 - 2, M, M}));
    EXPECT_EQ(Output(), Header + "- sqrt() or phiinv() argument out of range (1 cases)\n");
    Run("Q = S / 0 / 0");  // counted per operation, a missing dividend included
    EXPECT_EQ(Output(), Header + "- division by zero (6 cases)\n");
}

TEST_F(EvaluateTest, PowerRules) {
    auto value = [&](const std::string& expression) {
        Compute("Y = " + expression);
        return Values("Y")[0];
    };
    EXPECT_EQ(value("(-8)^(1/3)"), M);
    EXPECT_EQ(Output(),
              Header + "- 0^b for b negative, or a^b for a<0 and b non-integer (1 cases)\n");
    EXPECT_FLOAT_EQ(value("(-2)^3"), -8);
    EXPECT_FLOAT_EQ(value("(-2)^2"), 4);
    EXPECT_FLOAT_EQ(value("(-2)^2.0000001"), 4);
    EXPECT_EQ(value("0^0"), 1);
    EXPECT_EQ(value("0^2"), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(value("0^(-1)"), M);
    EXPECT_EQ(Output(),
              Header + "- 0^b for b negative, or a^b for a<0 and b non-integer (1 cases)\n");
    EXPECT_EQ(value("10^39 + (-10)^39"), M);
    EXPECT_EQ(value("10^(-50)"), 0);
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (2 cases)\n");
    EXPECT_EQ(value("EXP(89)"), M);
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (1 cases)\n");
    EXPECT_EQ(value("EXP(-104)"), 0);
    // The bounds are ln(3.3E38) = 88.6921560 and ln(1.6E-45) = -103.1463256 themselves: just
    // past them the result is an overflow (not a value out of range) or 0 (not the smallest
    // single denormal).
    EXPECT_EQ(value("EXP(88.69216)"), M);
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (1 cases)\n");
    EXPECT_EQ(value("EXP(0-103.14635)"), 0);
    EXPECT_GT(value("EXP(0-103.14632)"), 0);
    EXPECT_EQ(value("1E38*10"), M);
    EXPECT_EQ(Output(),
              Header + "- algebraic operations resulting in value out of range (1 cases)\n");
}

TEST_F(EvaluateTest, NormalFunctionsAndRelations) {
    Compute("Y = PHIINV(0.975)");
    EXPECT_NEAR(Values("Y")[0], 1.959964, 1e-5);
    Compute("Y = PHI(0)");
    EXPECT_FLOAT_EQ(Values("Y")[0], 0.5);
    // Far lower tails keep their relative accuracy (R: pnorm(-9), pnorm(-10, log.p = TRUE)).
    Compute("Y = PHI(0-9)");
    EXPECT_FLOAT_EQ(Values("Y")[0], 1.1285884e-19f);
    Compute("Y = LN(PHI(0-10))");
    EXPECT_NEAR(Values("Y")[0], -53.231285, 1e-5);
    EXPECT_EQ(Output(), "");
    Compute("Y = PHIINV(1)");
    EXPECT_EQ(Values("Y")[0], M);
    Compute("Y = PHIINV(0.0000000001)");
    EXPECT_EQ(Values("Y")[0], M);
    EXPECT_EQ(Output(), Header + "- sqrt() or phiinv() argument out of range (1 cases)\n" + Header +
                            "- sqrt() or phiinv() argument out of range (1 cases)\n");
    Variate("X", {0.1f, 0.2f, M});
    Run("R = (X = 0.1) + (X <> 0.2) * 2 + (X >= 0.2) * 4");
    EXPECT_EQ(Values("R"), (std::vector<float>{3, 4, M}));
}

TEST_F(EvaluateTest, UnitNumbersIndexAndRestriction) {
    Variate("X", {1, 2, 3, 4, 5});
    Variate("Y", std::vector<float>(5, 0));
    data::Exclude(2);
    Run("Y = # + ## * 10");
    EXPECT_EQ(Values("Y"), (std::vector<float>{51, 0, 53, 54, 55}));
    Run("Y = X(0)");
    EXPECT_EQ(Values("Y"), (std::vector<float>{M, 0, M, M, M}));
    EXPECT_EQ(Output(), Header + "- index non-integer or out of range (4 cases)\n");
    Run("Y = X(# + 0.5)");
    EXPECT_EQ(Output(), Header + "- index non-integer or out of range (4 cases)\n");
    data::IncludeAll();
    // Each unit is stored before the next is computed.
    Run("X = X(6-#)");
    EXPECT_EQ(Values("X"), (std::vector<float>{5, 4, 3, 4, 5}));
    // A length-1 left-hand side ignores the restriction.
    Variate("ONE", {0});
    data::Exclude(1);
    Run("ONE = 9");
    EXPECT_EQ(Values("ONE"), std::vector<float>{9});
}

TEST_F(EvaluateTest, FactorLeftHandSide) {
    data::DeclareFactor("F", 4, 3);
    data::Exclude(4);
    Run("F = 4");
    EXPECT_EQ(Levels("F"), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Output(), LevelHeader + "- factor level non-integer or out of range (3 cases)\n");
    Run("F = 2.5");
    EXPECT_EQ(Output(), LevelHeader + "- factor level non-integer or out of range (3 cases)\n");
    Run("F = 0");
    EXPECT_EQ(Output(), "");
    Run("F = #");
    EXPECT_EQ(Levels("F"), (std::vector<int>{1, 2, 3, 0}));
    Run("F = 1/(#-2)");
    EXPECT_EQ(Levels("F"), (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(Output(), LevelHeader + "- division by zero (1 cases)\n" +
                            "- factor level non-integer or out of range (2 cases)\n");
}

TEST_F(EvaluateTest, FrameWithoutContinueOnError) {
    data::ContinueOnError = false;
    Compute("y = 1/0");
    std::string stars(80, '*');
    EXPECT_EQ(Output(), stars + "\nOurUnit.Compute\nY=1/0\n" + Header +
                            "- division by zero (1 cases)\n" + stars + "\n\n");
}

TEST_F(EvaluateTest, BlockPathMatchesUnitByUnit) {
    std::vector<float> x;
    for (int i = 0; i < 1000; ++i) x.push_back(i % 7 == 0 ? M : (i - 500) / 50.0f);
    Variate("X", x);
    for (int u = 3; u <= 1000; u += 11) data::Exclude(u);
    const char* expressions[] = {
        "EXP(X)/(1+EXP(X))",
        "(X-MEAN(X))^2",
        "1/X + LN(X) + SQRT(X)",
        "X(1000-#) * (X > 0)",
        "(-X)^2.5 + X^X",
        "EXP(X*20)*1E30",
        // Repeated operations are run once on the block path; their warnings count twice.
        "1/X + 1/X",
        "EXP(X*20)*EXP(X*20)*1E30",
        "LN(X)-LN(X)+(X-X)/(X-X)",
        // Integral exponents are formed by multiplication, the square in its own loop.
        "X^2 + X^3 + X^(-2) + (X*1E19)^2 + (X/1E23)^2 + (-X)^7",
        "SQR(X*1E19) - X*X",
    };
    for (const char* e : expressions) {
        Run(std::string("A = ") + e);
        std::string blockOutput = Output();
        // RANDOM forces the unit-by-unit path; the term adds exactly 0 and no warning.
        Run(std::string("B = ") + e + " + RANDOM*0");
        EXPECT_EQ(Values("A"), Values("B")) << e;
        EXPECT_EQ(blockOutput, Output()) << e;
    }
}

// Vectors long enough to be shared between threads: the parts' values and counts add up to
// those of one pass unit by unit, also where the restriction cuts the blocks.
TEST_F(EvaluateTest, LongVectorsMatchUnitByUnit) {
    const int units = 700001;
    std::vector<float> x(units);
    for (int i = 0; i < units; ++i) x[i] = i % 13 == 0 ? M : static_cast<float>(i % 101 - 50);
    Variate("X", x);
    for (int u = 5; u <= units; u += 997) data::Exclude(u);
    for (const char* e : {"1/X + EXP(X)^2", "(X - MEAN(X))^2 + LN(X)"}) {
        Run(std::string("A = ") + e);
        std::string blockOutput = Output();
        Run(std::string("B = ") + e + " + RANDOM*0");
        EXPECT_EQ(Values("A"), Values("B")) << e;
        EXPECT_EQ(blockOutput, Output()) << e;
    }
}

// EXP is computed by the evaluator itself (in vector lanes); it must give the single-precision
// values of the library's exponential, and stay within one unit in the last place of double.
TEST_F(EvaluateTest, ExponentialAgreesWithTheLibrary) {
    std::vector<float> x;
    for (int i = 0; i <= 200000; ++i) x.push_back(-103.0f + 191.6f * static_cast<float>(i) / 2e5f);
    Variate("X", x);
    Run("Y = EXP(X)");
    Run("Z = EXP(X) / 1E30 / EXP(X-69.0775527898)");  // ~1 when each EXP is accurate
    std::vector<float> y = Values("Y"), z = Values("Z");
    int differ = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (y[i] != static_cast<float>(std::exp(static_cast<double>(x[i])))) ++differ;
        if (z[i] != M) {
            EXPECT_NEAR(z[i], 1.0, 1e-6) << x[i];
        }
    }
    EXPECT_EQ(differ, 0);
    Run("E = EXP(1) - 2.718281828459045");  // within one unit in the last place of double
    EXPECT_LT(std::fabs(Values("E")[0]), 5e-16);
}

// Integral exponents: a^n by multiplication, with the rules of e^(n ln a) for the result.
TEST_F(EvaluateTest, IntegralPowers) {
    Variate("X", {3, -3, 0, M, 1E20f, 1E-23f, 0.1f});
    Run("Y = X^2");
    const double p = static_cast<double>(0.1f);
    EXPECT_EQ(Values("Y"), (std::vector<float>{9, 9, 0, M, M, 0, static_cast<float>(p * p)}));
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (1 cases)\n");
    Run("Y = X^3");
    EXPECT_EQ(Values("Y")[1], -27);
    EXPECT_EQ(Values("Y")[6], static_cast<float>(p * p * p));
    Output();
    Run("Y = X^(-2)");
    EXPECT_EQ(Values("Y")[0], static_cast<float>(1.0 / 9));
    EXPECT_EQ(Values("Y")[2], M);  // 0^(-2)
    EXPECT_EQ(Values("Y")[5], M);  // (1E-23)^(-2) = 1E46
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (1 cases)\n" +
                  "- 0^b for b negative, or a^b for a<0 and b non-integer (1 cases)\n");
}

TEST_F(EvaluateTest, RandomGenerator) {
    SetRandomSeed(0);
    EXPECT_EQ(Random(), 1.0 / 4294967296.0);
    EXPECT_EQ(RandomSeed(), 1u);
    EXPECT_EQ(Random(), 134775814.0 / 4294967296.0);
    // The right operand is drawn first.
    SetRandomSeed(12345);
    double first = Random();
    double second = Random();
    SetRandomSeed(12345);
    Run("Y = RANDOM - RANDOM");
    EXPECT_FLOAT_EQ(Values("Y")[0], static_cast<float>(second - first));
    SetRandomSeed(777);
    double u1 = Random(), u2 = Random();
    SetRandomSeed(777);
    EXPECT_DOUBLE_EQ(Normal(), std::sin(6.283185307179586 * u1) * std::sqrt(-2 * std::log(u2)));
}

TEST_F(EvaluateTest, SeedFromTimeOfDay) {
    data::SetClock([] {
        data::ClockReading r;
        r.local.tm_hour = 1;  // the local time of day is not the seed
        r.utc.tm_hour = 23;
        r.utc.tm_min = 59;
        r.utc.tm_sec = 58;
        r.milliseconds = 999;
        return r;
    });
    SeedRandomFromClock();
    data::SetClock(nullptr);
    EXPECT_EQ(RandomSeed(), ((23u * 60 + 59) * 60 + 58) * 1000 + 999);
}

TEST_F(EvaluateTest, PoissonCounts) {
    SetRandomSeed(2024);
    for (double lambda : {0.5, 30.0, 500.0, 5.0e6}) {
        double sum = 0, squares = 0;
        const int n = 4000;
        for (int i = 0; i < n; ++i) {
            double k = Poisson(lambda);
            sum += k;
            squares += k * k;
        }
        double mean = sum / n, variance = squares / n - mean * mean;
        EXPECT_NEAR(mean, lambda, 5 * std::sqrt(lambda / n)) << lambda;
        EXPECT_NEAR(variance / lambda, 1.0, 0.15) << lambda;
    }
    EXPECT_EQ(Poisson(0), 0);
    EXPECT_EQ(Poisson(-3), 0);
    Poisson(3.0e9);
    EXPECT_FALSE(data::ErrorFree);
    EXPECT_EQ(data::ErrorMessage, "Poisson parameter too large");
    Run("Y = POISSON(3E9)");
    EXPECT_EQ(Values("Y")[0], M);
    EXPECT_EQ(Output(),
              Header + "- too big exp() or Poisson() argument, or too big power a^b (1 cases)\n");
}

}  // namespace
}  // namespace korw::compute::test
