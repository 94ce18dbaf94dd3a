#include "interp/execute.h"

#include <filesystem>

#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/commands.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Lines = std::vector<std::string>;

class Execute : public InterpTest {};

TEST_F(Execute, BlanksAreNormalisedBeforeTheEchoAndTheCommandWindow) {
    ASSERT_EQ(Run("VARIATE x y 2"), "");
    size_t mark = Mark();
    EXPECT_EQ(Run("  list   x    y  "), "");
    std::vector<std::string> lines = Since(mark);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "KORW> LIST x y");
    EXPECT_EQ(desktop.commandTexts.back(), "LIST x y");
    ASSERT_EQ(desktop.reviewed.size(), 1u);  // both vectors listed for review
    EXPECT_NE(desktop.reviewed[0].find('X'), std::string::npos);
    EXPECT_NE(desktop.reviewed[0].find('Y'), std::string::npos);
    EXPECT_EQ(NormaliseBlanks("   "), "");
    EXPECT_EQ(NormaliseBlanks(" a  b   c "), "a b c");
}

TEST_F(Execute, EmptyAndBlankLinesAreEchoedAndRefused) {
    for (const char* line : {"", "      "}) {
        size_t mark = Mark();
        EXPECT_EQ(Run(line), "Empty command");
        EXPECT_EQ(Since(mark), (Lines{"KORW>  ", " *** ERROR - Empty command ***"}));
    }
    EXPECT_TRUE(desktop.commandTexts.empty());
}

TEST_F(Execute, AliasesAndPrefixesPickTheCommand) {
    ASSERT_EQ(Run("VARIATE x 2"), "");
    struct Case {
        const char* line;
        const char* echo;
        const char* error;
    } cases[] = {
        {"l1 x", "KORW> LIST1 x", ""},
        {"L x", "KORW> LIST x", ""},
        {"LIST x", "KORW> LIST x", ""},
        {"LIS x", "KORW> LIS x", "Unknown command LIS"},
        {"fitl y = x", "KORW> FITL y = x", "Unknown command FITL"},
        {"fit", "KORW> FIT ", "Unknown command FIT"},
        {"xyz Abc", "KORW> XYZ Abc", "Unknown command XYZ"},
        {"listx x", "KORW> LISTX x", "Unknown command LISTX"},
        {"var Z 3", "KORW> VARIATE Z 3", ""},
        {"remark Keeps Its Case", "KORW> REMARK Keeps Its Case", ""},
        {"yt", "KORW> YTEXT ", ""},
    };
    for (const Case& c : cases) {
        size_t mark = Mark();
        EXPECT_EQ(Run(c.line), c.error) << c.line;
        std::vector<std::string> lines = Since(mark);
        ASSERT_FALSE(lines.empty()) << c.line;
        EXPECT_EQ(lines[0], c.echo) << c.line;
        if (*c.error != '\0') {
            EXPECT_EQ(lines.back(), std::string(" *** ERROR - ") + c.error + " ***");
        }
    }
    EXPECT_EQ(data::LengthOf("Z"), 3);
    // FITLIN is FITLINEARNORMAL: the fit itself complains, not the dispatcher.
    std::string fit = Run("fitlin nothing");
    EXPECT_NE(fit, "");
    EXPECT_EQ(fit.find("Unknown command"), std::string::npos) << fit;
    // OPEN and SAVE are the short names of OPENINFILE and SAVEDATA.
    Run("open");
    EXPECT_EQ(desktop.commandTexts.back(), "OPENINFILE");
    EXPECT_EQ(Run("save"), "Missing parameter");
    EXPECT_EQ(desktop.commandTexts.back(), "SAVEDATA");
}

TEST_F(Execute, SomeCommandsDiscardTheirParameters) {
    size_t mark = Mark();
    EXPECT_EQ(Run("includeall 1 2 3"), "");
    EXPECT_EQ(Run("ramstatus everything"), "");
    EXPECT_EQ(Run("quit now please"), "");
    EXPECT_TRUE(desktop.closed);
    std::vector<std::string> lines = Since(mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "KORW> INCLUDEALL "), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "KORW> RAMSTATUS "), lines.end());
    EXPECT_EQ(lines.back(), "KORW> QUIT ");
}

TEST_F(Execute, QuitWithoutSessionOutputWarnsAndCloses) {
    std::filesystem::remove(SessionOutputFile);
    EXPECT_EQ(Run("QUIT"), "");
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(desktop.errorBoxes,
              (Lines{"The sessions output file has disappeared!\r\nDid you close another "
                     "session during this session?"}));
    EXPECT_TRUE(desktop.closed);
    EXPECT_FALSE(std::filesystem::exists(SessionOutputFile));  // no echo recreated it
}

