#include "data/infile.h"

#include <gtest/gtest.h>

#include "store_fixture.h"

namespace korw::data::unit {
namespace {

using InFile = StoreTest;

TEST_F(InFile, SeparatorsBetweenItems) {
    WriteFile("one.txt", "1.5,2.5;3.5\n");
    WriteFile("three.txt", "  1.5\n2.5\t\r\n\n3.5 , ;\n");
    DeclareVariate("x", 3);
    for (const char* file : {"one.txt", "three.txt"}) {
        OpenInFile(Path(file));
        ASSERT_EQ(Error(), "");
        for (int u = 1; u <= 3; ++u) ReadValue("x", u);
        EXPECT_EQ(Error(), "") << file;
        EXPECT_EQ(Value("x", 1), 1.5f);
        EXPECT_EQ(Value("x", 2), 2.5f);
        EXPECT_EQ(Value("x", 3), 3.5f);
        for (int u = 1; u <= 3; ++u) AssignValue("x", u, 0);
    }
}

TEST_F(InFile, MissingAndInvalidItems) {
    WriteFile("data.txt", "* . - 1.2.3 1E39 3E38 -3E38 2e-3 abc\n");
    DeclareVariate("x", 9);
    OpenInFile(Path("data.txt"));
    AssignValue("x", 3, 7);
    ReadValue("x", 1);
    ReadValue("x", 2);
    EXPECT_EQ(Value("x", 1), MissingValue);
    EXPECT_EQ(Value("x", 2), MissingValue);
    ReadValue("x", 3);
    EXPECT_EQ(Error(), "Invalid real number - for variate X at unit 3");
    EXPECT_EQ(Value("x", 3), 7.0f);  // unchanged
    ReadValue("x", 3);
    EXPECT_EQ(Error(), "Invalid real number 1.2.3 for variate X at unit 3");
    ReadValue("x", 3);
    EXPECT_EQ(Error(), "Invalid real number 1E39 for variate X at unit 3");
    ReadValue("x", 4);
    ReadValue("x", 5);
    ReadValue("x", 6);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Value("x", 4), 3E38f);
    EXPECT_EQ(Value("x", 5), -3E38f);
    EXPECT_EQ(Value("x", 6), 2e-3f);
    ReadValue("x", 7);
    EXPECT_EQ(Error(), "Invalid real number abc for variate X at unit 7");
}

TEST_F(InFile, EndOfFileAndLastItemWithoutLineEnd) {
    WriteFile("data.txt", "4 5\n6");
    DeclareVariate("x", 4);
    DeclareFactor("f", 2, 9);
    OpenInFile(Path("data.txt"));
    for (int u = 1; u <= 3; ++u) ReadValue("x", u);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Value("x", 3), 6.0f);
    ReadValue("x", 4);
    EXPECT_EQ(Error(), "End of inputfile before unit 4 of variate X");
    ReadLevel("f", 2);
    EXPECT_EQ(Error(), "End of inputfile before unit 2 of F");
    SkipItem();
    EXPECT_EQ(Error(), "End of input file");

    WriteFile("blank.txt", "7\n  \n\n");
    OpenInFile(Path("blank.txt"));
    ReadValue("x", 1);
    ReadValue("x", 2);  // only separators are left
    EXPECT_EQ(Error(), "End of inputfile before unit 2 of X");
}

TEST_F(InFile, OpenAndCheckMessages) {
    DeclareVariate("x", 2);
    DeclareFactor("f", 2, 2);
    ReadValue("x", 1);
    EXPECT_EQ(Error(), "Inputfile not open");
    ReadLevel("f", 1);
    EXPECT_EQ(Error(), "Inputfile not open");
    SkipItem();
    EXPECT_EQ(Error(), "Inputfile not open");
    OpenInFile(Path("none.txt"));
    EXPECT_EQ(Error(), "IO error initializing input file " + Path("none.txt"));
    EXPECT_FALSE(InFileOpen());
    WriteFile("d.txt", "1 2");
    OpenInFile(Path("d.txt"));
    ReadValue("x", 3);
    EXPECT_EQ(Error(), "Invalid unit index 3 for variate X");
    ReadLevel("f", 0);
    EXPECT_EQ(Error(), "Invalid unit index 0 for factor F");
    ReadLevel("x", 1);
    EXPECT_EQ(Error(), "X is not a factor");
    ReadValue("f", 1);
    EXPECT_EQ(Error(), "F is not a variate");
    SkipItem();
    ReadValue("x", 1);
    EXPECT_EQ(Value("x", 1), 2.0f);
}

TEST_F(InFile, LevelsByNumberAndByName) {
    WriteFile("levels.txt", "0 3 2 01 4\nmale none female MALE\n");
    DeclareFactor("f", 5, 3);
    DeclareFactor("sex", 4, 2);
    OpenInFile(Path("levels.txt"));
    ReadLevel("f", 1);
    ReadLevel("f", 2);
    ReadLevel("f", 3);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Level("f", 1), 0);
    EXPECT_EQ(Level("f", 2), 3);
    EXPECT_EQ(Level("f", 3), 2);
    ReadLevel("f", 3);
    EXPECT_EQ(Error(), "Invalid level name 01 for factor F at unit 3");
    EXPECT_EQ(Level("f", 3), 0);  // the unit is left at level 0
    ReadLevel("f", 4);
    EXPECT_EQ(Error(), "Invalid level name 4 for factor F at unit 4");

    for (int u = 1; u <= 3; ++u) ReadLevel("sex= none , male,female", u);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Level("sex", 1), 1);
    EXPECT_EQ(Level("sex", 2), 0);
    EXPECT_EQ(Level("sex", 3), 2);
    ReadLevel("sex=none,male,female", 4);
    EXPECT_EQ(Error(), "Invalid level name MALE for factor SEX at unit 4");
}

TEST_F(InFile, ShortLevelListAndOwnSeparators) {
    WriteFile("data.txt", "b|a|c\n");
    DeclareFactor("g", 3, 3);
    AddSeparators("|");
    OpenInFile(Path("data.txt"));
    ReadLevel("g=a,b", 1);
    ReadLevel("g=a,b", 2);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Level("g", 1), 1);
    EXPECT_EQ(Level("g", 2), 0);
    ReadLevel("g=a,b", 3);  // levels 2 and 3 have empty texts
    EXPECT_EQ(Error(), "Invalid level name c for factor G at unit 3");
    ResetSeparators();
    WriteFile("data2.txt", "1|2\n");
    DeclareVariate("x", 1);
    OpenInFile(Path("data2.txt"));
    ReadValue("x", 1);
    EXPECT_EQ(Error(), "Invalid real number 1|2 for variate X at unit 1");
}

TEST_F(InFile, BinaryFileDoesNotCrash) {
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 37) & 0xFF));
    WriteFile("bin.dat", bytes);
    DeclareVariate("x", 100);
    OpenInFile(Path("bin.dat"));
    for (int u = 1; u <= 100 && !InputAtEnd(); ++u) ReadValue("x", u);
    SUCCEED();
}

}  // namespace
}  // namespace korw::data::unit
