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

}  // namespace
}  // namespace korw::interp
