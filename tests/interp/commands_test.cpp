// The data, expression and session commands as the dispatcher runs them: their checks and
// messages in order, and what they leave behind when a later item fails.
#include <chrono>
#include <filesystem>

#include "compute/compute.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Lines = std::vector<std::string>;

class Commands : public InterpTest {
  protected:
    // x = 1, 2, ..., n
    void Sequence(const std::string& name, int n) {
        ASSERT_EQ(Run("VARIATE " + name + " " + std::to_string(n)), "");
        for (int u = 1; u <= n; ++u) data::AssignValue(data::UpperName(name), u, float(u));
    }
    std::string Included(int n) {
        std::string s;
        for (int u = 1; u <= n; ++u) s += data::UnitIncluded(u) ? '+' : '-';
        return s;
    }
    // Runs the line and shows the units included after it, or the line's error.
    std::string IncludedAfter(const std::string& line, int n) {
        std::string error = Run(line);
        return error.empty() ? Included(n) : error;
    }
};

TEST_F(Commands, DeclarationsCheckTheirIntegersFirst) {
    EXPECT_EQ(Run("VARIATE 3"), "Missing variate names");
    EXPECT_EQ(Run("VARIATE x"), "Invalid integer expression x");
    EXPECT_EQ(Run("FACTOR f 3"), "Invalid integer expression f");
    EXPECT_EQ(Run("FACTOR 10 3"), "Missing factor names");
    EXPECT_EQ(Run("FACTOR f 10 q"), "Invalid integer expression q");
    EXPECT_EQ(Run("GENERATELEVELS 3"), "Two parameters required");
    EXPECT_EQ(Run("FACTOR g 6 3"), "");
    EXPECT_EQ(Run("GENERATELEVELS g 0"), "Invalid number of levels");
    EXPECT_EQ(Run("GENERATELEVELS g k"), "Invalid integer expression k");
    EXPECT_EQ(Run("RENAME"), "Missing parameter");
    EXPECT_EQ(Run("RENAME g h i"), "Too many parameters");
    EXPECT_EQ(Run("RENAME g h"), "");
    EXPECT_EQ(data::NumberOfLevels("H"), 3);
    EXPECT_EQ(data::FindVector("SYS1"), 0);
}

TEST_F(Commands, DeleteKeepsTheNamesBeforeAFailingOne) {
    ASSERT_EQ(Run("VARIATE a b c 2"), "");
    EXPECT_NE(Run("DELETE a nothing c"), "");
    EXPECT_EQ(data::LengthOf("A"), 0);
    EXPECT_EQ(data::LengthOf("C"), 2);
}

TEST_F(Commands, IncludeAndExcludeUnitsRangesAndConditions) {
    Sequence("x", 8);
    EXPECT_EQ(Run("EXCLUDE"), "Exclude what?");
    EXPECT_EQ(Run("INCLUDE"), "Include what?");
    EXPECT_EQ(Run("INCLUDE 3:1"), "Invalid range 3:1");
    EXPECT_EQ(Run("EXCLUDE 0:2"), "Invalid integer parameter 0");
    EXPECT_EQ(Run("EXCLUDE 1:zz"), "Invalid integer expression");
    EXPECT_EQ(Run("EXCLUDE 0"), "Invalid integer parameter 0");
    EXPECT_EQ(Included(8), "++++++++");

    EXPECT_EQ(IncludedAfter("EXCLUDE x>5", 8), "+++++---");
    EXPECT_EQ(IncludedAfter("EXCLUDE 1 2:3", 8), "---++---");
    // INCLUDE adds the units where the condition holds and leaves the others alone.
    EXPECT_EQ(IncludedAfter("INCLUDE x>6", 8), "---++-++");
    EXPECT_EQ(IncludedAfter("INCLUDE 2", 8), "-+-++-++");
    // An item that fails stops the command; earlier items stay done.
    EXPECT_NE(Run("INCLUDE 1 nothing>0 3"), "");
    EXPECT_EQ(Included(8), "++-++-++");
    EXPECT_EQ(data::FindVector("SYS1"), 0);
    EXPECT_EQ(data::FindVector("SYS2"), 0);
    EXPECT_EQ(IncludedAfter("INCLUDEALL", 8), "++++++++");
}

