#include "data/format.h"

#include <gtest/gtest.h>

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

TEST(CutChars, NeverSplitsAUtf8Character) {
    EXPECT_EQ(CutChars("abcdef", 3), "abc");
    EXPECT_EQ(CutChars("\xC3\xA6\xC3\xB8\xC3\xA5x", 2), "\xC3\xA6\xC3\xB8");  // æøåx → æø
    EXPECT_EQ(CutChars("ab", 5), "ab");
}

}  // namespace
}  // namespace korw::data
