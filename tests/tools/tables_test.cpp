#include "tools/tables.h"

#include <string>
#include <vector>

#include "../data/data_session.h"
#include "data/restrict.h"

namespace korw::tools::test {
namespace {

using data::test::DataSession;

// 120 units: A has level 1 on units 1..60 and 2 on 61..120, B runs 1, 2, 3, 1, ...
class Tables : public DataSession {
  protected:
    void SetUp() override {
        DataSession::SetUp();
        data::DeclareFactor("a", 120, 2);
        data::DeclareFactor("b", 120, 3);
        data::GenerateLevels("a", 60);
        data::GenerateLevels("b", 1);
        data::DeclareVariate("x", 120);
        for (int u = 1; u <= 120; ++u) data::AssignValue("x", u, static_cast<float>(u));
    }
};

TEST_F(Tables, CountTableWidthAndMargins) {
    TwoWayTable("", "a", "b");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "Table of counts.\n\n"
              "       B    1   2   3  SUM\n"
              "A       |------------|----\n"
              "       1|  20  20  20|  60\n"
              "       2|  20  20  20|  60\n"
              "        |------------|----\n"
              "     SUM|  40  40  40| 120\n");
    TwoWayTable("", "-a", "-b");
    EXPECT_EQ(Output(),
              "Table of counts.\n\n"
              "       B    1   2   3 \n"
              "A       |------------|\n"
              "       1|  20  20  20|\n"
              "       2|  20  20  20|\n"
              "        |------------|\n");
}

TEST_F(Tables, LabelsWidenColumnsAndNeedTheHighestLevel) {
    data::Exclude(1);
    TwoWayTable("", "a=,one,two", "b=none,lo,mid,highest");
    EXPECT_EQ(Output(),
              "Table of counts.\n\n"
              "       B       lo     mid highest      SUM\n"
              "A       |------------------------|--------\n"
              "     one|      19      20      20|      59\n"
              "     two|      20      20      20|      60\n"
              "        |------------------------|--------\n"
              "     SUM|      39      40      40|     119\n");
    TwoWayTable("", "a=,one", "-b");  // no label for level 2: levels shown by number
    EXPECT_EQ(Output().substr(0, 60), std::string("Table of counts.\n\n"
                                                  "       B    1   2   3 \n"
                                                  "A       |------------|\n"
                                                  "       1|")
                                          .substr(0, 60));
}

TEST_F(Tables, SumTableFormats) {
    data::DeclareFactor("r c", 2, 1);
    data::DeclareVariate("w", 2);
    data::AssignLevel("r", 1, 1);
    data::AssignLevel("r", 2, 1);
    data::AssignLevel("c", 1, 1);
    data::AssignLevel("c", 2, 1);
    data::AssignValue("w", 1, 0.5f);
    data::AssignValue("w", 2, 1.25f);
    TwoWayTable("w", "-r", "-c");
    EXPECT_EQ(Output(),
              "Table of W sums.\n\n"
              "       C       1 \n"
              "R       |-------|\n"
              "       1| 1.7500|\n"
              "        |-------|\n");
    TwoWayTable("w:10:1", "-r", "-c");
    EXPECT_EQ(Output(),
              "Table of W sums.\n\n"
              "       C           1 \n"
              "R       |-----------|\n"
              "       1|        1.8|\n"
              "        |-----------|\n");
    data::AssignValue("w", 2, -3.0f);  // S = 3.5, not integral, negative: width 7
    TwoWayTable("w:x:0", "-r", "-c");  // a bad width counts as none; decimals 0 drop the point
    EXPECT_EQ(Output(),
              "Table of W sums.\n\n"
              "       C   1 \n"
              "R       |---|\n"
              "       1| -2|\n"
              "        |---|\n");
    TwoWayTable("x", "a", "r");
    EXPECT_EQ(Error(), "LengthOf('A')<>LengthOf('R')");
    TwoWayTable("w", "a", "b");
    EXPECT_EQ(Error(), "LengthOf('A')<>LengthOf('W')");
}

TEST_F(Tables, ThreeWayTableRestoresThePresentSet) {
    data::Exclude(2);
    data::DeclareFactor("l", 120, 2);
    data::GenerateLevels("l", 1);
    ThreeWayTable("", "-l", "-a", "-b");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(),
              "Table of counts.\n\n"
              "L=1:\n\n"
              "       B    1   2   3 \n"
              "A       |------------|\n"
              "       1|  10  10  10|\n"
              "       2|  10  10  10|\n"
              "        |------------|\n\n"
              "L=2:\n\n"
              "       B    1   2   3 \n"
              "A       |------------|\n"
              "       1|  10   9  10|\n"
              "       2|  10  10  10|\n"
              "        |------------|\n");
    EXPECT_FALSE(data::UnitIncluded(2));
    EXPECT_TRUE(data::UnitIncluded(1));

