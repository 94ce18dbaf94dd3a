#include "interp/command_table.h"

#include <gtest/gtest.h>

namespace korw::interp {
namespace {

TEST(CommandTable, SeventySixNamesInAlphabeticalOrder) {
    const auto& table = CommandTable();
    ASSERT_EQ(table.size(), 76u);
    EXPECT_EQ(table.front(), "BARTLETT");
    EXPECT_EQ(table.back(), "YTEXT");
    for (size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1], table[i]) << table[i];
}

TEST(CommandTable, PrefixMatching) {
    EXPECT_EQ(MatchCommand("FITLIN"), "FITLINEARNORMAL");
    EXPECT_EQ(MatchCommand("FITL"), "");  // FITLINEARNORMAL, FITLOGITLINEAR, FITLOGLINEAR
    EXPECT_EQ(MatchCommand("LIS"), "");   // LIST, LIST1, LISTPARAMETERS
    EXPECT_EQ(MatchCommand("LIST"), "LIST");
    EXPECT_EQ(MatchCommand("L1"), "L1");
    EXPECT_EQ(MatchCommand("VAR"), "VARIATE");
    EXPECT_EQ(MatchCommand("XYZ"), "");
}

TEST(ExpandCommandLine, CompletesTheCommandWord) {
    EXPECT_EQ(ExpandCommandLine("x=a+b"), "COMPUTE x=a+b");
    EXPECT_EQ(ExpandCommandLine("+x=1"), "COMPUTE x=1");
    EXPECT_EQ(ExpandCommandLine(" list"), " list");  // a leading blank stops the completion
    EXPECT_EQ(ExpandCommandLine("var x 3"), "VARIATE x 3");
    EXPECT_EQ(ExpandCommandLine("yt"), "YTEXT");  // YTEXT is the last name of the table
    bool invalid = false;
    EXPECT_EQ(ExpandCommandLine("variatex 3", &invalid), "VARIATE 3");
    EXPECT_TRUE(invalid);
    invalid = false;
    ExpandCommandLine("fitl", &invalid);
    EXPECT_FALSE(invalid);
    EXPECT_EQ(CompleteShortWord("EX"), "EXCLUDE");
    EXPECT_EQ(CompleteShortWord("SK"), "SKIP");
    EXPECT_EQ(CompleteShortWord("LIS"), "LIS");
}

}  // namespace
}  // namespace korw::interp
