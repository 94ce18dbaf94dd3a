#include "data/session.h"

#include <gtest/gtest.h>

#include "data/infile.h"
#include "data/restrict.h"
#include "store_fixture.h"

namespace korw::data::unit {
namespace {

ClockReading clockReading;
ClockReading FakeClock() {
    return clockReading;
}

// A reading of Monday, December 7 2026 at h:m:s and ms milliseconds.
void SetTime(int h, int m, int s, int ms, int day = 7) {
    clockReading = ClockReading();
    clockReading.local.tm_year = 126;
    clockReading.local.tm_mon = 11;
    clockReading.local.tm_mday = day;
    clockReading.local.tm_wday = (day - 7 + 1 + 7 * 5) % 7;  // December 7 2026 is a Monday
    clockReading.local.tm_hour = h;
    clockReading.local.tm_min = m;
    clockReading.local.tm_sec = s;
    clockReading.utc = clockReading.local;
    clockReading.milliseconds = ms;
}

class Session : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        Finish();
        SetClock(FakeClock);
    }
    void TearDown() override {
        SetClock(nullptr);
        StoreTest::TearDown();
    }
    std::string Log() {
        std::ifstream in(Path("session.txt"), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST(SessionLines, StartLine) {
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 5, t.tm_wday = 6, t.tm_hour = 7, t.tm_min = 3;
    EXPECT_EQ(StartLine(t), "Start of session Saturday, December 5 2026 at 7:03.");
    t.tm_mon = 0, t.tm_mday = 25, t.tm_wday = 0, t.tm_hour = 23, t.tm_min = 59;
    EXPECT_EQ(StartLine(t), "Start of session Sunday, January 25 2026 at 23:59.");
}

TEST(SessionLines, EndLineUnitsAndWidths) {
    EXPECT_EQ(EndLine(100, 105.25), "End of session after  5.25 seconds.");
    EXPECT_EQ(EndLine(0, 59.5), "End of session after 59.50 seconds.");
    EXPECT_EQ(EndLine(0, 60), "End of session after 1 minute and  0.00 seconds.");
    EXPECT_EQ(EndLine(0, 61), "End of session after 1 minute and  1.00 seconds.");
    EXPECT_EQ(EndLine(0, 3600), "End of session after 1 hour, 0 minute and  0.00 seconds.");
    EXPECT_EQ(EndLine(1000, 1000 + 3725.25),
              "End of session after 1 hour, 2 minutes and  5.25 seconds.");
    EXPECT_EQ(EndLine(0, 2 * 3600 + 60 + 0.5),
              "End of session after 2 hours, 1 minute and  0.50 seconds.");
    // Across midnight: the time of day has wrapped.
    EXPECT_EQ(EndLine(86390, 5.5), "End of session after 15.50 seconds.");
    EXPECT_EQ(EndLine(86000, 3600 - 400),
              "End of session after 1 hour, 0 minute and  0.00 seconds.");
}

TEST_F(Session, StartAndFinishWriteTheirLines) {
    SetTime(23, 59, 50, 250);
    Start("KORW JUN2009", Path("session.txt"));
    ASSERT_EQ(Error(), "");
    EXPECT_DOUBLE_EQ(SessionStart(), 23 * 3600 + 59 * 60 + 50.25);
    EXPECT_EQ(OutFileName(), Path("session.txt"));
    SetTime(0, 0, 5, 500, 8);
    Finish();
    EXPECT_FALSE(Active);
    EXPECT_EQ(Log(),
              "Start of session Monday, December 7 2026 at 23:59.\n"
              "\n"
              "End of session after 15.25 seconds.\n");
}

TEST_F(Session, WithoutTitleNoEndLine) {
    SetTime(9, 5, 0, 0);
    Start("", "  " + Path("session.txt") + "  ");
    EXPECT_EQ(OutFileName(), Path("session.txt"));
    Finish();
    EXPECT_EQ(Log(), "Start of session Monday, December 7 2026 at 9:05.\n\n");
}

TEST_F(Session, FinishClearsEverything) {
    SetTime(10, 0, 0, 0);
    Start("KORW JUN2009", Path("session.txt"));
    WriteFile("in.txt", "1 2 3");
    DeclareVariate("x", 4);
    Exclude(2);
    OpenInFile(Path("in.txt"));
    AddSeparators("2");
    Finish();
    Start("KORW JUN2009", Path("session.txt"));
    EXPECT_EQ(MaxLength(), 0);
    EXPECT_EQ(LengthOf("x"), 0);
    EXPECT_FALSE(InFileOpen());
    DeclareVariate("x", 3);
    EXPECT_EQ(FindVector("X"), 1);
    EXPECT_FALSE(RestrictionsPresent());
    OpenInFile(Path("in.txt"));
    ReadValue("x", 1);
    ReadValue("x", 2);  // "2" is a separator no more
    EXPECT_EQ(Value("x", 2), 2.0f);
}

TEST_F(Session, OutputFileThatCannotBeCreated) {
    Start("KORW JUN2009", Path("no/such/dir.txt"));
    EXPECT_EQ(Error(), "IO error initializing output file " + Path("no/such/dir.txt"));
    NewOutFile(Path("no/x.txt"));
    EXPECT_EQ(Error(), "IO error initializing output file " + Path("no/x.txt"));
    OldOutFile(Path("no/x.txt"));
    EXPECT_EQ(Error(), "IO error appending to output file " + Path("no/x.txt"));
}

TEST_F(Session, OldOutFileAppends) {
    SetTime(10, 0, 0, 0);
    Start("KORW JUN2009", Path("session.txt"));
    WriteLine("one");
    NewOutFile(Path("other.txt"));
    WriteLine("elsewhere");
    OldOutFile(Path("session.txt"));
    WriteLine("two");
    EXPECT_EQ(LineWidth(), 80);
    Finish();
    EXPECT_EQ(Log(),
              "Start of session Monday, December 7 2026 at 10:00.\none\ntwo\n\n"
              "End of session after  0.00 seconds.\n");
    EXPECT_EQ(LineWidth(), 79);  // no output file name set
}

}  // namespace
}  // namespace korw::data::unit
