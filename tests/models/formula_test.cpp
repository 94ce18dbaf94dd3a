// Model formulas: normalisation and expansion, term names and column order, the limits, and
// what a deletion does to the fit record.
#include <random>
#include <set>

#include "models_test.h"

namespace korw::models::test {

namespace {

std::string Parsed(std::string formula) {
    ParseFormula(formula);
    return data::ErrorFree ? formula : "error: " + data::ErrorMessage;
}

}  // namespace

TEST_F(ModelTest, FormulaNormalisationAndExpansion) {
    EXPECT_EQ(Parsed("a b*c"), "A+B*C");
    EXPECT_EQ(Parsed(" A + ( B ) "), "A+B");
    EXPECT_EQ(Parsed("(A+B)*(C+D)"), "A*C+A*D+B*C+B*D");
    EXPECT_EQ(Parsed("A*(B+C*(D+E))"), "A*B+A*C*D+A*C*E");
    EXPECT_EQ(Parsed("1 + x * ( y + z ) * w"), "1+X*Y*W+X*Z*W");
    EXPECT_EQ(Parsed("A**B"), "error: Syntax error ** in model specification");
    EXPECT_EQ(Parsed("A+)"), "error: Syntax error +) in model specification");
    EXPECT_EQ(Parsed("()"), "error: Syntax error () in model specification");
    EXPECT_EQ(Parsed("A)(B"), "error: Syntax error )( in model specification");
    EXPECT_EQ(Parsed("A-B"), "error: Invalid character - in model formula");
    EXPECT_EQ(Parsed("A+\xC3\xA9"), "error: Invalid character \xC3\xA9 in model formula");
    EXPECT_EQ(Parsed("(A+B"), "error: Too many (");
    EXPECT_EQ(Parsed("A+B)"), "error: Too many )");
    // Each factor of five doubles the terms: 32 products of five names pass 255 characters.
    EXPECT_EQ(Parsed("(AAAA+BBBB)*(C+D)*(E+F)*(G+H)*(I+J)*(K+L)"),
              "error: Expanded model formula too long");
}

TEST_F(ModelTest, TermNamesAndColumnOrder) {
    data::DeclareVariate("Y X", 6);
    data::DeclareFactor("A", 6, 3);
    data::DeclareFactor("B", 6, 2);
    BuildColumns("B*A+1+X+X*X+X*A*A+Y", 6);
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    FitOk("Y = B*A + 1 + X + X*X + X*A*A");
    const char* names[] = {"A[1]*B[1]", "A[1]*B[2]", "A[2]*B[1]", "A[2]*B[2]",
                           "A[3]*B[1]", "A[3]*B[2]", "CONSTANT",  "X",
                           "X*X",       "A[1]*X",    "A[2]*X",    "A[3]*X"};
    ASSERT_EQ(NumberOfLinParameters(), 12);
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(ParameterName(k), names[k - 1]);
    ParameterName(13);
    EXPECT_EQ(data::ErrorMessage, "Argument 13 out of range");
    std::string out = FitOk("Y = B*A + X*A*A");
    EXPECT_NE(out.find("\nA*B "), std::string::npos);
    EXPECT_NE(out.find("\nA*X "), std::string::npos);
}

TEST_F(ModelTest, FormulaLimits) {
    data::DeclareVariate("Y X", 4);
    data::DeclareFactor("F", 4, 250);
    data::DeclareFactor("G", 4, 4);
    // 49 terms and the response make 50; one more term is too many.
    std::string terms = "1";
    for (int t = 2; t <= 49; ++t) terms += "+X";
    FitOk("Y = " + terms);
    EXPECT_EQ(FitError("Y = " + terms + "+X"), "Too many terms in model specification");
    EXPECT_EQ(FitError("Y = X*X*X*X*X*X*X*X*X*X*X"),
              "Too high order of term X*X*X*X*X*X*X*X*X*X*X");
    FitOk("Y = X*X*X*X*X*X*X*X*X*X");
    // 999 columns and the response fit; 1000 model columns do not.
    data::DeclareFactor("H", 4, 249);
    FitOk("Y = F + F + F + H");
    EXPECT_EQ(NumberOfLinParameters(), 999);
    EXPECT_EQ(FitError("Y = F + F + F + F"), "Too many parameters");
}

TEST_F(ModelTest, DeletingAVectorOfTheFit) {
    DeclareTestData();
    NumberOfParameters();
    EXPECT_EQ(data::ErrorMessage, "No model fitted");
    FitOk("Y = 1 + A + X1");
    EXPECT_EQ(data::ModelFit().crossProductOrder(), 6);
    data::Delete("B X2");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NumberOfParameters(), 5);
    data::Delete("X1 A");
    EXPECT_EQ(Output(), "WARNING: Information about last model fit is lost\n");
    ListParameters();
    EXPECT_EQ(data::ErrorMessage, "No model fit information available");
    Fitted(1);
    EXPECT_EQ(data::ErrorMessage, "No model fit information available");
    EXPECT_EQ(data::ModelFit().crossProductOrder(), 0);
}

// Random texts over the formula alphabet: each ends in a fit or in one of the known messages.
TEST_F(ModelTest, FormulaFuzz) {
    data::DeclareVariate("Y A B", 5);
    data::DeclareFactor("F", 5, 3);
    for (int u = 1; u <= 5; ++u) {
        data::AssignValue("Y", u, static_cast<float>(u * u % 7));
        data::AssignValue("A", u, static_cast<float>(u));
        data::AssignValue("B", u, static_cast<float>(u % 3));
        data::AssignLevel("F", u, u % 3 + 1);
    }
    const std::string alphabet = "AB1F()+* *-";
    const char* prefixes[] = {"Syntax error ", "Invalid character ", "Invalid identifier",
                              "Invalid first character in identifier ", "Too high order of term "};
    const std::set<std::string> messages = {
        "Too many )", "Too many (", "Expanded model formula too long",
        "Too many terms in model specification", "Too many parameters"};
    std::mt19937 random(20091);
    for (int i = 0; i < 3000; ++i) {
        std::string formula;
        int length = 1 + static_cast<int>(random() % 24);
        for (int c = 0; c < length; ++c) formula += alphabet[random() % alphabet.size()];
        FitLinearNormal("Y = " + formula);
        if (data::ErrorFree) continue;
        const std::string& m = data::ErrorMessage;
        bool known = messages.count(m) > 0;
        for (const char* p : prefixes) known = known || m.rfind(p, 0) == 0;
        known = known || m.find(" not found in vector list") != std::string::npos;
        EXPECT_TRUE(known) << formula << ": " << m;
    }
}

}  // namespace korw::models::test
