#include "data/vectors.h"

#include <gtest/gtest.h>

#include "data/restrict.h"
#include "store_fixture.h"

namespace korw::data::unit {
namespace {

using Vectors = StoreTest;

// The message of checking `name` as an identifier, "" when valid; the normalised name in `out`.
std::string Check(std::string name, std::string* out = nullptr) {
    ErrorFree = true;
    bool ok = CheckIdentifier(name);
    if (out != nullptr) *out = name;
    return ok ? "" : ErrorMessage;
}

TEST_F(Vectors, IdentifierRulesInOrder) {
    std::string n;
    EXPECT_EQ(Check("  x1 ", &n), "");
    EXPECT_EQ(n, "X1");
    EXPECT_EQ(Check("abcdefgh", &n), "");
    EXPECT_EQ(n, "ABCDEFGH");
    EXPECT_EQ(Check("ABCDEFGHI"), "Identifier ABCDEFGH... too long");
    EXPECT_EQ(Check("abcdefghi"), "Identifier abcdefgh... too long");  // checked before upper case
    EXPECT_EQ(Check("   "), "Invalid identifier ");
    EXPECT_EQ(Check("1x"), "Invalid first character in identifier 1X");
    EXPECT_EQ(Check("a.b"), "Invalid character . in identifier A.B");
    EXPECT_EQ(Check("constant"), "Do not use the name CONSTANT as an identifier");
    EXPECT_EQ(Check("CONSTANTS"), "Identifier CONSTANT... too long");
    for (const char* good : {"#", "$a", "%9", "&_", "@x", "_", "a#$%&@_9"})
        EXPECT_EQ(Check(good), "") << good;
    EXPECT_EQ(Check("a-b"), "Invalid character - in identifier A-B");
    EXPECT_EQ(Check("9"), "Invalid first character in identifier 9");
}

TEST_F(Vectors, CodePageLettersAreUpperCasedThenRejected) {
    // ae, o-slash and a-ring of the old code page become their capitals, which are not allowed.
    EXPECT_EQ(UpperName("\x91\x9B\x86"), "\x92\x9D\x8F");
    EXPECT_EQ(Check("\x91x"), "Invalid first character in identifier \x92X");
    EXPECT_EQ(Check("a\x9B"), "Invalid character \x9D in identifier A\x9D");
    EXPECT_EQ(Check("a\x86"), "Invalid character \x8F in identifier A\x8F");
    // The same bytes inside a UTF-8 sequence are left alone (U+00D1 is C3 91).
    EXPECT_EQ(UpperName("n\xC3\x91"), "N\xC3\x91");
}

TEST_F(Vectors, Utf8LettersCountAsOneCharacter) {
    // Eight letters of two bytes each are not too long; the message names the whole letter.
    EXPECT_EQ(Check("\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6"),
              "Invalid first character in identifier "
              "\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6\xC3\xA6");
    EXPECT_EQ(Check("x\xC3\xB8y"), "Invalid character \xC3\xB8 in identifier X\xC3\xB8Y");
    EXPECT_EQ(
        Check("\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5"),
        "Identifier \xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5\xC3\xA5... too long");
}

TEST_F(Vectors, LookUpMessages) {
    DeclareVariate("x", 3);
    DeclareFactor("f", 3, 2);
    std::string name = "y";
    EXPECT_EQ(LookUp(name), 0);
    EXPECT_EQ(Error(), "Invalid identifier Y");
    name = "x";
    EXPECT_EQ(LookUpFactor(name), 0);
    EXPECT_EQ(Error(), "X is not a factor");
    name = "f";
    EXPECT_EQ(LookUpVariate(name), 0);
    EXPECT_EQ(Error(), "F is not a variate");
    name = " f ";
    ErrorFree = true;
    EXPECT_EQ(LookUpFactor(name), 2);
    EXPECT_EQ(name, "F");
}

TEST_F(Vectors, DeclarationChecksAndPartialLists) {
    DeclareVariate("b", 2);
    DeclareVariate("a b c", 5);
    EXPECT_EQ(Error(), "Duplicate identifier B");
    EXPECT_EQ(LengthOf("A"), 5);
    EXPECT_EQ(LengthOf("C"), 0);
    DeclareVariate("v", 0);
    EXPECT_EQ(Error(), "Invalid length of variate V");
    DeclareFactor("f", -1, 2);
    EXPECT_EQ(Error(), "Invalid length of factor F");
    DeclareFactor("f", 4, 0);
    EXPECT_EQ(Error(), "Invalid number of levels for factor F");
    DeclareFactor("f", 4, 256);
    EXPECT_EQ(Error(), "Invalid number of levels for factor F");
    DeclareFactor("f", 4, 255);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(NumberOfLevels("f"), 255);
    EXPECT_EQ(NumberOfLevels("a"), 0);  // a variate
    EXPECT_EQ(NumberOfLevels("zz"), 0);
    EXPECT_EQ(LengthOf("1X"), 0);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Value("a", 5), 0.0f);
    EXPECT_EQ(Level("f", 4), 0);
}

// A machine with 100 MiB to give refuses the declarations that need more before anything is
// allocated, and nothing changes; small declarations are not checked at all.
TEST_F(Vectors, DeclarationsBeyondTheFreeMemoryAreRefused) {
    SetMemoryProbe([] { return 100LL << 20; });
    DeclareVariate("a", 30000000);  // 120 MB
    EXPECT_EQ(Error(), "Not enough memory for variate A");
    EXPECT_EQ(LengthOf("a"), 0);
    EXPECT_EQ(MaxLength(), 0);
    DeclareFactor("f", 20000000, 2);  // 20 MB and 20 MB of restriction list
    EXPECT_EQ(Error(), "");
    DeclareFactor("g", 90000000, 3);  // 90 MB and 90 MB of restriction list
    EXPECT_EQ(Error(), "Not enough memory for factor G");
    EXPECT_EQ(LengthOf("g"), 0);
    EXPECT_EQ(MaxLength(), 20000000);
    EXPECT_EQ(RestrictList().size(), 20000001u);
    // Unknown free memory (no /proc) leaves the declaration to the allocation.
    SetMemoryProbe([] { return -1LL; });
    DeclareVariate("x", 20000000);
    EXPECT_EQ(Error(), "");
    SetMemoryProbe(nullptr);
    DeclareVariate("y", 20000000);  // the machine's own free memory
    EXPECT_EQ(Error(), "");
}

TEST_F(Vectors, TableFullAndLowestFreeIndex) {
    for (int i = 1; i <= TableSize; ++i) DeclareVariate("V" + std::to_string(i), 1);
    ASSERT_EQ(Error(), "");
    DeclareVariate("extra", 1);
    EXPECT_EQ(Error(), "Too many vectors - no free entry for variate EXTRA");
    DeclareFactor("extra", 1, 2);
    EXPECT_EQ(Error(), "Too many vectors - no free entry for factor EXTRA");
    Delete("V7 V3");
    DeclareFactor("first", 1, 2);
    EXPECT_EQ(FindVector("FIRST"), 3);
    DeclareVariate("second", 1);
    EXPECT_EQ(FindVector("SECOND"), 7);
    Output();
    RAMstatus();
    std::string out = Output();
    size_t v2 = out.find("Variate        V2"), f = out.find("Factor      FIRST"),
           v4 = out.find("Variate        V4");
    ASSERT_NE(f, std::string::npos) << out;
    EXPECT_LT(v2, f);
    EXPECT_LT(f, v4);
}

TEST_F(Vectors, MaxLengthAndRestrictListBookkeeping) {
    EXPECT_EQ(MaxLength(), 0);
    DeclareVariate("a", 4);
    EXPECT_EQ(MaxLength(), 4);
    EXPECT_EQ(RestrictList().size(), 5u);
    Exclude(3);
    DeclareFactor("f", 6, 2);
    EXPECT_EQ(MaxLength(), 6);
    ASSERT_EQ(RestrictList().size(), 7u);
    EXPECT_FALSE(UnitIncluded(3));
    EXPECT_TRUE(UnitIncluded(5));
    EXPECT_TRUE(UnitIncluded(6));
    DeclareVariate("b", 5);
    Delete("f");
    EXPECT_EQ(MaxLength(), 5);  // the next longest
    EXPECT_EQ(RestrictList().size(), 6u);
    EXPECT_FALSE(UnitIncluded(3));
    Delete("a b");
    EXPECT_EQ(MaxLength(), 0);
    Delete("a");
    EXPECT_EQ(Error(), "A does not exist");
}

TEST_F(Vectors, RenameKeepsIndexAndData) {
    DeclareVariate("x y", 2);
    AssignValue("x", 2, 7.5f);
    Rename("x", "y");
    EXPECT_EQ(Error(), "Duplicate identifier Y");
    Rename("q", "z");
    EXPECT_EQ(Error(), "Q does not exist");
    Rename("q", "y");  // the duplicate is found before the missing name
    EXPECT_EQ(Error(), "Duplicate identifier Y");
    Rename("x", "1z");
    EXPECT_EQ(Error(), "Invalid first character in identifier 1Z");
    Rename("x", "z");
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(FindVector("Z"), 1);
    EXPECT_EQ(Value("z", 2), 7.5f);
}

TEST_F(Vectors, UnitsLevelsAndGeneratedPatterns) {
    DeclareVariate("x", 3);
    DeclareFactor("f", 8, 3);
    Value("x", 4);
    EXPECT_EQ(Error(), "Invalid unit index 4 for variate X");
    AssignValue("x", 0, 1);
    EXPECT_EQ(Error(), "Invalid unit index 0 for variate X");
    AssignLevel("f", 9, 1);
    EXPECT_EQ(Error(), "Invalid unit index 9 for factor F");
    AssignLevel("f", 1, 4);
    EXPECT_EQ(Error(), "Invalid level 4 for factor F");
    AssignLevel("f", 1, -1);
    EXPECT_EQ(Error(), "Invalid level -1 for factor F");
    AssignLevel("f", 1, 3);
    AssignLevel("f", 1, 0);
    EXPECT_EQ(Error(), "");
    AssignValue("x", 1, MissingValue);
    EXPECT_EQ(Value("x", 1), MissingValue);

    GenerateLevels("f", 2);
    std::string levels;
    for (int u = 1; u <= 8; ++u) levels += std::to_string(Level("f", u));
    EXPECT_EQ(levels, "11223311");
    GenerateLevels("f", 9);
    for (int u = 1; u <= 8; ++u) EXPECT_EQ(Level("f", u), 1);
    GenerateLevels("f", 0);
    EXPECT_EQ(Error(), "Invalid repetition interval 0 for F");
    GenerateLevels("x", 1);
    EXPECT_EQ(Error(), "X is not a factor");

    float* data = VariatePointer("x");
    ASSERT_NE(data, nullptr);
    data[3] = 2.25f;
    EXPECT_EQ(Value("x", 3), 2.25f);
    EXPECT_EQ(FactorPointer("x"), nullptr);
    EXPECT_EQ(Error(), "X is not a factor");
}

TEST_F(Vectors, ProceduresOutsideASession) {
    Finish();
    DeclareVariate("x", 1);
    EXPECT_EQ(Error(), "Korbelin not active");
    EXPECT_EQ(ProcedureName, "DeclareVariate");
    Finish();
    EXPECT_EQ(Error(), "Korbelin is not active");
    Start("KORW JUN2009", out_);
    Start("KORW JUN2009", out_);
    EXPECT_EQ(Error(), "Korbelin is active");
}

TEST_F(Vectors, RamStatusLayout) {
    DeclareFactor("sex", 3, 2);
    DeclareVariate("weight", 4);
    Exclude(2);
    Output();
    RAMstatus();
    const std::string rule(42, '-');
    EXPECT_EQ(Output(), "TYPE         NAME  LENGTH    BYTES  LEVELS\n" + rule +
                            "\n"
                            "Factor        SEX       3        3      2\n"
                            "Variate    WEIGHT       4       16       \n"
                            "     RestrictList       4        4       \n" +
                            rule + "\n              bytes used        23\n" + rule +
                            "\nRestrictions are present.\n");
    IncludeAll();
    RAMstatus();
    std::string out = Output();
    EXPECT_NE(out.find("No restrictions present."), std::string::npos) << out;
}

}  // namespace
}  // namespace korw::data::unit
