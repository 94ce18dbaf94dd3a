#include "data/sort.h"

#include <random>
#include <string>
#include <vector>

#include "data/restrict.h"
#include "data_session.h"

namespace korw::data::test {
namespace {

class Sorting : public DataSession {
  protected:
    void Fill(const std::string& name, const std::vector<double>& values) {
        for (size_t i = 0; i < values.size(); ++i) {
            int u = static_cast<int>(i) + 1;
            if (NumberOfLevels(name) > 0)
                AssignLevel(name, u, static_cast<int>(values[i]));
            else
                AssignValue(name, u, static_cast<float>(values[i]));
        }
    }
    std::vector<double> Values(const std::string& name) {
        std::vector<double> out;
        for (int u = 1; u <= LengthOf(name); ++u)
            out.push_back(NumberOfLevels(name) > 0 ? Level(name, u) : Value(name, u));
        return out;
    }
};

TEST_F(Sorting, KeysInListOrderWithVectorsMovedAlong) {
    DeclareFactor("f", 6, 3);
    DeclareVariate("x y", 6);
    DeclareVariate("short", 2);
    Fill("f", {2, 1, 2, 1, 3, 1});
    Fill("x", {5, 3, -1, MissingValue, 0, 3.5});
    Fill("y", {1, 2, 3, 4, 5, 6});
    Sort("f, x +");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(Values("f"), (std::vector<double>{1, 1, 1, 2, 2, 3}));
    // The missing value sorts as the number it is: just below zero.
    EXPECT_EQ(Values("x"), (std::vector<double>{MissingValue, 3, 3.5, -1, 5, 0}));
    EXPECT_EQ(Values("y"), (std::vector<double>{4, 2, 6, 3, 1, 5}));
}

TEST_F(Sorting, WarningsForVectorsLeftAndRestrictions) {
    DeclareVariate("x a b", 4);
    Fill("x", {4, 3, 2, 1});
    Fill("a", {1, 2, 3, 4});
    Exclude(2);
    Sort("x");
    EXPECT_EQ(Output(),
              "WARNING. The following vectors of length 4 are not sorted.\nA\nB\n"
              "WARNING. Restriction indicators are not sorted.\n");
    EXPECT_EQ(Values("x"), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(Values("a"), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_FALSE(UnitIncluded(2));
}

TEST_F(Sorting, ListErrors) {
    DeclareVariate("x", 4);
    DeclareVariate("y", 5);
    Sort("x x");
    EXPECT_EQ(Error(), "X occurs more than once in the list");
    Sort("x y");
    EXPECT_EQ(Error(), "X and Y are of different lengths");
    Sort("x nosuch");
    EXPECT_EQ(Error(), "Invalid identifier NOSUCH");
}

TEST_F(Sorting, LargeRandomKeysAgreeWithReferenceOrder) {
    const int n = 50000;
    DeclareVariate("k1 k2 id", n);
    std::mt19937 random(7);
    for (int u = 1; u <= n; ++u) {
        AssignValue("k1", u, static_cast<float>(random() % 50) - 25.0f);
        AssignValue("k2", u, static_cast<float>(random()) / 1.0e6f - 1000.0f);
        AssignValue("id", u, static_cast<float>(u));
    }
    std::vector<double> k1 = Values("k1"), k2 = Values("k2");
    Sort("k1 k2 +");
    std::vector<double> s1 = Values("k1"), s2 = Values("k2"), id = Values("id");
    for (int i = 0; i < n; ++i) {
        int was = static_cast<int>(id[i]) - 1;
        ASSERT_EQ(s1[i], k1[was]);
        ASSERT_EQ(s2[i], k2[was]);
        if (i > 0) {
            ASSERT_TRUE(s1[i - 1] < s1[i] || (s1[i - 1] == s1[i] && s2[i - 1] <= s2[i]));
        }
    }
}

TEST_F(Sorting, TransferRangesRunEitherWay) {
    DeclareVariate("x y", 5);
    Fill("x", {1, 2, 3, 4, 5});
    Transfer("x", 5, 1, "y", 1, 5);
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Values("y"), (std::vector<double>{5, 4, 3, 2, 1}));
    Transfer("x", 1, 2, "y", 4, 3);
    EXPECT_EQ(Values("y"), (std::vector<double>{5, 4, 2, 1, 1}));

    DeclareFactor("f", 3, 4);
    DeclareFactor("g", 3, 2);
    Fill("f", {1, 3, 2});
    Transfer("x", 1, 2, "y", 1, 3);
    EXPECT_EQ(Error(), "Unequal lengths of subvectors");
    Transfer("x", 1, 2, "f", 1, 2);
    EXPECT_EQ(Error(), "X and F are of different types");
    Transfer("x", 0, 1, "y", 1, 2);
    EXPECT_EQ(Error(), "Unit index out of range");
    Transfer("f", 1, 3, "g", 1, 3);
    EXPECT_EQ(Error(), "Invalid level 3 for factor G");
    EXPECT_EQ(Values("g"), (std::vector<double>{1, 0, 0}));  // copied before the bad level
}

}  // namespace
}  // namespace korw::data::test
