// The interactive front: completion and shortcuts of the typed text, the command log, the beep
// and the error box, and the faults caught around a typed command.
#include <filesystem>

#include "data/restrict.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Lines = std::vector<std::string>;

class Typed : public InterpTest {};

TEST_F(Typed, SuccessIsLoggedFailureIsLoggedBeepedAndBoxed) {
    EXPECT_TRUE(RunTypedCommand("var x 3", true));
    EXPECT_EQ(desktop.log, (Lines{"VARIATE x 3"}));
    EXPECT_EQ(desktop.beeps, 0);
    EXPECT_TRUE(desktop.errorBoxes.empty());

    EXPECT_FALSE(RunTypedCommand("VARIATE y 2.5", true));
    EXPECT_EQ(desktop.log.back(), "*** VARIATE y 2.5");
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(desktop.errorBoxes, (Lines{"Invalid integer expression 2.5"}));
    EXPECT_EQ(CommandError, "");  // cleared once the box was shown

    EXPECT_FALSE(RunTypedCommand("LIS x", true));
    EXPECT_EQ(desktop.log.back(), "*** LIS x");
    EXPECT_EQ(desktop.errorBoxes.back(), "Unknown command LIS");
    EXPECT_EQ(desktop.beeps, 2);

    // Without completion (batch lines) the text is run and logged as it stands.
    EXPECT_FALSE(RunTypedCommand("lis x", false));
    EXPECT_EQ(desktop.log.back(), "*** lis x");
    EXPECT_EQ(desktop.errorBoxes.back(), "Unknown command LIS");
    EXPECT_EQ(desktop.beeps, 3);
}

// The log keeps the command as the command window shows it once the command was identified:
// the full name and the parameters with their blanks reduced. A command that was never
// identified is logged as typed.
TEST_F(Typed, TheLogShowsTheIdentifiedCommand) {
    EXPECT_TRUE(RunTypedCommand("var   x    3", true));
    EXPECT_EQ(desktop.log.back(), "VARIATE x 3");
    EXPECT_TRUE(RunTypedCommand("l   x", true));
    EXPECT_EQ(desktop.log.back(), "LIST x");
    EXPECT_FALSE(RunTypedCommand("l  nosuch", true));
    EXPECT_EQ(desktop.log.back(), "*** LIST nosuch");
    EXPECT_FALSE(RunTypedCommand("fitl  y = x", true));
    EXPECT_EQ(desktop.log.back(), "*** FITL  y = x");
    WriteFile("prog.kor", "VARIATE p 2\n");
    EXPECT_TRUE(RunTypedCommand("run   prog", false));
    EXPECT_EQ(desktop.log.back(), "RUN prog");
}

TEST_F(Typed, AssignmentShortcutsRunCompute) {
    EXPECT_TRUE(RunTypedCommand("x=2", false));
    EXPECT_EQ(desktop.log.back(), "COMPUTE x=2");
    EXPECT_FLOAT_EQ(data::Value("X", 1), 2.0f);
    EXPECT_TRUE(RunTypedCommand("+y=x*3", false));
    EXPECT_EQ(desktop.log.back(), "COMPUTE y=x*3");
    EXPECT_FLOAT_EQ(data::Value("Y", 1), 6.0f);
    EXPECT_TRUE(RunTypedCommand("+x+y", true));  // a bare expression, listed
    EXPECT_EQ(desktop.log.back(), "COMPUTE x+y");
    ASSERT_FALSE(desktop.reviewed.empty());
    EXPECT_NE(desktop.reviewed.back().find('8'), std::string::npos) << desktop.reviewed.back();
    EXPECT_EQ(data::FindVector("%RESULT"), 0);
    // A leading blank of a typed line means COMPUTE.
    EXPECT_TRUE(RunTypedCommand(" z=x+1", true));
    EXPECT_FLOAT_EQ(data::Value("Z", 1), 3.0f);
    // "x=" has no expression after the "=" and is no shortcut.
    EXPECT_FALSE(RunTypedCommand("x=", false));
    EXPECT_EQ(desktop.errorBoxes.back(), "Unknown command X=");
}

TEST_F(Typed, BareExpressionIsListedEvenWhenUnitOneIsExcluded) {
    ASSERT_TRUE(RunTypedCommand("VARIATE a 3", false));
    ASSERT_TRUE(RunTypedCommand("EXCLUDE 1", false));
    EXPECT_TRUE(RunTypedCommand("COMPUTE 2+5", false));
    ASSERT_FALSE(desktop.reviewed.empty());
    EXPECT_NE(desktop.reviewed.back().find('7'), std::string::npos) << desktop.reviewed.back();
    EXPECT_FALSE(data::UnitIncluded(1));
    EXPECT_TRUE(data::UnitIncluded(2));
}