TEST_F(Execute, TableNamesWithoutActionAreNotImplemented) {
    for (std::string_view name : CommandTable()) {
        if (name == "L" || name == "L1" || name == "OPEN" || name == "SAVE") continue;  // aliases
        std::string full = MatchCommand(name);
        if (full.empty() || FindCommandAction(full) != nullptr) continue;
        EXPECT_EQ(Run(std::string(name)), "Command " + full + " not implemented");
    }
}

TEST_F(Execute, CommandErrorAndErrorFreeAreResetForEachCommand) {
    EXPECT_EQ(Run("VARIATE x 2.5"), "Invalid integer expression 2.5");
    data::ErrorFree = false;
    data::ErrorMessage = "left over";
    EXPECT_EQ(Run("VARIATE x 2+4"), "");
    EXPECT_TRUE(data::ErrorFree);
    EXPECT_EQ(data::LengthOf("X"), 6);
    EXPECT_EQ(Run("VARIATE n 1"), "");
    ASSERT_EQ(Run("COMPUTE n = 4"), "");
    EXPECT_EQ(Run("VARIATE w n+1"), "");
    EXPECT_EQ(data::LengthOf("W"), 5);
    EXPECT_EQ(Run("VARIATE v 3e9"), "Invalid integer expression 3e9");
    EXPECT_EQ(Run("VARIATE v x"), "Invalid integer expression x");  // length 6, not 1
    EXPECT_EQ(Run("FACTOR f 10"), "Invalid integer expression f");
    EXPECT_EQ(Run("FACTOR f 10 3"), "");
    EXPECT_EQ(data::LengthOf("F"), 10);
    EXPECT_EQ(data::NumberOfLevels("F"), 3);
    EXPECT_EQ(data::FindVector("SYS1"), 0);  // the expression's temporary is gone
}

TEST_F(Execute, EchoOffAndClosingSessionWriteNoLines) {
    ASSERT_EQ(Run("ECHO"), "");
    EXPECT_FALSE(EchoOn);
    size_t mark = Mark();
    EXPECT_EQ(Run("xyz"), "Unknown command XYZ");
    EXPECT_EQ(Run("VARIATE a 2"), "");
    EXPECT_TRUE(Since(mark).empty());
    EXPECT_EQ(Run("ECHO 1"), "");
    EXPECT_TRUE(EchoOn);
    EXPECT_EQ(Since(mark), (Lines{" *** COMMAND ECHO RESUMED ***"}));
    EXPECT_EQ(Run("ECHO abc"), "Invalid real number abc");
    // A real parameter given as an expression is rounded to the nearest integer, ties to even.
    EXPECT_EQ(Run("ECHO 0.5*1"), "");
    EXPECT_FALSE(EchoOn);
    EXPECT_EQ(Run("ECHO 1.5*1"), "");
    EXPECT_TRUE(EchoOn);

    SessionClosing = true;
    mark = Mark();
    EXPECT_EQ(Run("xyz"), "Unknown command XYZ");
    EXPECT_TRUE(Since(mark).empty());
}

TEST_F(Execute, ProgramLinesUseTheirOwnPromptAndSkipTheCommandWindow) {
    ASSERT_EQ(Run("VARIATE x 3"), "");
    size_t texts = desktop.commandTexts.size();
    ProgramRunning = true;
    size_t mark = Mark();
    EXPECT_EQ(Run("list x"), "");
    std::vector<std::string> lines = Since(mark);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "KORW: LIST x");
    EXPECT_EQ(desktop.commandTexts.size(), texts);
    EXPECT_TRUE(desktop.reviewed.empty());  // results go straight to the output file
    EXPECT_FALSE(EscapePressed);
    desktop.escape = true;
    EXPECT_EQ(Run("xyz"), "Unknown command XYZ");
    EXPECT_TRUE(EscapePressed);
    EXPECT_EQ(Since(mark).back(), " *** ERROR - Unknown command XYZ ***");
    EXPECT_EQ(desktop.beeps, 0);
    EXPECT_TRUE(desktop.errorBoxes.empty());

    // OUTFILE 0 in a program discards the results without writing them anywhere.
    ASSERT_EQ(Run("OUTFILE 0"), "");
    EXPECT_EQ(TemporaryOutput, "NUL");
    mark = Mark();
    EXPECT_EQ(Run("list x"), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW: LIST x"}));
    ASSERT_EQ(Run("OUTFILE"), "");
    EXPECT_EQ(TemporaryOutput, RootTemporaryOutput());
    EXPECT_EQ(CurrentOutputFile, SessionOutputFile);

    // Commands from the program editor leave the command window alone too.
    ProgramRunning = false;
    EditorActive = true;
    EXPECT_EQ(Run("VARIATE e 1"), "");
    EXPECT_EQ(desktop.commandTexts.size(), texts);
}

