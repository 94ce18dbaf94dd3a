#include "data/restrict.h"

#include <gtest/gtest.h>

#include "store_fixture.h"

namespace korw::data::unit {
namespace {

using Restrictions = StoreTest;

std::string Present() {
    std::string s;
    for (int u = 1; u <= MaxLength(); ++u) s += UnitIncluded(u) ? '1' : '0';
    return s;
}

TEST_F(Restrictions, UnitsByNumber) {
    DeclareVariate("x", 5);
    Exclude(0);
    EXPECT_EQ(Error(), "Invalid unit index 0");
    Exclude(6);
    EXPECT_EQ(Error(), "Invalid unit index 6");
    Include(-1);
    EXPECT_EQ(Error(), "Invalid unit index -1");
    Exclude(2);
    Exclude(4);
    Include(5);
    EXPECT_EQ(Present(), "10101");
    EXPECT_TRUE(RestrictionsPresent());
    Include(2);
    EXPECT_EQ(Present(), "11101");
    IncludeAll();
    EXPECT_EQ(Present(), "11111");
    EXPECT_FALSE(RestrictionsPresent());
    EXPECT_FALSE(UnitIncluded(0));
    EXPECT_FALSE(UnitIncluded(-3));
    EXPECT_FALSE(UnitIncluded(6));
}

TEST_F(Restrictions, FocusAndExcludeLevels) {
    DeclareFactor("f", 6, 2);
    DeclareVariate("long", 8);
    for (int u = 1; u <= 6; ++u) AssignLevel("f", u, u % 3);  // 1 2 0 1 2 0
    FocusOnLevel("f", 3);
    EXPECT_EQ(Error(), "Invalid level 3 of factor F");
    ExcludeLevel("f", -1);
    EXPECT_EQ(Error(), "Invalid level -1 of factor F");
    FocusOnLevel("long", 1);
    EXPECT_EQ(Error(), "LONG is not a factor");

    FocusOnLevel("f", 0);
    EXPECT_EQ(Present(), "00100111");  // units beyond the factor keep their flags
    IncludeAll();
    FocusOnLevel("f", 1);
    FocusOnLevel("f", 2);  // never sets a flag
    EXPECT_EQ(Present(), "00000011");
    IncludeAll();
    ExcludeLevel("f", 2);
    EXPECT_EQ(Present(), "10110111");
}

TEST_F(Restrictions, ExcludeMissingStopsAtTheFirstBadName) {
    DeclareVariate("a b", 4);
    DeclareFactor("f", 4, 1);
    AssignValue("a", 1, MissingValue);
    AssignValue("b", 3, MissingValue);
    ExcludeMissing("a f b");
    EXPECT_EQ(Error(), "F is not a variate");
    EXPECT_EQ(Present(), "0111");
    ExcludeMissing("a b");
    EXPECT_EQ(Present(), "0101");
}

TEST_F(Restrictions, ExclusionsSurviveALongerDeclaration) {
    DeclareVariate("x", 4);
    Exclude(3);
    DeclareVariate("y", 7);
    EXPECT_EQ(Present(), "1101111");
}

}  // namespace
}  // namespace korw::data::unit
