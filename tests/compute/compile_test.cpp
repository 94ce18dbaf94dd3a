// The compiler: syntax, operation sequences, vector constants, the length rule and every
// compile message.

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "compute/expression_index.h"
#include "compute_test.h"
#include "data/restrict.h"

namespace korw::compute::test {
namespace {

using CompileTest = ComputeTest;

TEST_F(CompileTest, PrecedenceAndAssociativity) {
    Run("Y = 10 - 4 - 3");
    EXPECT_EQ(Values("Y"), std::vector<float>{3});
    Run("Y = 12 / 2 / 3");
    EXPECT_EQ(Values("Y"), std::vector<float>{2});
    Run("Y = -2^2");
    EXPECT_EQ(Values("Y"), std::vector<float>{-4});
    Run("y = (2^3)^2");
    EXPECT_EQ(Values("Y"), std::vector<float>{64});
    Run("Y = 1 + 2 * 3 ^ 2 < 20");
    EXPECT_EQ(Values("Y"), std::vector<float>{1});
    Run("Y = ((((3))))");
    EXPECT_EQ(Values("Y"), std::vector<float>{3});
    Run("Y = 1E5 + .5 + 2.");
    EXPECT_EQ(Values("Y"), std::vector<float>{100002.5f});
    EXPECT_EQ(ErrorOf("Y = 2^3^2"), "Operator ^ is not associative - use parentheses");
    EXPECT_EQ(ErrorOf("Y = A < B < C"),
              "Relational operators are not associative - use parentheses");
    Run("Y = (1 < 2) < 3");
    EXPECT_EQ(Values("Y"), std::vector<float>{1});
}

TEST_F(CompileTest, OperationSequenceRunsRightOperandFirst) {
    Variate("A", {1, 2, 3});
    Variate("B", {4, 5, 6});
    Run("Y = A - B * 2");
    EXPECT_EQ(DisassembleOperations(LastProgram()),
              "R1 = 2\n"
              "R2 := variate B\n"
              "R3 := R2 * R1\n"
              "R4 := variate A\n"
              "R5 := R4 - R3\n"
              "result R5\n");
    Run("Y = EXP(-A) <= A(#+1)");
    EXPECT_EQ(DisassembleOperations(LastProgram()),
              "R1 = 1\n"
              "R6 = 0\n"
              "R2 := #\n"
              "R3 := R2 + R1\n"
              "R4 := variate A(R3) of 3\n"
              "R5 := variate A\n"
              "R7 := R6 - R5\n"
              "R8 := EXP(R7)\n"
              "R9 := R8 <= R4\n"
              "result R9\n");
    // A length-1 variate and the reductions are constants read at compile time.
    Variate("K", {7});
    Run("Y = K + MEAN(A) + #(A) + ##(NONE)");
    EXPECT_EQ(DisassembleOperations(LastProgram()),
              "R1 = 0\nR2 = 3\nR3 = 2\nR4 = 7\nR5 := R4 + R3\nR6 := R5 + R2\nR7 := R6 + R1\n"
              "result R7\n");
}

TEST_F(CompileTest, RegisterAndOperationLimits) {
    std::string sum = "1";
    for (int i = 2; i <= 100; ++i) sum += "+1";
    Run("Y = " + sum);
    EXPECT_EQ(Values("Y"), std::vector<float>{100});
    EXPECT_EQ(LastProgram().nextRegister, 200);
    EXPECT_EQ(LastProgram().count, 99);
    EXPECT_EQ(ErrorOf("Z = " + sum + "+1"), "Register overflow");
    // A deeply nested expression fails the same way instead of exhausting the stack.
    std::string deep(5000, '(');
    deep = "Y = " + std::string(3000, 'A') + "EXP(" + deep;
    EXPECT_NE(ErrorOf(deep), "");
    std::string nested;
    for (int i = 0; i < 3000; ++i) nested += "EXP(";
    nested += "1" + std::string(3000, ')');
    EXPECT_EQ(ErrorOf("Y = " + nested), "Register overflow");
}

// No level of the compiler rereads the text of its part: lines of a million characters compile
// or fail in time proportional to their length, whatever they nest (deep parentheses, long lines
// of relations, chains, functions and indexes nested to the limit around a long operand).
TEST_F(CompileTest, LongLinesCompileInProportionToTheirLength) {
    Variate("A", {1, 2, 3});
    auto start = std::chrono::steady_clock::now();
    const int n = 300000;
    Run("Y = " + std::string(n, '(') + "2" + std::string(n, ')'));
    EXPECT_EQ(Values("Y"), std::vector<float>{2});
    std::string relations = "1";
    for (int i = 0; i < n; ++i) relations += "<=1";
    EXPECT_EQ(ErrorOf("Y = " + relations),
              "Relational operators are not associative - use parentheses");
    EXPECT_EQ(ErrorOf("Y = " + std::string(n, '(') + "2" + std::string(n + 1, ')')), "Too many )");
    std::string chain = "1", nested;
    for (int i = 0; i < n; ++i) chain += "+1";
    for (int i = 0; i < n; ++i) nested += "(1+";
    nested += "1" + std::string(n, ')');
    EXPECT_EQ(ErrorOf("Y = " + chain), "Register overflow");
    EXPECT_EQ(ErrorOf("Y = " + nested), "Register overflow");
    // The rightmost operand is compiled first, so a long chain reports its last operand's fault
    // before it runs out of registers.
    EXPECT_EQ(ErrorOf("Y = " + chain + "+NOPE"), "Invalid expression NOPE");

    const std::string digits(1000000, '1');
    std::string prefixes[] = {"EXP(", "A(", "(2*", "-(", "(1+"};
    for (const std::string& prefix : prefixes) {
        std::string deep;
        for (int i = 0; i < 990; ++i) deep += prefix;
        deep += digits + std::string(990, ')');
        EXPECT_EQ(ErrorOf("Y = " + deep), "Constant " + digits + " out of range") << prefix;
    }
    std::string functions;
    for (int i = 0; i < 190; ++i) functions += "ABS(";
    Run("Y = " + functions + "-0" + std::string(199000, '0') + "2" + std::string(190, ')'));
    EXPECT_EQ(Values("Y"), std::vector<float>{2});
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    // Under half a second in an optimised build; the old compiler took over a minute. The
    // sanitizer build on a loaded machine is many times slower.
#ifdef __SANITIZE_ADDRESS__
    EXPECT_LT(seconds.count(), 40.0);
#else
    EXPECT_LT(seconds.count(), 5.0);
#endif
}

// The tables the compiler answers from agree with a direct scan of the text, over texts with
// unbalanced parentheses and depths below zero, and ranges within and across blocks.
TEST(ExpressionIndexTest, AgreesWithADirectScan) {
    using detail::OperatorClass;
    std::mt19937 random(7);
    const std::string alphabet = "(((())))+-*/^<=>X";
    for (size_t length : {0, 1, 5, 31, 32, 33, 100, 1000}) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        detail::ExpressionIndex index(text, true);
        std::vector<int32_t> depth(length + 1, 0);
        for (size_t i = 0; i < length; ++i)
            depth[i + 1] = depth[i] + (text[i] == '(') - (text[i] == ')');
        for (int trial = 0; trial < 2000; ++trial) {
            size_t from = random() % (length + 1), to = random() % (length + 1);
            if (from > to) std::swap(from, to);
            ASSERT_EQ(index.Depth(to), depth[to]);
            ASSERT_EQ(index.MinDepth(from, to),
                      *std::min_element(depth.begin() + from, depth.begin() + to + 1))
                << text << " " << from << " " << to;
            for (OperatorClass k : {OperatorClass::Relational, OperatorClass::Additive,
                                    OperatorClass::Multiplicative, OperatorClass::Power}) {
                int32_t expected = -1;
                for (size_t j = 0; j < to; ++j)
                    if (detail::InClass(static_cast<unsigned char>(text[j]), k) &&
                        depth[j] == depth[to])
                        expected = static_cast<int32_t>(j);
                ASSERT_EQ(index.Previous(k, to), expected) << text << " " << to;
            }
        }
    }
}

TEST_F(CompileTest, MessagesInOrder) {
    Variate("X", {1, 2, 3});
    data::DeclareFactor("SEX", 3, 2);
    Variate("SHORT", {1, 2});
    EXPECT_EQ(ErrorOf("Y = [1 2"), "Missing ]");
    EXPECT_EQ(ErrorOf("Y = [   ]"), "Empty vector constant");
    EXPECT_EQ(ErrorOf("Y = [1 NOPE]"), "Invalid vector name NOPE");
    EXPECT_EQ(ErrorOf("Y = [1,2]"), "Invalid vector name 1,2");
    EXPECT_EQ(ErrorOf("Y = "), "Missing right hand side");
    EXPECT_EQ(ErrorOf("Y"), "Missing right hand side");
    EXPECT_EQ(ErrorOf(" = 3"), "Missing left hand side");
    EXPECT_EQ(ErrorOf("Y = (X))+((X)"), "Too many )");
    EXPECT_EQ(ErrorOf("Y = X * -1"), "Empty expression / adjacent operators");
    EXPECT_EQ(ErrorOf("Y = 2^-1"), "Empty expression / adjacent operators");
    EXPECT_EQ(ErrorOf("Y = ()"), "Empty expression / adjacent operators");
    EXPECT_EQ(ErrorOf("Y = X => 1"), "Operator => does not exist");
    EXPECT_EQ(ErrorOf("Y = X == 1"), "Operator == does not exist");
    EXPECT_EQ(ErrorOf("Y = ((X)"), "Too many (");
    EXPECT_EQ(ErrorOf("Y = MEAN(SEX)"), "MEAN(SEX) not defined");
    EXPECT_EQ(ErrorOf("Y = 1E39"), "Constant 1E39 out of range");
    EXPECT_EQ(ErrorOf("Y = X + SHORT"), "Vector X is of incorrect length");
    EXPECT_EQ(ErrorOf("Y = 1E-5"), "Invalid expression 1E");
    EXPECT_EQ(ErrorOf("Y = MEAN(X+0)"), "Invalid expression MEAN(X+0)");
    EXPECT_EQ(ErrorOf("Y = MEAN(X<=1)>=1"), "Invalid expression MEAN(X<=1)");
    EXPECT_EQ(ErrorOf("Y = E5"), "Invalid expression E5");
    EXPECT_EQ(ErrorOf("1Y = X"), "Invalid first character in identifier 1Y");
    EXPECT_EQ(data::LengthOf("Y"), 0);  // no failed command left Y behind
    Run("Y = MEAN(X) + 0");
    EXPECT_EQ(Values("Y"), std::vector<float>{2});
}

TEST_F(CompileTest, LeftHandSideAndLengthRule) {
    Variate("X", std::vector<float>(10, 1));
    Run("Y = 2");
    EXPECT_EQ(Values("Y"), std::vector<float>{2});
    data::Exclude(4);
    Run("Z = X + 1");
    std::vector<float> expected(10, 2);
    expected[3] = 0;  // excluded units of a new variate keep 0.0
    EXPECT_EQ(Values("Z"), expected);
    EXPECT_EQ(ErrorOf("Y = X"), "Vector X is of incorrect length");
    // A factor left-hand side stays a factor; a new one is always a variate.
    data::DeclareFactor("F", 10, 3);
    Run("F = 2");
    EXPECT_EQ(Levels("F")[0], 2);
    Run("G = F");
    EXPECT_EQ(data::NumberOfLevels("G"), 0);
    EXPECT_EQ(Values("G")[0], 2);
}

TEST_F(CompileTest, VectorConstants) {
    Run("Y = [1 2 * 4]");
    EXPECT_EQ(Values("Y"), (std::vector<float>{1, 2, M, 4}));
    EXPECT_EQ(data::LengthOf("SYS1"), 0);
    Variate("X", {3, 4});
    Run("Z = [5] * X");
    EXPECT_EQ(Values("Z"), (std::vector<float>{15, 20}));
    Run("W = [x   X]");
    EXPECT_EQ(Values("W"), (std::vector<float>{3, 4, 3, 4}));
    data::DeclareFactor("F", 2, 3);
    data::AssignLevel("F", 2, 3);
    Run("V = [F -1.5 1e2]");
    EXPECT_EQ(Values("V"), (std::vector<float>{0, 3, -1.5f, 100}));
    // A failing command removes its temporaries and the left-hand variate it declared.
    EXPECT_EQ(ErrorOf("NEW = [1 2 3] + X"), "Vector SYS1 is of incorrect length");
    EXPECT_EQ(data::LengthOf("NEW"), 0);
    EXPECT_EQ(data::LengthOf("SYS1"), 0);
    // The temporary cannot name itself (it did not exist when the lengths were counted).
    EXPECT_EQ(ErrorOf("Y = [1 SYS1]"), "Invalid vector name SYS1");
    EXPECT_EQ(ErrorOf("Y = [1e39]"), "Constant 1e39 out of range");
}

TEST_F(CompileTest, VectorsNamedLikeSymbols) {
    Variate("EXP", {10, 20, 30});
    Run("Y = EXP(3)");  // an indexed reference sets no length
    EXPECT_EQ(Values("Y"), (std::vector<float>{30}));
    Variate("RANDOM", {1, 2, 3});
    Run("Z = RANDOM * 2");
    EXPECT_EQ(Values("Z"), (std::vector<float>{2, 4, 6}));
}

}  // namespace
}  // namespace korw::compute::test
