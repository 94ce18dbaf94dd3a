#include "session/demos.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "data/files.h"

namespace korw::session {
namespace {

namespace fs = std::filesystem;

// Records the boxes; everything else is never reached by the demonstration folder.
class RecordingDesktop : public interp::Desktop {
  public:
    std::vector<std::string> boxes;
    void Beep() override {}
    void ErrorBox(const std::string& text) override { boxes.push_back(text); }
    bool Confirm(const std::string&) override { return false; }
    std::optional<std::string> OpenDialog(const interp::FileDialog&) override { return {}; }
    std::optional<std::string> SaveDialog(const interp::FileDialog&) override { return {}; }
    void ShellOpen(const std::string&, const std::string&) override {}
    bool CopyFile(const std::string&, const std::string&) override { return false; }
    bool EscapeRequested() override { return false; }
    bool ReviewResults(const std::string&) override { return true; }
    void LogCommand(const std::string&) override {}
    void SetCommandText(const std::string&) override {}
    void CloseMainWindow() override {}
};

class DemoFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        base = fs::temp_directory_path() /
               ("korw-demos-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base);
        source = (base / "source").string();
        target = (base / "DEMOS").string();
        fs::create_directories(source);
        fs::create_directories(target);
        FillFolder(source, "new");
    }
    void TearDown() override { fs::remove_all(base); }

    // Every demonstration file holding `text`, VERSION.TXT the current version.
    static void FillFolder(const std::string& dir, const std::string& text) {
        for (const std::string& name : session::DemoFileNames())
            Write(dir + "/" + name, name == "VERSION.TXT" ? "JUN2009\n" : text);
    }
    static void Write(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path base;
    std::string source, target;
    RecordingDesktop desktop;
};

TEST_F(DemoFolder, TheFixedSetOfTwentyOneFiles) {
    const std::vector<std::string>& names = session::DemoFileNames();
    ASSERT_EQ(names.size(), 21u);
    EXPECT_EQ(names.front(), "VERSION.TXT");
    EXPECT_EQ(names.back(), "COX.KOR");
    for (const char* name : {"README", "1.KOR", "6.KOR", "W-H-DATA.KDS", "DEMO2.DAT", "D5-1.KOR",
                             "D5-7.KOR", "D6.KDS", "SPLITPLOT.KOR", "ORDINAL.KOR"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST_F(DemoFolder, AMissingFileReplacesTheWholeSet) {
    FillFolder(target, "old");
    fs::remove(target + "/D5-3.KOR");
    Write(target + "/mine.KDS", "the user's own");
    EXPECT_FALSE(session::DemosComplete(target));
    EXPECT_TRUE(session::InstallDemos(source, target, desktop));
    for (const std::string& name : session::DemoFileNames())
        EXPECT_EQ(Read(target + "/" + name), name == "VERSION.TXT" ? "JUN2009\n" : "new") << name;
    EXPECT_EQ(Read(target + "/mine.KDS"), "the user's own");  // only the 18 are touched
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(session::DemosComplete(target));
}

TEST_F(DemoFolder, AnOutdatedVersionReplacesTheSet) {
    FillFolder(target, "old");
    Write(target + "/VERSION.TXT", "MAY2009\nJUN2009\n");  // only the first line counts
    EXPECT_FALSE(session::DemosComplete(target));
    EXPECT_TRUE(session::InstallDemos(source, target, desktop));
    EXPECT_EQ(Read(target + "/README"), "new");
    EXPECT_EQ(Read(target + "/VERSION.TXT"), "JUN2009\n");

    Write(target + "/VERSION.TXT", "");
    EXPECT_FALSE(session::DemosComplete(target));
}

TEST_F(DemoFolder, ACompleteSetIsLeftAlone) {
    FillFolder(target, "edited by the user");
    Write(target + "/VERSION.TXT", "JUN2009\r\n");  // a line end written on Windows
    EXPECT_TRUE(session::DemosComplete(target));
    EXPECT_TRUE(session::InstallDemos(source, target, desktop));
    EXPECT_EQ(Read(target + "/1.KOR"), "edited by the user");
    EXPECT_EQ(Read(target + "/VERSION.TXT"), "JUN2009\r\n");
}

TEST_F(DemoFolder, NamesMatchWithoutRegardToCase) {
    FillFolder(target, "old");
    fs::rename(target + "/README", target + "/readme");
    fs::rename(target + "/D6.KDS", target + "/d6.kds");
    EXPECT_TRUE(session::DemosComplete(target));

    // Outdated: the lower-case files are replaced, not doubled.
    Write(target + "/VERSION.TXT", "JAN2001\n");
    EXPECT_TRUE(session::InstallDemos(source, target, desktop));
    EXPECT_FALSE(fs::exists(target + "/README") && fs::exists(target + "/readme"));
    EXPECT_EQ(Read(data::ResolveExisting(target + "/README")), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(session::DemoFileNames().size()));
}

TEST_F(DemoFolder, AFileThatCannotBeCopiedEndsWithItsMessage) {
    fs::remove(source + "/D6.KDS");
    EXPECT_FALSE(session::InstallDemos(source, target, desktop));
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0], "Failed to copy D6.KDS from " + source);
    EXPECT_FALSE(session::DemosComplete(target));
}

TEST(DemoDirectory, IsTheRootsDemosFolderInAnyCase) {
    EXPECT_TRUE(session::IsDemoDirectory("/home/u/.korw/DEMOS", "/home/u/.korw"));
    EXPECT_TRUE(session::IsDemoDirectory("/home/u/.korw/demos/", "/home/u/.korw"));
    EXPECT_TRUE(session::IsDemoDirectory("/HOME/U/.KORW/Demos", "/home/u/.korw"));
    EXPECT_TRUE(session::IsDemoDirectory("/r/./DEMOS", "/r/"));
    EXPECT_FALSE(session::IsDemoDirectory("/home/u/.korw/MISC", "/home/u/.korw"));
    EXPECT_FALSE(session::IsDemoDirectory("/home/u/.korw/DEMOS/sub", "/home/u/.korw"));
    EXPECT_FALSE(session::IsDemoDirectory("/other/DEMOS", "/home/u/.korw"));
}

}  // namespace
}  // namespace korw::session