TEST_F(Commands, AUnitExpressionIsEvaluatedOnce) {
    Sequence("x", 3);
    // Two evaluations would draw twice, and could take a unit other than the one that
    // classified the item as a unit.
    compute::SetRandomSeed(12345);
    EXPECT_EQ(IncludedAfter("EXCLUDE 2+0*RANDOM", 3), "+-+");
    EXPECT_EQ(compute::RandomSeed(), 12345u * 134775813u + 1u);
}

// A long list of items is read once, not copied again after every item: 600000 unit items
// and 100000 levels take well under a second (copying the rest at each item took 10 s).
TEST_F(Commands, LongItemListsTakeTimeInProportionToTheirLength) {
    Sequence("x", 3);
    ASSERT_EQ(Run("FACTOR f 3 2"), "");
    std::string units, levels;
    for (int i = 0; i < 600000; ++i) units += i % 2 == 0 ? " 1" : " 3";
    for (int i = 0; i < 100000; ++i) levels += " 2";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(IncludedAfter("EXCLUDE" + units, 3), "-+-");
    EXPECT_EQ(Run("EXCLUDELEVEL f" + levels), "");
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
#ifdef __SANITIZE_ADDRESS__
    EXPECT_LT(seconds.count(), 8.0);
#else
    EXPECT_LT(seconds.count(), 2.0);
#endif
}

TEST_F(Commands, ConditionsOverFactorsUseTheLevels) {
    ASSERT_EQ(Run("FACTOR f 4 2"), "");
    for (int u = 1; u <= 4; ++u) data::AssignLevel("F", u, u % 2 + 1);  // 2 1 2 1
    EXPECT_EQ(IncludedAfter("EXCLUDE f>1", 4), "-+-+");
    EXPECT_EQ(IncludedAfter("EXCLUDE f", 4), "----");
    EXPECT_EQ(IncludedAfter("INCLUDE f<2", 4), "-+-+");
    EXPECT_EQ(IncludedAfter("INCLUDE f", 4), "++++");
    EXPECT_EQ(data::FindVector("SYS1"), 0);
    EXPECT_EQ(data::FindVector("SYS2"), 0);
}

TEST_F(Commands, LevelCommandsRefuseNegativeOrInvalidLevels) {
    ASSERT_EQ(Run("FACTOR f 4 2"), "");
    EXPECT_EQ(Run("EXCLUDELEVEL f"), "Missing parameter");
    EXPECT_EQ(Run("EXCLUDELEVEL f -1"), "Invalid factor level");
    EXPECT_EQ(Run("EXCLUDELEVEL f z"), "Invalid factor level");
    EXPECT_EQ(Run("FOCUSONLEVEL f -2"), "Invalid factor level");
    EXPECT_EQ(Run("EXCLUDEMISSING"), "Missing parameter");
}

TEST_F(Commands, TransferTakesTwoOrSixWords) {
    Sequence("x", 4);
    ASSERT_EQ(Run("VARIATE y 4"), "");
    const char* message = "Incorrect number of parameters - two or six required";
    EXPECT_EQ(Run("TRANSFER x"), message);
    EXPECT_EQ(Run("TRANSFER x 1 2 y"), message);
    EXPECT_EQ(Run("TRANSFER x 1 2 y 1 q"), "Invalid integer q");
    EXPECT_EQ(Run("TRANSFER x 1 2 y 3 4"), "");
    EXPECT_FLOAT_EQ(data::Value("Y", 3), 1.0f);
    EXPECT_FLOAT_EQ(data::Value("Y", 4), 2.0f);
}