TEST_F(Typed, ExpandCommandLineCompletesOnlyTheCommandWord) {
    struct Case {
        const char* typed;
        const char* expanded;
        bool invalid;
    } cases[] = {
        {"", "", false},
        {" list", " list", false},
        {"x=a+b", "COMPUTE x=a+b", false},
        {"=x", "COMPUTE x", false},
        {"+x=1", "COMPUTE x=1", false},
        {"x=", "X", true},  // no "=" before the last character: the word is cut back
        {"var Ab 3", "VARIATE Ab 3", false},
        {"fitl", "FITL", false},  // ambiguous but valid so far
        {"fitlin y = x", "FITLINEARNORMAL y = x", false},
        {"bart", "BARTLETT", false},
        {"q", "QUIT", false},
        {"y", "YTEXT", false},
        {"yt", "YTEXT", false},  // YTEXT is the last name of the table
        {"yx", "Y", true},
        {"varx 3", "VAR 3", true},
        {"variatex 3", "VARIATE 3", true},
        {"zzz", "", true},
    };
    for (const Case& c : cases) {
        bool invalid = !c.invalid;
        EXPECT_EQ(ExpandCommandLine(c.typed, &invalid), c.expanded) << c.typed;
        EXPECT_EQ(invalid, c.invalid) << c.typed;
    }
    // An "=" after the first word is part of the parameters.
    EXPECT_EQ(ExpandCommandLine("list x=a"), "LIST x=a");
    EXPECT_EQ(CompleteShortWord("TR"), "TRANSFER");
    EXPECT_EQ(CompleteShortWord("I"), "INCLUDE");
    EXPECT_EQ(CompleteShortWord("OP"), "OPEN");
    EXPECT_EQ(CompleteShortWord("SA"), "SAVE");
    EXPECT_EQ(CompleteShortWord("EX"), "EXCLUDE");
    EXPECT_EQ(CompleteShortWord("SK"), "SKIP");
    EXPECT_EQ(CompleteShortWord("LIS"), "LIS");
    EXPECT_EQ(CompleteShortWord("LI x"), "LI x");
}

TEST_F(Typed, FailingProgramLineStopsTheProgramNotTheRun) {
    WriteFile("prog.kor", "VARIATE p 2\nxyz\nVARIATE q 2\n");
    size_t mark = Mark();
    EXPECT_TRUE(RunTypedCommand("RUN prog", false));
    EXPECT_EQ(desktop.log.back(), "RUN prog");  // the RUN itself succeeded
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(desktop.errorBoxes, (Lines{"Unknown command XYZ (line 2)"}));
    EXPECT_FALSE(ProgramRunning);
    EXPECT_EQ(data::LengthOf("P"), 2);
    EXPECT_EQ(data::LengthOf("Q"), 0);
    Lines lines = Since(mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "KORW: XYZ "), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), " *** ERROR - Unknown command XYZ ***"),
              lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "KORW: VARIATE q 2"), lines.end());
}

TEST_F(Typed, MillionCharacterTypedLinesAreCompletedAndRun) {
    const size_t n = 1000000;
    // The word is cut back to the name it ran past: L, which runs LIST.
    EXPECT_TRUE(RunTypedCommand("LIST" + std::string(n, 'x'), true));
    EXPECT_EQ(desktop.log.back(), "LIST");
    // A word that begins no name is cut back to nothing; the parameter x then is the command
    // word (XTEXT).
    EXPECT_TRUE(RunTypedCommand(std::string(n, 'z') + " x", true));
    EXPECT_EQ(desktop.log.back(), "XTEXT");
    std::string sum = "x=1";
    while (sum.size() < n) sum += "+1";
    EXPECT_FALSE(RunTypedCommand(sum, true));  // too many terms for the compiler
    EXPECT_EQ(desktop.log.back().substr(0, 15), "*** COMPUTE x=1");
    EXPECT_EQ(data::FindVector("X"), 0);
}

TEST_F(Typed, UnwritableSessionOutputIsAnInputOutputFault) {
    std::string directory = root_ + "/ADIR";
    std::filesystem::create_directory(directory);
    SessionOutputFile = directory;
    EXPECT_FALSE(RunTypedCommand("VARIATE x 2", false));
    EXPECT_EQ(desktop.errorBoxes, (Lines{"Unexpected I/O error - sorry! "}));
    EXPECT_EQ(desktop.log, (Lines{"*** VARIATE x 2"}));
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_FALSE(desktop.closed);
    EXPECT_EQ(CommandError, "");
}

TEST_F(Typed, QuitThatCannotWriteClosesTheSession) {
    for (const char* quit : {"QUIT", "quit", "qu now"}) {
        desktop = FakeDesktop();
        SessionClosing = false;
        SessionOutputFile = "/dev/full";  // exists, but every write fails
        EXPECT_FALSE(RunTypedCommand(quit, false)) << quit;
        EXPECT_EQ(desktop.errorBoxes, (Lines{"Cannot write to the sessions outputfile"})) << quit;
        EXPECT_TRUE(SessionClosing) << quit;
        EXPECT_TRUE(desktop.closed) << quit;
    }
}

}  // namespace
}  // namespace korw::interp::test
