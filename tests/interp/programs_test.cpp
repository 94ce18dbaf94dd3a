// Running programs where the batch transcripts cannot look: Escape from the keyboard, the
// deferred SHOW, the editor's variants of RUN, a session output file that fails mid-program,
// and the shortkey files kept in the root directory.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "data/vectors.h"
#include "interp/shortkeys.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Lines = std::vector<std::string>;

// Answers the look at pending keys with Escape on its n-th call, and can run an action
// there instead; records what is shown with the last line of the session output at the time.
class ScriptedDesktop : public FakeDesktop {
  public:
    int escapeAt = 0;
    int calls = 0;
    std::function<void()> atCall;
    Lines shown;
    Lines lastLineWhenShown;

    bool EscapeRequested() override {
        ++calls;
        if (calls == escapeAt && atCall) atCall();
        return calls == escapeAt && !atCall;
    }
    void ShowFile(const std::string& file) override {
        shown.push_back(file);
        std::ifstream in(SessionOutputFile);
        std::string line, last;
        while (std::getline(in, line)) last = line;
        lastLineWhenShown.push_back(last);
    }
};

class Programs : public InterpTest {
  protected:
    void SetUp() override {
        InterpTest::SetUp();
        TheDesktop = &scripted;
        ClearShortKeys();
    }
    void TearDown() override {
        RunSelectionOnly = false;
        ClearShortKeys();
        InterpTest::TearDown();
    }

    bool Contains(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    ScriptedDesktop scripted;
};

TEST_F(Programs, EscapeStopsAfterTheCommandItInterruptedAndIsForgottenByTheNextRun) {
    WriteFile("long.kor", "VARIATE $a 1\nVARIATE b 1\n\nVARIATE c 1\nVARIATE d 1\n");
    WriteFile("again.kor", "VARIATE e 1\nVARIATE f 1\n");
    scripted.escapeAt = 2;  // noticed as the second line starts
    size_t mark = Mark();
    EXPECT_TRUE(RunTypedCommand("RUN long", false));
    EXPECT_EQ(scripted.errorBoxes, (Lines{"Escape from keyboard (line 2)"}));
    EXPECT_EQ(scripted.beeps, 1);
    EXPECT_EQ(data::LengthOf("B"), 1);
    EXPECT_EQ(data::LengthOf("C"), 0);
    EXPECT_EQ(data::FindVector("$A"), 0);
    EXPECT_FALSE(ProgramRunning);
    Lines lines = Since(mark);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " *** ERROR - Escape from keyboard (line 2) ***");
    EXPECT_EQ(lines.back(), " *** PROGRAM INTERRUPTED ***");

    // The next program starts with the key forgotten and runs to its end.
    mark = Mark();
    EXPECT_TRUE(RunTypedCommand("RUN again", false));
    EXPECT_EQ(scripted.errorBoxes.size(), 1u);
    EXPECT_EQ(data::LengthOf("F"), 1);
    EXPECT_EQ(Since(mark).back(), " *** END OF PROGRAM ***");
}

TEST_F(Programs, ShowWaitsForTheEndAndTheLastOneCounts) {
    WriteFile("show.kor", "SHOW\nSHOW notes.txt\nVARIATE x 1\n");
    WriteFile("showall.kor", "SHOW\n");
    EXPECT_TRUE(RunTypedCommand("RUN show", false));
    EXPECT_TRUE(scripted.errorBoxes.empty());  // a missing file is not looked for in a program
    EXPECT_EQ(scripted.shown, (Lines{"notes.txt"}));
    EXPECT_EQ(scripted.lastLineWhenShown, (Lines{" *** END OF PROGRAM ***"}));
    EXPECT_EQ(data::LengthOf("X"), 1);

    EXPECT_TRUE(RunTypedCommand("RUN showall", false));
    EXPECT_EQ(scripted.shown.back(), SessionOutputFile);

    // A program that stops still shows what it asked for, after the INTERRUPTED line.
    WriteFile("showfail.kor", "SHOW notes.txt\nxyz\n");
    EXPECT_TRUE(RunTypedCommand("RUN showfail", false));
    EXPECT_EQ(scripted.shown.back(), "notes.txt");
    EXPECT_EQ(scripted.lastLineWhenShown.back(), " *** PROGRAM INTERRUPTED ***");

    // A program without SHOW shows nothing, even after one that had it.
    size_t shown = scripted.shown.size();
    WriteFile("noshow.kor", "VARIATE y 1\n");
    EXPECT_TRUE(RunTypedCommand("RUN noshow", false));
    EXPECT_EQ(scripted.shown.size(), shown);
}

TEST_F(Programs, EditorRunsMarkSelectedLinesAndBoxTheirOpenFailures) {
    WriteFile("sel.kor", "VARIATE s 1\n");
    RunSelectionOnly = true;
    size_t mark = Mark();
    EXPECT_EQ(Run("RUN sel"), "");
    Lines lines = Since(mark);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], " *** START OF PROGRAM - executing selected lines only ***");
    RunSelectionOnly = false;

    EditorActive = true;
    EXPECT_EQ(Run("RUN nosuch"), "Can not open nosuch.kor");
    EXPECT_EQ(scripted.beeps, 1);
    EXPECT_EQ(scripted.errorBoxes, (Lines{"Can not open nosuch.kor"}));
    EXPECT_FALSE(ProgramRunning);
    EditorActive = false;

    // From the command window the failure is only the command's error.
    EXPECT_EQ(Run("RUN nosuch"), "Can not open nosuch.kor");
    EXPECT_EQ(scripted.beeps, 1);
}

