#include "data/format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korw::data {
namespace {

// Worked from the rules of WriteNumber: too large, too small, below 1, and plain.
TEST(WriteNumberFormat, ChoosesExponentAndDecimals) {
    EXPECT_EQ(NumberText(6, 5, 123456), " 0.1235e6");      // too large for 6 characters
    EXPECT_EQ(NumberText(6, 4, 0.000456), " 0.4560e-3");   // too small for 6 characters
    EXPECT_EQ(NumberText(10, 4, 0.000456), " 0.0004560");  // below 1: trunc(-log10 a) + D decimals
    EXPECT_EQ(NumberText(10, 4, 12.3456), "     12.35");   // k = 1: D - 2 decimals
    EXPECT_EQ(NumberText(10, 4, 123456), "    123456");    // more digits than D: no decimals
    EXPECT_EQ(NumberText(10, 4, -2.5), "    -2.500");
    EXPECT_EQ(NumberText(10, 4, 0), "    0.0000");  // 0 chooses its format as 0.5
    EXPECT_EQ(NumberText(10, 4, 1), "     1.000");
    EXPECT_EQ(NumberText(10, 4, 0.05), "   0.05000");
    EXPECT_EQ(NumberText(6, 5, 99999.7), " 0.1000e6");  // the 0.51 guard keeps it below 1
    EXPECT_EQ(NumberText(8, 4, 1.5e12), " 0.150e13");   // two exponent digits: one less field
    EXPECT_EQ(NumberText(8, 3, -2.5e-12), "-0.250e-11");
    EXPECT_EQ(NumberText(20, 8, 9), "           9.0000000");
}

TEST(WriteNumberFormat, ChosenFormats) {
    NumberFormat f = ChooseNumberFormat(6, 5, 123456);
    EXPECT_EQ(f.exponent, 6);
    EXPECT_EQ(f.decimals, 4);
    EXPECT_EQ(f.width, 9);
    f = ChooseNumberFormat(6, 4, 0.000456);
    EXPECT_EQ(f.exponent, -3);
    EXPECT_EQ(f.decimals, 4);
    EXPECT_EQ(f.width, 10);
    f = ChooseNumberFormat(8, 3, 2.5e-120);
    EXPECT_EQ(f.exponent, -119);
    EXPECT_EQ(f.width, 11);
    f = ChooseNumberFormat(20, 8, 10);
    EXPECT_EQ(f.exponent, 0);
    EXPECT_EQ(f.decimals, 6);
    EXPECT_EQ(f.width, 10);
}

TEST(ScientificFormat, FitsTheWidth) {
    EXPECT_EQ(Scientific(123456.789, 10), " 1.235E+05");
    EXPECT_EQ(Scientific(-123456.789, 9), "-1.23E+05");
    EXPECT_EQ(Scientific(9.999e10, 9), " 1.00E+11");
    EXPECT_EQ(Scientific(1e-300, 10), " 1.00E-300");
}

TEST(FixedAndExponent, PascalConversions) {
    EXPECT_EQ(Fixed(3.14159, 8, 3), "   3.142");
    EXPECT_EQ(Fixed(-0.5, 0, 2), "-0.50");
    EXPECT_EQ(Fixed(12345.678, 3, 1), "12345.7");  // a narrow field grows
    EXPECT_EQ(Exponent(1.0), " 1.00000000000000E+0000");
    EXPECT_EQ(Exponent(-2.5e-12), "-2.50000000000000E-0012");
    EXPECT_EQ(Int(42, 6), "    42");
    EXPECT_EQ(Right("ab", 4), "  ab");
}

// A fit that diverged hands the listings infinite or undefined numbers: they are written as
// printf writes them, right-aligned in the usual field, never with a made-up exponent.
TEST(NonFiniteNumbers, KeepTheirFieldWidth) {
    const double inf = HUGE_VAL, nan = std::nan("");
    EXPECT_EQ(NumberText(14, 4, inf), "           inf");
    EXPECT_EQ(NumberText(20, 6, -inf), "                -inf");
    EXPECT_EQ(NumberText(6, 5, nan), "   nan");
    NumberFormat f = ChooseNumberFormat(20, 3, nan);
    EXPECT_EQ(f.exponent, 0);
    EXPECT_EQ(FormatNumber(f, 20, 1.5), "                   2");  // the estimate beside it
    EXPECT_EQ(Scientific(inf, 11), "        inf");
    EXPECT_EQ(Scientific(-inf, 9), "     -inf");
    EXPECT_EQ(Exponent(nan), std::string(20, ' ') + "nan");
    EXPECT_EQ(Exponent(-inf, 12), "        -inf");
}

TEST(CutChars, NeverSplitsAUtf8Character) {
    EXPECT_EQ(CutChars("abcdef", 3), "abc");
    EXPECT_EQ(CutChars("\xC3\xA6\xC3\xB8\xC3\xA5x", 2), "\xC3\xA6\xC3\xB8");  // æøåx → æø
    EXPECT_EQ(CutChars("ab", 5), "ab");
}

}  // namespace
}  // namespace korw::data