TEST_F(Commands, ComputeElementAssignment) {
    Sequence("x", 3);
    ASSERT_EQ(Run("FACTOR f 3 2"), "");
    EXPECT_EQ(Run("COMPUTE"), "COMPUTE what?");
    EXPECT_EQ(Run("COMPUTE x(2) = 10*2"), "");
    EXPECT_FLOAT_EQ(data::Value("X", 2), 20.0f);
    EXPECT_EQ(Run("COMPUTE x2) = 1"), "Missing (");
    EXPECT_EQ(Run("COMPUTE nothing(1) = 1"), "NOTHING does not exist");
    EXPECT_EQ(Run("COMPUTE x(q) = 1"), "Invalid integer expression q");
    EXPECT_EQ(Run("COMPUTE x(4) = 1"), "Unit number out of range");
    EXPECT_EQ(Run("COMPUTE x(0) = 1"), "Unit number out of range");
    EXPECT_EQ(Run("COMPUTE f(1) = 2"), "");
    EXPECT_EQ(data::Level("F", 1), 2);
    EXPECT_EQ(Run("COMPUTE f(1) = 3"), "Invalid level 3");
    EXPECT_EQ(Run("COMPUTE f(1) = 1.5"), "Invalid level 1.5");
    EXPECT_EQ(data::Level("F", 1), 2);
    EXPECT_EQ(data::FindVector("SYS1"), 0);
    // A failing assignment leaves no %RESULT behind.
    EXPECT_NE(Run("COMPUTE 1 + nothing"), "");
    EXPECT_EQ(data::FindVector("%RESULT"), 0);
}

