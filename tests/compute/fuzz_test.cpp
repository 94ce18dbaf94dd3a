// Random expression texts over a small vocabulary either compute or fail with one of the
// compiler's messages; never a crash, a stray temporary vector or an unknown message.

#include <random>
#include <set>
#include <string>

#include "compute_test.h"

namespace korw::compute::test {
namespace {

using FuzzTest = ComputeTest;

const char* const Vocabulary[] = {
    "X",        "F",     "K",      "Y",    "NOPE",   "1",      "0",    "2.5", "1E5",   "1E39",
    "E",        ".",     "#",      "##",   "RANDOM", "NORMAL", "EXP(", "LN(", "SQRT(", "PHIINV(",
    "POISSON(", "MEAN(", "SUM(F)", "#(X)", "##(",    "(",      ")",    "(",   ")",     "+",
    "-",        "*",     "/",      "^",    "=",      "<",      ">",    "<=",  "<>",    ">=",
    "=>",       "==",    "[",      "]",    "[1 2]",  "[X *]",  " ",    "X(",  "Y(",    "F(",
};

// A message is acceptable when it is one of the fixed texts or begins with a known prefix.
bool KnownMessage(const std::string& m) {
    static const std::set<std::string> fixed = {
        "Missing ]",
        "Empty vector constant",
        "Missing right hand side",
        "Missing left hand side",
        "Too many )",
        "Too many (",
        "Empty expression / adjacent operators",
        "Relational operators are not associative - use parentheses",
        "Operator ^ is not associative - use parentheses",
        "Register overflow",
        "Operations overflow",
    };
    if (fixed.count(m) != 0) return true;
    for (const char* prefix : {"Invalid vector name ", "Operator ", "Constant ", "Vector ",
                               "Invalid expression ", "Invalid character ", "Identifier "}) {
        if (m.rfind(prefix, 0) == 0) return true;
    }
    return m.size() > 12 && m.substr(m.size() - 12) == " not defined";
}

TEST_F(FuzzTest, RandomTextsComputeOrGiveAKnownMessage) {
    Variate("X", {1, -2, 0, 4, 0.5f});
    data::DeclareFactor("F", 5, 3);
    Variate("K", {3});
    std::mt19937 generator(20261207);
    std::uniform_int_distribution<size_t> word(0, std::size(Vocabulary) - 1);
    std::uniform_int_distribution<int> words(1, 12);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = words(generator); n > 0; --n) text += Vocabulary[word(generator)];
        std::string target = round % 3 == 0 ? "F" : "Y";
        Compute(target + " = " + text);
        if (!data::ErrorFree) {
            ASSERT_TRUE(KnownMessage(data::ErrorMessage)) << text << ": " << data::ErrorMessage;
        }
        ASSERT_EQ(data::FindVector("SYS1"), 0) << text;
        ASSERT_EQ(data::LengthOf("F"), 5);
        data::Delete("Y");
        data::ErrorFree = true;
    }
}

}  // namespace
}  // namespace korw::compute::test
