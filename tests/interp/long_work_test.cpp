// A stopped command: the fixed error, the table and the previous fit as they were, the session
// going on, a program stopping at the line. The stop flag is raised by the test hook at the k-th
// poll of the command.
#include "data/long_work.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "data/restrict.h"
#include "data/vectors.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kStopped = "Interrupted by the user";
constexpr int kUnits = 20000;      // several blocks of units between polls
constexpr long kNever = 1L << 40;  // a test stop that only counts the polls

class LongWork : public InterpTest {
  protected:
    void SetUp() override {
        InterpTest::SetUp();
        // y a binary response, c a count, x and z covariates, g a factor of 3 levels.
        std::ostringstream data;
        for (int u = 1; u <= kUnits; ++u) {
            int g = 1 + u % 3;
            double x = (u % 101) / 50.0;
            double z = (u % 37) / 18.0;
            int y = (u * 7919 % 100) < 30 + 20 * x ? 1 : 0;
            int c = (u * 104729 % 11) + g;
            data << y << ' ' << c << ' ' << x << ' ' << z << ' ' << g << '\n';
        }
        WriteFile("units.dat", data.str());
        WriteFile("units.csv", "y,c,x,z,g\n" + Csv(data.str()));
        ASSERT_EQ(Run("VARIATE y c x z " + std::to_string(kUnits)), "");
        ASSERT_EQ(Run("FACTOR g " + std::to_string(kUnits) + " 3"), "");
        ASSERT_EQ(Run("OPEN units.dat"), "");
        ASSERT_EQ(Run("READ y c x z g"), "");
    }

    void TearDown() override {
        for (const std::string& word : stopped_) data::SetTestStop(word, 0);
        InterpTest::TearDown();
    }

    static std::string Csv(std::string text) {
        for (char& ch : text)
            if (ch == ' ') ch = ',';
        return text;
    }

    // Runs `line` with the stop flag raised at the k-th poll of `word`.
    std::string RunStopped(const std::string& word, long k, const std::string& line) {
        data::SetTestStop(word, k);
        stopped_.push_back(word);
        std::string error = Run(line);
        data::SetTestStop(word, 0);
        return error;
    }

    static std::string WordOf(const std::string& line) { return line.substr(0, line.find(' ')); }

    // The polls of `line` run to its end; -1 when it fails.
    long PollsOf(const std::string& line) {
        return RunStopped(WordOf(line), kNever, line).empty() ? data::TestPolls() : -1;
    }

    // Every vector of the table (name, kind, length, levels, units) and the restriction list.
    static std::string Table() {
        std::ostringstream out;
        for (int i = 1; i <= data::TableSize; ++i) {
            const data::Vector& v = data::Entry(i);
            if (v.kind == data::FreeEntry) continue;
            out << i << ' ' << v.name << ' ' << int(v.kind) << ' ' << v.length << ' '
                << int(v.levels) << ':';
            for (float f : v.variate) out << ' ' << f;
            for (int l : v.factor) out << ' ' << l;
            out << '\n';
        }
        for (int flag : data::RestrictList()) out << flag;
        return out.str();
    }

    // The output lines of LISTPARAMETERS (the echo left out).
    Lines Parameters() {
        size_t mark = Mark();
        Run("LISTPARAMETERS");
        Lines lines = Since(mark);
        return {lines.begin() + 1, lines.end()};
    }

    // The command fails with the fixed error line and leaves the table and the fit as they were.
    void ExpectUndone(const std::string& word, long k, const std::string& line) {
        SCOPED_TRACE(line);
        std::string table = Table();
        Lines parameters = Parameters();
        size_t mark = Mark();
        EXPECT_EQ(RunStopped(word, k, line), kStopped);
        Lines echo = Since(mark);
        ASSERT_FALSE(echo.empty());
        EXPECT_EQ(echo.back(), " *** ERROR - Interrupted by the user ***");
        EXPECT_EQ(Table(), table);
        EXPECT_EQ(Parameters(), parameters);
    }

    std::vector<std::string> stopped_;
};

TEST_F(LongWork, AStoppedFitLeavesThePreviousFitListableAndTheVectorsUnchanged) {
    const std::vector<std::string> long_fits = {"FITLOGITLINEAR y = 1 + x + z + g",
                                                "FITNEGBIN c=1+x+g",
                                                "FITNONLINEAR c=1+x EXP(.) EXP(.) ."};
    const std::string baseline = "FITLOGITLINEAR y = 1 + x";
    ASSERT_EQ(Run(baseline), "");
    Lines first = Parameters();
    ASSERT_GT(first.size(), 2u);
    for (long k : {1L, 2L, 3L}) {
        ExpectUndone("FITLOGITLINEAR", k, "FITLOGITLINEAR y = 1 + x + z + g");
        ExpectUndone("FITLOGLINEAR", k, "FITLOGLINEAR c = 1 + x + g");
        ExpectUndone("FITLINEARNORMAL", k, "FITLINEARNORMAL c = 1 + x + g");
        ExpectUndone("FITNEGBIN", k, "FITNEGBIN c=1+x+g");
        ExpectUndone("FITNONLINEAR", k, "FITNONLINEAR c=1+x EXP(.) EXP(.) .");
    }
    // Stops well into each fit, where its iterations have changed the record. (A finished
    // FITNEGBIN leaves starting values for the next, which then needs fewer iterations: hence a
    // third of the polls of the first run.)
    for (const std::string& line : long_fits) {
        long polls = PollsOf(line);
        ASSERT_GT(polls, 10) << line;
        ASSERT_EQ(Run(baseline), "");
        ExpectUndone(WordOf(line), polls / 3, line);
    }
    EXPECT_EQ(Parameters(), first);
    // The session goes on: the same fit runs to its end when nobody stops it.
    EXPECT_EQ(Run("FITLOGITLINEAR y = 1 + x + z + g"), "");
    EXPECT_NE(Parameters(), first);
}

