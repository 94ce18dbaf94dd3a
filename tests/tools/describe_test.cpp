#include "tools/describe.h"

#include <string>
#include <vector>

#include "../data/data_session.h"
#include "data/restrict.h"

namespace korw::tools::test {
namespace {

using data::test::DataSession;

class Describe : public DataSession {};

TEST_F(Describe, SummaryCountsPresentExcludedAndMissing) {
    data::DeclareVariate("x", 10);
    for (int u = 1; u <= 10; ++u)
        data::AssignValue("x", u, u == 2 || u == 9 ? data::MissingValue : static_cast<float>(u));
    for (int u : {3, 5, 9}) data::Exclude(u);
    Summary("x");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "\nVariate X, length 10\n\n"
              "             present   excluded      total\n"
              "non-missing        6          2          8\n"
              "    missing        1          1          2\n"
              "      total        7          3         10\n\n"
              "Statistics for values present and non-missing.\n"
              "Min  =  1.000000\n"
              "Mean =  6.000000\n"
              "Max  = 10.000000\n"
              "S.D. =  3.162278\n");

    data::DeclareFactor("f", 4, 2);
    data::AssignLevel("f", 1, 2);
    Summary("f");
    EXPECT_EQ(Output(),
              "\nFactor F on 2 levels, length 4\n\n"
              "             present   excluded      total\n"
              "  level > 0        1          0          1\n"
              "  level = 0        2          1          3\n"
              "      total        3          1          4\n\n");
}

TEST_F(Describe, WideningGivesSevenSignificantDigits) {
    int w = 5, d = 2;
    WidenFormat(7, 0.001234, w, d);
    EXPECT_EQ(d, 9);  // 0.001234000
    EXPECT_EQ(w, 12);
    w = 5, d = 2;
    WidenFormat(7, -12345.6, w, d);
    EXPECT_EQ(d, 3);  // -12345.600
    EXPECT_EQ(w, 10);
    WidenFormat(7, 2.0, w, d);
    EXPECT_EQ(d, 6);  // widened further, never narrowed
    EXPECT_EQ(w, 13);
    w = 5, d = 2;
    WidenFormat(7, 0, w, d);
    EXPECT_EQ(w * 100 + d, 502);
}

class Grouping : public DataSession {
  protected:
    void SetUp() override {
        DataSession::SetUp();
        data::DeclareVariate("x", 10);
        for (int u = 1; u <= 9; ++u) data::AssignValue("x", u, static_cast<float>(u - 1));
        data::AssignValue("x", 10, 2.5f);
    }
};

TEST_F(Grouping, EqualIntervalsAndListedCutpoints) {
    Group("x", "g", 4, "");
    ASSERT_EQ(Error(), "");
    // Cutpoints 2, 4, 6: a value on a cutpoint belongs to the class below it.
    EXPECT_EQ(Levels("g"), (std::vector<int>{1, 1, 1, 2, 2, 3, 3, 4, 4, 2}));
    data::Exclude(1);
    Group("x", "g", 2, "0.5");
    EXPECT_EQ(Error(), "Incorrect number of levels for factor G");
    Group("x", "g", 4, "0.5,1.5 7");
    EXPECT_EQ(Levels("g"), (std::vector<int>{1, 2, 3, 3, 3, 3, 3, 3, 4, 3}));  // unit 1 kept

    data::DeclareVariate("cuts", 2);
    data::AssignValue("cuts", 1, 3);
    data::AssignValue("cuts", 2, 5);
    Group("x", "h", 0, "cuts");
    EXPECT_EQ(data::NumberOfLevels("h"), 3);
    EXPECT_EQ(Levels("h")[9], 0 + 1);
    Group("x", "h2", 4, "cuts");
    EXPECT_EQ(Error(), "Incorrect length of cutpoint variate CUTS");
}

// 0.1 and 0.3 have no exact binary form; the stored values lie just above the decimals typed.
TEST_F(Grouping, AValueOnADecimalCutpointBelongsToTheClassBelow) {
    data::DeclareVariate("d", 4);
    const float values[] = {0.1f, 0.2f, 0.3f, 0.30001f};
    for (int u = 1; u <= 4; ++u) data::AssignValue("d", u, values[u - 1]);
    Group("d", "gd", 3, "0.1 0.3");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Levels("gd"), (std::vector<int>{1, 2, 2, 3}));
}

TEST_F(Grouping, CutpointErrorsAndDefaultLevels) {
    struct Case {
        const char *variate, *factor;
        int levels;
        const char *cutpoints, *message;
    } cases[] = {
        {"x", "g", 4, "1, 5 3", "Cutpoints must increase"},
        {"x", "g", 3, "1", "Too few cutpoints specified"},
        {"x", "g", 2, "1 2", "Too many cutpoints specified"},
        {"x", "g", 3, "1 two", "Invalid cutpoint two"},
        {"x", "g", 3, "0x1 0x5", "Invalid cutpoint 0x1"},
        {"x", "g", 0, "1 2", "The number of levels must be specified"},
        {"x", "g", -1, "", "Invalid number of levels"},
        {"nosuch", "g", 2, "", "No variate NOSUCH"},
        {"x", "x", 2, "", "X is a variate"},
    };
    for (const Case& c : cases) {
        Group(c.variate, c.factor, c.levels, c.cutpoints);
        EXPECT_EQ(Error(), c.message) << c.message;
    }
    EXPECT_EQ(data::LengthOf("g"), 0);  // nothing declared by a failing call

    data::DeclareVariate("long", 99);
    Group("long", "lg", 0, "");
    EXPECT_EQ(data::NumberOfLevels("lg"), 10);
}

TEST_F(Describe, TransferPresentCopiesInUnitOrder) {
    data::DeclareFactor("f", 5, 3);
    for (int u = 1; u <= 5; ++u) data::AssignLevel("f", u, u % 4);
    data::Exclude(2);
    TransferPresent("f", "g");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(data::LengthOf("g"), 4);
    EXPECT_EQ(data::NumberOfLevels("g"), 3);
    EXPECT_EQ(data::Level("g", 2), 3);
    data::DeclareVariate("v", 4);
    TransferPresent("f", "v");
    EXPECT_EQ(Error(), "Invalid vector type V");
    TransferPresent("f", "f");
    EXPECT_EQ(Error(), "Incorrect length of F");
    for (int u = 1; u <= 5; ++u) data::Exclude(u);
    TransferPresent("f", "h");
    EXPECT_EQ(Error(), "No values present in F");
}

}  // namespace
}  // namespace korw::tools::test
