#include "data/files.h"

#include <gtest/gtest.h>

#include "store_fixture.h"

namespace korw::data::unit {
namespace {

using Files = StoreTest;

TEST_F(Files, ExistingNamesMatchUpToCase) {
    WriteFile("Data.TXT", "abc");
    EXPECT_EQ(ResolveExisting(Path("data.txt")), Path("Data.TXT"));
    EXPECT_EQ(ResolveExisting(Path("Data.TXT")), Path("Data.TXT"));
    EXPECT_TRUE(FileExists(Path("DATA.txt")));
    EXPECT_EQ(FileSize(Path("data.txt")), 3);
    std::FILE* f = OpenFile(Path("DATA.TXT"), "r");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(ResolveExisting(Path("none.txt")), Path("none.txt"));
    EXPECT_EQ(FileSize(Path("none.txt")), -1);
    EXPECT_FALSE(FileExists(Path("none.txt")));
}

TEST_F(Files, TwoCaseVariantsAreAmbiguous) {
    WriteFile("a.txt", "1");
    WriteFile("A.txt", "22");
    EXPECT_EQ(ResolveExisting(Path("a.TXT")), Path("a.TXT"));
    EXPECT_FALSE(FileExists(Path("a.TXT")));
    EXPECT_EQ(FileSize(Path("A.txt")), 2);  // the exact name still works
}

TEST_F(Files, CreatedFilesReplaceTheirCaseVariant) {
    WriteFile("Result.txt", "old");
    std::FILE* f = OpenFile(Path("RESULT.TXT"), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("new!", f);
    std::fclose(f);
    EXPECT_EQ(FileSize(Path("Result.txt")), 4);
    EXPECT_FALSE(std::filesystem::exists(Path("RESULT.TXT")) &&
                 std::filesystem::exists(Path("Result.txt")) &&
                 !std::filesystem::equivalent(Path("RESULT.TXT"), Path("Result.txt")));
    f = OpenFile(Path("Fresh.txt"), "a");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(std::filesystem::exists(Path("Fresh.txt")));
    f = OpenFile(Path("FRESH.TXT"), "a");
    std::fputs("x", f);
    std::fclose(f);
    EXPECT_EQ(FileSize(Path("Fresh.txt")), 1);
    EXPECT_TRUE(RemoveFile(Path("fresh.txt")));
    EXPECT_FALSE(FileExists(Path("Fresh.txt")));
    EXPECT_FALSE(RemoveFile(Path("fresh.txt")));
}

TEST_F(Files, NullDeviceAndDirectories) {
    EXPECT_TRUE(IsNullDevice("nul"));
    EXPECT_TRUE(IsNullDevice("NUL"));
    EXPECT_FALSE(IsNullDevice("NULL"));
    EXPECT_FALSE(FileExists("NUL"));
    std::FILE* f = OpenFile("Nul", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("gone", f);
    std::fclose(f);
    EXPECT_FALSE(std::filesystem::exists("Nul"));
    std::filesystem::create_directory(Path("Sub"));
    EXPECT_TRUE(DirectoryExists(Path("sub")));
    EXPECT_FALSE(FileExists(Path("sub")));
    EXPECT_EQ(OpenFile(Path("sub"), "r"), nullptr);
}

}  // namespace
}  // namespace korw::data::unit