TEST_F(Execute, ReviewedResultsAreKeptOrSuppressed) {
    ASSERT_EQ(Run("VARIATE x 3"), "");
    desktop.reviewAnswers = {true, false};
    size_t mark = Mark();
    EXPECT_EQ(Run("LIST x"), "");
    ASSERT_EQ(desktop.reviewed.size(), 1u);
    std::vector<std::string> kept = Since(mark);
    ASSERT_GE(kept.size(), 2u);
    std::string listed;
    for (size_t i = 1; i < kept.size(); ++i) listed += kept[i] + "\n";
    EXPECT_EQ(listed, desktop.reviewed[0]);  // exactly what was reviewed, nothing more
    EXPECT_FALSE(OutputPending);

    mark = Mark();
    EXPECT_EQ(Run("LIST x"), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW> LIST x", " *** OUTPUT SUPPRESSED ***"}));

    // Another output file gets the results; the session output says where they went.
    ASSERT_EQ(Run("OUTFILE res.out"), "");
    EXPECT_EQ(CurrentOutputFile, "RES.OUT");
    mark = Mark();
    EXPECT_EQ(Run("LIST x"), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW> LIST x", " *** OUTPUT WRITTEN TO RES.OUT ***"}));
    EXPECT_EQ(TextOf(WorkingDirectory + "/RES.OUT"), desktop.reviewed.back());
    EXPECT_EQ(Run("OUTFILE /no/such/dir/x"), "Cannot open /no/such/dir/X");
    EXPECT_EQ(CurrentOutputFile, "RES.OUT");  // a failed OUTFILE changes nothing
}

TEST_F(Execute, DeleteWithoutNamesRestartsTheSessionAndClearsTheFitFlags) {
    ASSERT_EQ(Run("VARIATE x 3"), "");
    ASSERT_EQ(Run("OUTFILE other.out"), "");
    AnovaFitted = true;
    InputFileOpen = true;
    EchoOn = false;
    EXPECT_EQ(Run("DELETE"), "");
    EXPECT_FALSE(AnovaFitted || NegBinFitted || NonLinearFitted);
    EXPECT_FALSE(InputFileOpen);
    EXPECT_TRUE(EchoOn);
    EXPECT_EQ(CurrentOutputFile, SessionOutputFile);
    EXPECT_EQ(data::LengthOf("X"), 0);
    EXPECT_TRUE(data::Active);
    EXPECT_EQ(Run("VARIATE y 2"), "");  // the new library session works

    NegBinFitted = NonLinearFitted = true;
    ASSERT_EQ(Run("VARIATE yy xx 4"), "");
    Run("FITLINEARNORMAL yy = xx");
    EXPECT_FALSE(AnovaFitted || NegBinFitted || NonLinearFitted);
}

TEST(FaultText, EveryKindHasItsMessage) {
    using data::FaultKind;
    EXPECT_STREQ(FaultText(FaultKind::FloatDivideByZero), "Unexpected division by zero - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::IntDivideByZero), "Unexpected division by zero - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::IntOverflow),
                 "Unexpected integer register overflow - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::InvalidFloat),
                 "Unexpected floating point overflow - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::FloatOverflow),
                 "Unexpected floating point overflow - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::RangeCheck),
                 "Unexpected integer register overflow - sorry! ");
    EXPECT_STREQ(FaultText(FaultKind::InputOutput), "Unexpected I/O error - sorry! ");
}

TEST_F(Execute, MillionCharacterLinesEndInAnErrorOrAResult) {
    const size_t n = 1000000;
    std::string name(n, 'a');
    EXPECT_EQ(Run(name), "Unknown command " + std::string(n, 'A'));
    EXPECT_EQ(Run(std::string(n, ' ')), "Empty command");
    size_t mark = Mark();
    EXPECT_EQ(Run("REMARK " + std::string(n, 'r')), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW> REMARK " + std::string(n, 'r')}));
    std::string spaced;
    for (size_t i = 0; i < n / 4; ++i) spaced += "x   ";
    EXPECT_NE(Run("VARIATE " + spaced), "");
    EXPECT_NE(Run("VARIATE " + name + " 3"), "");
    EXPECT_NE(Run("COMPUTE x = " + std::string(n, '(')), "");
    std::string sum = "COMPUTE 1";
    while (sum.size() < n) sum += "+1";
    EXPECT_NE(Run(sum), "");
    EXPECT_NE(Run("INCLUDE " + std::string(n, '9')), "");
}

}  // namespace
}  // namespace korw::interp::test
