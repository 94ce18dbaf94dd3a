#include "data/listing.h"

#include <gtest/gtest.h>

#include "data/restrict.h"
#include "data/summaries.h"
#include "store_fixture.h"

namespace korw::data::unit {
namespace {

using Listing = StoreTest;

TEST_F(Listing, DefaultColumnsMissingAndShortVectors) {
    Variate("x", {1.5f, MissingValue, -2});
    Variate("y", {100, 0.25f});
    Factor("f", 12, {12, 0, 3});
    List("x, y f");
    EXPECT_EQ(Output(),
              "          X          Y    F\n"
              "     1.5000   100.0000   12\n"
              "          *     0.2500    0\n"
              "    -2.0000               3\n");
}

TEST_F(Listing, ExcludedUnitsAreSkipped) {
    Variate("x", {1, 2, 3, 4, 5});
    Exclude(2);
    Exclude(4);
    List("x:3");
    EXPECT_EQ(Output(), "   X\n   1\n   3\n   5\n");
}

TEST_F(Listing, TwelveColumnsMakeBlocksOfSevenAndFive) {
    std::string names;
    for (int i = 1; i <= 12; ++i) names += " V" + std::to_string(i);
    DeclareVariate(names, 1);
    List(names);
    std::string head1, row1, head2, row2;
    for (int i = 1; i <= 7; ++i)
        head1 += " " + std::string(i < 10 ? 8 : 7, ' ') + "V" + std::to_string(i);
    for (int i = 8; i <= 12; ++i)
        head2 += " " + std::string(i < 10 ? 8 : 7, ' ') + "V" + std::to_string(i);
    for (int i = 0; i < 7; ++i) row1 += "     0.0000";
    for (int i = 0; i < 5; ++i) row2 += "     0.0000";
    EXPECT_EQ(Output(), head1 + "\n" + row1 + "\n\n" + head2 + "\n" + row2 + "\n");
}

TEST_F(Listing, UnfitValuesAndScientificNotation) {
    Variate("x", {123456.789f, 1});
    List("x:6:2");
    EXPECT_EQ(Output(),
              "      X\n"
              " ??????\n"
              "   1.00\n"
              "\n"
              "?????? means a value that does not fit the format.\n");
    List("x");  // 123456.7891 needs 11 characters: scientific notation in width 10
    EXPECT_EQ(Output(), "          X\n  1.235E+05\n     1.0000\n");
    List("x:9:4 x:8:0");
    EXPECT_EQ(Output(),
              "         X        X\n"
              "  1.23E+05   123457\n"
              "    1.0000        1\n");
    // The note names the widest column that overflowed.
    Variate("big", {1e30f});
    List("x:4:0 big:7");
    std::string out = Output();
    EXPECT_NE(out.find("\n\n??????? means a value that does not fit the format.\n"),
              std::string::npos)
        << out;
}

TEST_F(Listing, FactorLevelNames) {
    DeclareFactor("sex", 4, 3);
    AssignLevel("sex", 1, 1);
    AssignLevel("sex", 2, 2);
    AssignLevel("sex", 4, 3);  // beyond the list of names
    List("SEX=none,male,female:8");
    EXPECT_EQ(Output(),
              "      SEX\n"
              "     male\n"
              "   female\n"
              "     none\n"
              "         \n");
    List("sex=none,verylong");  // default width 4: names cut to it
    EXPECT_EQ(Output(), "  SEX\n very\n     \n none\n     \n");
    DeclareVariate("x", 1);
    List("sex x=a,b");
    EXPECT_EQ(Error(), "Level names given for variate X");
    EXPECT_EQ(Output(), "");  // the block was not complete
}

TEST_F(Listing, FormatTexts) {
    Variate("x", {2.75f});
    List("x:8");  // width 8, no decimals
    EXPECT_EQ(Output(), "        X\n        3\n");
    List("x:80:2");
    EXPECT_EQ(Error(), "Invalid format - width set to 80");
    List("x:123456789");
    EXPECT_EQ(Error(), "Invalid format - width set to 12345678");
    List("x:-1");
    EXPECT_EQ(Error(), "Invalid format - width set to -1");
    List("x:5:78");
    EXPECT_EQ(Error(), "Invalid format  - number of decimals set to 78");
    List("x:5:a");
    EXPECT_EQ(Error(), "Invalid format  - number of decimals set to a");
    EXPECT_EQ(Output(), "");
    List("x:30:25");  // accepted, listed with 17 decimals
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              std::string(30, ' ') + "X\n" + std::string(12, ' ') + "2.75000000000000000\n");
    List("x::");  // both parts empty: the defaults
    EXPECT_EQ(Output(), "          X\n     2.7500\n");
}

TEST_F(Listing, DefaultWidthWithDecimalsOnly) {
    Variate("x", {2.5f});
    List("x::3");
    EXPECT_EQ(Output(), "          X\n      2.500\n");
    DeclareVariate("longname", 1);
    List("longname:3");  // the name widens the column
    EXPECT_EQ(Output(), " LONGNAME\n        0\n");
}

TEST_F(Listing, List1WrapsAcrossLines) {
    DeclareVariate("x", 9);
    DeclareFactor("f", 3, 2);
    for (int u = 1; u <= 9; ++u) AssignValue("x", u, static_cast<float>(u));
    Exclude(2);
    List1("x f:2", true);
    std::string field = "     1.0000";
    EXPECT_EQ(Output(),
              "X\n"
              "     1.0000     3.0000     4.0000     5.0000     6.0000     7.0000     8.0000\n"
              "     9.0000\n"
              "\n"
              "F\n"
              "  0  0\n");
    AssignValue("x", 1, 1e7f);
    List1("x:5", false);
    EXPECT_EQ(Output(),
              " ?????     3     4     5     6     7     8     9\n"
              "\n"
              "????? means a value that does not fit the format.\n");
    List1("f=a,b", false);
    EXPECT_EQ(Error(), "Invalid character = in identifier F=A,B");  // no level names here
}

TEST_F(Listing, WriteNumberGoesToTheCurrentLine) {
    WriteNumber(6, 5, 123456);
    WriteNumber(6, 4, 0.000456);
    WriteLine();
    EXPECT_EQ(Output(), " 0.1235e6 0.4560e-3\n");
}

class Summaries : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        Variate("x", {1, 2, MissingValue, 4, 10});
        Variate("y", {2, 4, 5, 9, 0});
        Exclude(5);
    }
};