TEST_F(Commands, RemarkGoesToTheOutputFileOnce) {
    size_t mark = Mark();
    EXPECT_EQ(Run("REMARK hello"), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW> REMARK hello"}));  // the echo carries the text
    ASSERT_EQ(Run("OUTFILE notes.out"), "");
    mark = Mark();
    EXPECT_EQ(Run("REMARK second"), "");
    EXPECT_EQ(Since(mark), (Lines{"KORW> REMARK second", " *** REMARK APPENDED TO NOTES.OUT ***"}));
    EXPECT_EQ(TextOf(WorkingDirectory + "/NOTES.OUT"), "second\n");
    ASSERT_EQ(Run("OUTFILE"), "");
    ASSERT_EQ(Run("ECHO"), "");
    mark = Mark();
    EXPECT_EQ(Run("REMARK third"), "");
    EXPECT_EQ(Since(mark), (Lines{"third"}));
}

TEST_F(Commands, OutfileStarKeepsTheFirstFourLines) {
    Lines before = LinesOf(SessionOutputFile);
    ASSERT_EQ(Run("xyz"), "Unknown command XYZ");
    EXPECT_EQ(Run("OUTFILE *"), "");
    Lines after = LinesOf(SessionOutputFile);
    ASSERT_EQ(after.size(), 5u);
    for (size_t i = 0; i < 4 && i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
    EXPECT_EQ(after[4], " *** The output file has been reset ***");
}

TEST_F(Commands, EchoMessagesOnlyForAChange) {
    size_t mark = Mark();
    EXPECT_EQ(Run("ECHO 1"), "");  // already on: no message
    EXPECT_EQ(Since(mark), (Lines{"KORW> ECHO 1"}));
    EXPECT_EQ(Run("ECHO 0"), "");
    EXPECT_EQ(Since(mark),
              (Lines{"KORW> ECHO 1", "KORW> ECHO 0", " *** COMMAND ECHO DISABLED ***"}));
    EXPECT_EQ(Run("ECHO -1"), "");
    EXPECT_EQ(Run("ECHO"), "");
    EXPECT_EQ(Since(mark).back(), " *** COMMAND ECHO RESUMED ***");
    EXPECT_TRUE(EchoOn);
}

TEST_F(Commands, SaveDataAsksBeforeOverwriting) {
    Sequence("x", 3);
    ASSERT_EQ(Run("SAVEDATA d x"), "");
    EXPECT_TRUE(desktop.questions.empty());
    data::AssignValue("X", 1, 42.0f);
    desktop.confirmAnswers = {false};
    size_t mark = Mark();
    EXPECT_EQ(Run("SAVEDATA d x"), "");
    EXPECT_EQ(desktop.questions, (Lines{"The file d.KDS exists. Overwrite it?"}));
    EXPECT_EQ(Since(mark).back(), " *** OVERWRITE WARNING - OPERATION CANCELLED ***");
    ASSERT_EQ(Run("DELETE x"), "");
    ASSERT_EQ(Run("GETDATA d"), "");
    EXPECT_FLOAT_EQ(data::Value("X", 1), 1.0f);  // the refused save changed nothing

    data::AssignValue("X", 1, 42.0f);
    desktop.confirmAnswers = {true};
    EXPECT_EQ(Run("SAVEDATA d x"), "");
    ASSERT_EQ(Run("DELETE x"), "");
    ASSERT_EQ(Run("GETDATA d"), "");
    EXPECT_FLOAT_EQ(data::Value("X", 1), 42.0f);

    // A program overwrites without asking.
    ProgramRunning = true;
    EXPECT_EQ(Run("SAVEDATA d x"), "");
    EXPECT_EQ(desktop.questions.size(), 2u);
}

TEST_F(Commands, InputFileCommandsNeedAnOpenFile) {
    EXPECT_EQ(Run("SKIPITEM"), "No input file has been opened");
    EXPECT_EQ(Run("SKIPLINE"), "No input file has been opened");
    EXPECT_EQ(Run("READ x"), "Input file not open");
    WriteFile("in.dat", "1 2 3\n4 5 6\n");
    ASSERT_EQ(Run("OPENINFILE in.dat"), "");
    EXPECT_TRUE(InputFileOpen);
    EXPECT_EQ(Run("SKIPITEM 0"), "Invalid integer parameter");
    EXPECT_EQ(Run("SKIPITEM q"), "Invalid integer expression q");
    EXPECT_EQ(Run("SKIPLINE q"), "Invalid integer expression");
    ASSERT_EQ(Run("VARIATE a b 2"), "");
    EXPECT_EQ(Run("READ [x a b"), "Invalid argument [x");
    EXPECT_EQ(Run("READ a nothing"), "NOTHING does not exist");
    EXPECT_EQ(Run("READ a * b"), "");
    EXPECT_FLOAT_EQ(data::Value("A", 1), 1.0f);
    EXPECT_FLOAT_EQ(data::Value("B", 1), 3.0f);
    EXPECT_FLOAT_EQ(data::Value("A", 2), 4.0f);
    EXPECT_FLOAT_EQ(data::Value("B", 2), 6.0f);
    EXPECT_EQ(Run("READ a"), "Unexpected end of file before unit 1 of A");

    // Bracketed separators hold for that READ only, also when it fails.
    WriteFile("colon.dat", "7:8 9:10\n11:12\n");
    ASSERT_EQ(Run("OPENINFILE colon.dat"), "");
    EXPECT_EQ(Run("READ [:] a b"), "");
    EXPECT_FLOAT_EQ(data::Value("A", 2), 9.0f);
    EXPECT_FLOAT_EQ(data::Value("B", 2), 10.0f);
    ASSERT_EQ(Run("VARIATE c 1"), "");
    EXPECT_EQ(Run("READ c"), "");
    EXPECT_TRUE(desktop.reviewed.back().find("READ ERROR") != std::string::npos)
        << desktop.reviewed.back();
    EXPECT_EQ(Run("OPENINFILE no-such-file"), Run("OPENINFILE no-such-file"));
    EXPECT_FALSE(InputFileOpen);
}

TEST_F(Commands, BracketedSeparatorsEndWithAReadThatFaults) {
    ASSERT_EQ(Run("VARIATE x 1"), "");
    WriteFile("bad.dat", "zz\n");
    WriteFile("good.dat", "151\n");
    ASSERT_EQ(Run("OPENINFILE bad.dat"), "");
    CurrentOutputFile = "/dev/full";  // the READ ERROR line cannot be written
    EXPECT_FALSE(RunTypedCommand("READ [5] x", false));
    EXPECT_EQ(desktop.errorBoxes.back(), "Unexpected I/O error - sorry! ");
    CurrentOutputFile = SessionOutputFile;
    ASSERT_EQ(Run("OPENINFILE good.dat"), "");
    EXPECT_EQ(Run("READ x"), "");
    EXPECT_FLOAT_EQ(data::Value("X", 1), 151.0f);  // "5" separates no more
}

}  // namespace
}  // namespace korw::interp::test