TEST_F(LongWork, AStopBeforeAnyFitLeavesNoFit) {
    EXPECT_EQ(RunStopped("FITLOGLINEAR", 1, "FITLOGLINEAR c = 1 + x"), kStopped);
    EXPECT_EQ(Run("LISTPARAMETERS"), "No model fit information available");
}

TEST_F(LongWork, StoppedDataCommandsLeaveTheTableAsItWas) {
    // SORT stops while it orders the units and while it moves the vectors along.
    // (Eight passes order the units by x and z; the ninth poll on moves the five vectors.)
    for (long k : {1L, 5L, 9L, 10L, 12L, 13L}) ExpectUndone("SORT", k, "SORT x z +");
    // COMPUTE over a long vector, unit by unit (RANDOM) and on a factor.
    ExpectUndone("COMPUTE", 2, "COMPUTE z = RANDOM");
    ExpectUndone("COMPUTE", 3, "COMPUTE g = 1 + (RANDOM > 0.5)");
    ExpectUndone("COMPUTE", 2, "COMPUTE z = z * 2 + SIN(x)");  // in blocks of units
    ExpectUndone("COMPUTE", 4, "COMPUTE g = 1 + (x > 0.5)");
    // READ stops in the middle of the units.
    ASSERT_EQ(Run("OPEN units.dat"), "");
    ExpectUndone("READ", 2, "READ y c x z g");
    // GETDATA stops in the middle of a large record; nothing of the data set stays.
    ASSERT_EQ(Run("VARIATE big 2000000"), "");
    ASSERT_EQ(Run("SAVEDATA big big x"), "");
    ASSERT_EQ(Run("DELETE big"), "");
    ExpectUndone("GETDATA", 1, "GETDATA big big");
    // IMPORT stops while it finds the rows; with REPLACE the old vectors stay.
    ExpectUndone("IMPORT", 1, "IMPORT units.csv");
    ExpectUndone("IMPORT", 1, "IMPORT units.csv REPLACE");
    ExpectUndone("IMPORT", 2, "IMPORT units.csv REPLACE");
    // A Stata or SPSS file stops through the reader's progress handler.
    ASSERT_EQ(Run("EXPORT units.sav y c x"), "");
    ExpectUndone("IMPORT", 1, "IMPORT units.sav REPLACE");
    ExpectUndone("IMPORT", 3, "IMPORT units.sav REPLACE");
}

TEST_F(LongWork, StoppedTablesAndTestsLeaveTheTableAndTheRestrictionsAsTheyWere) {
    ASSERT_EQ(Run("EXCLUDE 5:9000"), "");
    ExpectUndone("TABULATE", 1, "TABULATE n=x g");
    ExpectUndone("TWOWAYTABLE", 3, "TWOWAYTABLE x g g");
    for (long k : {1L, 4L, 7L}) ExpectUndone("THREEWAYTABLE", k, "THREEWAYTABLE g g g");
    for (long k : {1L, 5L}) ExpectUndone("WILCOXON", k, "WILCOXON x g 1 2");
    for (long k : {1L, 6L}) ExpectUndone("SPEARMAN", k, "SPEARMAN x z");
}

TEST_F(LongWork, AStoppedCommandEndsAProgramAtItsLine) {
    WriteFile("fits.kor",
              "FITLINEARNORMAL y = 1 + x\nFITLOGITLINEAR y = 1 + x + z\nVARIATE after 1\n");
    data::SetTestStop("FITLOGITLINEAR", 2);
    stopped_.push_back("FITLOGITLINEAR");
    size_t mark = Mark();
    EXPECT_TRUE(RunTypedCommand("RUN fits", false));  // RUN itself ran
    Lines lines = Since(mark);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], " *** ERROR - Interrupted by the user ***");
    EXPECT_EQ(lines.back(), " *** PROGRAM INTERRUPTED ***");
    ASSERT_FALSE(desktop.errorBoxes.empty());
    EXPECT_EQ(desktop.errorBoxes.back(), "Interrupted by the user (line 2)");
    EXPECT_EQ(data::FindVector("AFTER"), 0);
    EXPECT_FALSE(ProgramRunning);
    Lines first = Parameters();
    EXPECT_NE(first.end(), std::find_if(first.begin(), first.end(), [](const std::string& l) {
                  return l.find('X') != std::string::npos;
              }));
}

}  // namespace
}  // namespace korw::interp::test