TEST_F(Summaries, OverPresentNonMissingUnits) {
    EXPECT_EQ(UnitsPresent("x"), 3);
    EXPECT_EQ(UnitsPresent("y"), 4);
    EXPECT_DOUBLE_EQ(Sum("x"), 7);
    EXPECT_NEAR(Mean("x"), 2.33333333333333, 1e-13);
    EXPECT_DOUBLE_EQ(Max("x"), 4);
    EXPECT_DOUBLE_EQ(Min("x"), 1);
    EXPECT_NEAR(Variance("x"), 2.33333333333333, 1e-13);
    EXPECT_NEAR(Correlation("x", "y"), 0.998625428903524, 1e-13);
    EXPECT_EQ(Error(), "");
}

TEST_F(Summaries, EmptyAndDegenerateCases) {
    Variate("m", {MissingValue, MissingValue, 7});
    Exclude(3);
    EXPECT_EQ(UnitsPresent("m"), 0);
    EXPECT_EQ(Mean("m"), 0);
    EXPECT_EQ(Max("m"), 0);
    EXPECT_EQ(Min("m"), 0);
    EXPECT_EQ(Variance("m"), 0);
    Include(3);
    EXPECT_EQ(Variance("m"), 0);  // one value
    EXPECT_EQ(Correlation("x", "y"), Correlation("y", "x"));
    DeclareVariate("c", 5);
    EXPECT_EQ(Correlation("x", "m"), 0);
    EXPECT_EQ(Error(), "X and M should be of the same length");
    EXPECT_EQ(Correlation("m", "c"), 0);
    EXPECT_EQ(Error(), "M and C should be of the same length");
    DeclareFactor("f", 6, 2);
    EXPECT_EQ(UnitsPresent("f"), 5);  // level-0 units count; unit 5 is excluded
    Sum("f");
    EXPECT_EQ(Error(), "F is not a variate");
}

TEST_F(Summaries, FactorHistogram) {
    DeclareFactor("sex", 5, 2);
    AssignLevel("sex", 1, 1);
    AssignLevel("sex", 2, 2);
    AssignLevel("sex", 4, 2);
    Output();
    Histogram("sex=none,male,female");
    EXPECT_EQ(Output(),
              "SEX\n"
              "4 units present.\n"
              "       Level    Units\n"
              "        none        1\n"
              "        male        1\n"
              "      female        2\n");
}

TEST_F(Summaries, VariateHistogramLimitsAndCounts) {
    DeclareVariate("z", 11);
    for (int u = 1; u <= 9; ++u) AssignValue("z", u, static_cast<float>(u));
    AssignValue("z", 10, MissingValue);
    AssignValue("z", 11, 100);
    Include(5);
    Exclude(11);
    Output();
    Histogram("z=0.5,9.5,3");
    std::string pad(12, ' ');
    EXPECT_EQ(Output(), "Z\n9 units present.\n" + pad + "0.500000 to " + pad +
                            "3.500000       3\n" + pad + "3.500000 to " + pad +
                            "6.500000       3\n" + pad + "6.500000 to " + pad +
                            "9.500000       3\n");
    Histogram("z=3.5,,0");  // the largest value as upper limit, round(sqrt(9)) intervals
    EXPECT_EQ(Output(), "Z\n9 units present.\n" + pad + "3.500000 to " + pad +
                            "5.333333       2\n" + pad + "5.333333 to " + pad +
                            "7.166667       2\n" + pad + "7.166667 to " + pad +
                            "9.000000       2\n" + "3 units not in the specified interval.\n");
    Histogram("z=a");
    EXPECT_EQ(Error(), "Invalid real number a");
}

}  // namespace
}  // namespace korw::data::unit