TEST_F(Programs, FailingSessionOutputDoesNotLeaveAProgramRunning) {
    WriteFile("prog.kor", "VARIATE p 1\nVARIATE q 1\nVARIATE r 1\n");
    WriteFile("next.kor", "VARIATE n 1\n");
    std::string sessionOutput = SessionOutputFile;
    scripted.escapeAt = 2;
    scripted.atCall = [&] { SessionOutputFile = root_ + "/gone/KORWOUT.TMP"; };
    EXPECT_FALSE(RunTypedCommand("RUN prog", false));
    EXPECT_EQ(scripted.errorBoxes.back(), "Unexpected I/O error - sorry! ");
    EXPECT_FALSE(ProgramRunning);
    EXPECT_EQ(TemporaryOutput, RootTemporaryOutput());
    EXPECT_EQ(data::LengthOf("R"), 0);

    // The session goes on: programs run again and SUBSTITUTE is interactive once more.
    SessionOutputFile = sessionOutput;
    EXPECT_EQ(Run("SUBSTITUTE a"), "SUBSTITUTE not allowed in interactive mode");
    EXPECT_TRUE(RunTypedCommand("RUN next", false));
    EXPECT_EQ(data::LengthOf("N"), 1);
}

TEST_F(Programs, ShortkeysAreSavedInTableOrderAndReadBack) {
    ASSERT_EQ(Run("KEYS CF5 LIST!"), "");
    ASSERT_EQ(Run("KEYS F2 COMPUTE ?=0!"), "");
    ASSERT_EQ(Run("KEYS SF12 summary"), "");
    ASSERT_EQ(Run("KEYS AQ include all"), "");
    ASSERT_EQ(Run("KEYS F2"), "");            // frees the second entry
    ASSERT_EQ(Run("KEYS A7 ramstatus"), "");  // and takes it again
    SaveShortKeys();
    const std::string bin = root_ + "/SHORTKEY.BIN";
    const std::string txt = root_ + "/SHORTKEY.TXT";
    const char expected[] = {116, 0, 4, 0, 55, 0, 2, 0, 123, 0, 1, 0, 81, 0, 2, 0};
    EXPECT_EQ(ReadBytes(bin), std::string(expected, sizeof expected));
    EXPECT_EQ(LinesOf(txt), (Lines{"LIST!", "ramstatus", "summary", "include all"}));

    ASSERT_EQ(Run("KEYS -"), "");
    EXPECT_FALSE(FindShortKey(FunctionKey(5), kCtrl));
    ASSERT_EQ(Run("KEYS +"), "");
    EXPECT_EQ(FindShortKey(FunctionKey(5), kCtrl), "LIST!");
    EXPECT_EQ(FindShortKey('7', kAlt), "ramstatus");
    EXPECT_EQ(FindShortKey(FunctionKey(12), kShift), "summary");
    EXPECT_EQ(FindShortKey('Q', kAlt), "include all");
    EXPECT_FALSE(FindShortKey('Q', kCtrl));

    // With no files, reloading leaves an empty table.
    std::remove(bin.c_str());
    std::remove(txt.c_str());
    ASSERT_EQ(Run("KEYS +"), "");
    EXPECT_FALSE(FindShortKey(FunctionKey(5), kCtrl));
}

TEST_F(Programs, ShortkeyFilesAreReadOnlyAsFarAsTheyGo) {
    const std::string bin = root_ + "/SHORTKEY.BIN";
    const std::string txt = root_ + "/SHORTKEY.TXT";
    // One whole record, then half of one: the half is no entry.
    WriteBytes(bin, std::string("Q\0\6\0W\0", 6));
    WriteBytes(txt, "first\r\nsecond\nthird\n");
    LoadShortKeys();
    EXPECT_EQ(FindShortKey('Q', kAlt | kCtrl), "first");  // a text written on Windows
    EXPECT_FALSE(FindShortKey('W', 0));
    EXPECT_EQ(ShortKeyEntry(2).key, 0);

    // Several modifiers are listed by the last of Alt, Ctrl and Shift that is set.
    ASSERT_EQ(Run("KEYS"), "");
    ASSERT_FALSE(scripted.reviewed.empty());
    EXPECT_NE(scripted.reviewed.back().find("  <Ctrl>-Q    first"), std::string::npos);

    // More records than the table holds: the table is filled and the rest ignored.
    std::string records, texts;
    for (int i = 0; i < kShortKeyCount + 5; ++i) {
        records += std::string{static_cast<char>(i + 1), static_cast<char>(1), '\2', '\0'};
        texts += "text" + std::to_string(i + 1) + "\n";
    }
    WriteBytes(bin, records);
    WriteBytes(txt, texts);
    LoadShortKeys();
    EXPECT_EQ(ShortKeyEntry(kShortKeyCount).text, "text130");
    EXPECT_EQ(FindShortKey(static_cast<uint16_t>(256 + kShortKeyCount), kAlt), "text130");
    EXPECT_FALSE(FindShortKey(static_cast<uint16_t>(256 + kShortKeyCount + 1), kAlt));

    // A full table refuses a new key and stays as it was.
    EXPECT_EQ(Run("KEYS CF5 LIST"), "Too many shortkey definitions");
    EXPECT_FALSE(FindShortKey(FunctionKey(5), kCtrl));
    EXPECT_EQ(ShortKeyEntry(1).text, "text1");
}

}  // namespace
}  // namespace korw::interp::test