    data::DeclareVariate("short", 3);
    ThreeWayTable("short", "l", "a", "b");  // the body fails on the first layer
    EXPECT_EQ(Error(), "LengthOf('A')<>LengthOf('SHORT')");
    EXPECT_FALSE(data::UnitIncluded(2));
    for (int u : {1, 3, 4, 120}) EXPECT_TRUE(data::UnitIncluded(u)) << u;
    ThreeWayTable("", "x", "a", "b");
    EXPECT_EQ(Error(), "X is not a factor");
    ThreeWayTable("", "l", "a", "nosuch");
    EXPECT_EQ(Error(), "NOSUCH does not exist");
}

TEST_F(Tables, TabulateWithAndWithoutNewFactors) {
    data::Exclude(1);
    data::AssignValue("x", 5, data::MissingValue);
    Tabulate("n s=x", "a*b", "na nb");
    ASSERT_EQ(Error(), "");
    std::vector<float> n, s;
    std::vector<int> na, nb;
    for (int m = 1; m <= 6; ++m) {
        n.push_back(data::Value("n", m));
        s.push_back(data::Value("s", m));
        na.push_back(data::Level("na", m));
        nb.push_back(data::Level("nb", m));
    }
    EXPECT_EQ(n, (std::vector<float>{19, 20, 20, 20, 20, 20}));
    // Cell (1,2) holds units 2, 5, ..., 59 less the missing unit 5.
    EXPECT_EQ(s[1], 20.0f * (2 + 59) / 2 - 5);
    EXPECT_EQ(na, (std::vector<int>{1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(nb, (std::vector<int>{1, 2, 3, 1, 2, 3}));

    int before = VectorsInUse();
    Tabulate("n", "b a", "");  // replaces N; temporary factors go again
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(VectorsInUse(), before);
    EXPECT_EQ(data::Value("n", 1), 19.0f);
    EXPECT_EQ(data::Value("n", 2), 20.0f);
}

// Items are filled in turn, so a source that an earlier item replaced is read in its new form;
// its old table entry may be free by then, or hold another vector.
TEST_F(Tables, TabulateReadsASourceReplacedByAnEarlierItem) {
    data::DeclareFactor("c", 120, 120);
    data::GenerateLevels("c", 1);  // one cell per unit
    data::DeclareVariate("y", 120);
    for (int u = 1; u <= 120; ++u) data::AssignValue("y", u, 1000.0f + u);
    data::Delete("a b");  // free entries before X, where the new X and the cell factor go
    Tabulate("x=y y=x", "c", "");
    ASSERT_EQ(Error(), "");
    for (int u : {1, 60, 120}) {
        EXPECT_EQ(data::Value("x", u), 1000.0f + u);
        EXPECT_EQ(data::Value("y", u), 1000.0f + u);
    }
}

TEST_F(Tables, TabulateChecksBeforeChangingAnything) {
    data::DeclareFactor("f3", 2, 3);
    data::DeclareFactor("odd", 7, 2);
    struct Case {
        const char *response, *factors, *newFactors, *message;
    } cases[] = {
        {"n", "", "", "Empty factor list"},
        {"n", "a b", "na", "List of new factors is two short"},
        {"n", "a", "na nb", "List of new factors is two long"},
        {"n", "a x", "", "X is not a factor"},
        {"n=nosuch", "a", "", "Variate 'NOSUCH' does not exist"},
        {"n=b", "a", "", "B is a factor"},
        {"n=odd", "a", "", "Variate 'ODD' of incorrect length"},
        {"a", "a", "", "A is a factor"},
        {"x", "a", "", "X is of incorrect length"},
        {"n", "a", "x", "Factor X is a variate"},
        {"n", "a", "b", "Factor B is of incorrect length"},
        {"n", "a", "f3", "F3 has an incorrect number of levels"},
        {"n", "a odd", "", "The factor ODD is of incorrect length"},
    };
    for (const Case& c : cases) {
        Tabulate(c.response, c.factors, c.newFactors);
        EXPECT_EQ(Error(), c.message) << c.response << " " << c.factors << " " << c.newFactors;
    }
    EXPECT_EQ(data::LengthOf("n"), 0);
}

}  // namespace
}  // namespace korw::tools::test
