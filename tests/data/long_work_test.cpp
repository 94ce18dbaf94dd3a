#include "data/long_work.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korw::data {
namespace {

std::vector<bool> hookCalls;  // `ended` of each call of the hook

void RecordingHook(bool ended) {
    hookCalls.push_back(ended);
}

class LongWork : public ::testing::Test {
  protected:
    void SetUp() override {
        hookCalls.clear();
        SetLongWorkHook(RecordingHook);
    }
    void TearDown() override {
        EndWork();
        SetLongWorkHook(nullptr);
        SetTestStop("SORT", 0);
        SetTestStop("READ", 0);
    }
};

// Polls until one throws; the number of polls made, -1 when none threw within `limit`.
int PollsUntilStopped(int limit) {
    for (int i = 1; i <= limit; ++i) {
        try {
            Poll();
        } catch (const Interrupted&) {
            return i;
        }
    }
    return -1;
}

TEST_F(LongWork, AStopIsActedOnOnceAndForgottenByTheNextCommand) {
    BeginWork("SORT");
    EXPECT_EQ(PollsUntilStopped(100), -1);
    RequestStop();
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(PollsUntilStopped(100), 1);
    EXPECT_FALSE(StopRequested());  // lowered as it was thrown: clean-up may poll on
    EXPECT_EQ(PollsUntilStopped(100), -1);

    RequestStop();  // pressed after the last poll of a command
    BeginWork("SORT");
    EXPECT_FALSE(StopRequested());
    EXPECT_EQ(PollsUntilStopped(100), -1);
}

TEST_F(LongWork, HeldStopsWaitForTheFirstPollAfterTheHold) {
    BeginWork("SORT");
    {
        HoldStops hold;
        RequestStop();
        EXPECT_EQ(PollsUntilStopped(100), -1);
        EXPECT_FALSE(StopWanted());
        { HoldStops inner; }
        EXPECT_EQ(PollsUntilStopped(100), -1);  // the outer hold still holds
    }
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(PollsUntilStopped(100), 1);
}

TEST_F(LongWork, StopWantedReportsWithoutThrowingAndPollThrowsAfterwards) {
    BeginWork("IMPORT");
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(StopWanted());
    RequestStop();
    EXPECT_TRUE(StopWanted());
    EXPECT_TRUE(StopWanted());
    EXPECT_EQ(PollsUntilStopped(1), 1);
}

TEST_F(LongWork, TheTestHookStopsTheNamedCommandAtItsKthPollEveryTime) {
    SetTestStop("SORT", 3);
    for (int run = 0; run < 2; ++run) {
        BeginWork("SORT");
        EXPECT_EQ(PollsUntilStopped(10), 3);
        EndWork();
    }
    BeginWork("READ");
    EXPECT_EQ(PollsUntilStopped(10), -1);
    EndWork();
    // A whole command line is named before its command.
    SetTestStop("SORT x y", 5);
    BeginWork("SORT", "SORT x y");
    EXPECT_EQ(PollsUntilStopped(10), 5);
    BeginWork("SORT", "SORT y");
    EXPECT_EQ(PollsUntilStopped(10), 3);
    SetTestStop("SORT x y", 0);
    SetTestStop("SORT", 0);
    BeginWork("SORT");
    EXPECT_EQ(PollsUntilStopped(10), -1);
}

TEST_F(LongWork, PollAtPollsOnceABlockFromTheFirstUnitOn) {
    SetTestStop("READ", 2);
    BeginWork("READ");
    long stoppedAt = -1;
    try {
        for (long u = 1; u <= 3 * kUnitsPerPoll; ++u) PollAt(u);
    } catch (const Interrupted&) {
        stoppedAt = 0;
    }
    EXPECT_EQ(stoppedAt, 0);
    EndWork();
    BeginWork("READ");
    long u = 0;
    try {
        for (u = 0; u <= 3 * kUnitsPerPoll; ++u) PollAt(u);
    } catch (const Interrupted&) {
    }
    EXPECT_EQ(u, kUnitsPerPoll);  // polls at 0 and at kUnitsPerPoll
}

TEST_F(LongWork, StatusTextNamesTheCommandAndWhatItDoes) {
    BeginWork("FITNEGBIN");
    EXPECT_EQ(StatusText(), "");
    PollIteration(5, 7069543.5149);
    EXPECT_EQ(StatusText(), "FITNEGBIN: iteration 5, -2log(Likelihood) = 7069543.51");
    ReportFraction(0.376);
    EXPECT_EQ(StatusText(), "FITNEGBIN: 37% done");
    ReportFraction(1.7);
    EXPECT_EQ(StatusText(), "FITNEGBIN: 100% done");
    ReportProgress("iteration 2");
    EXPECT_EQ(StatusText(), "FITNEGBIN: iteration 2");
    BeginWork("SORT");
    EXPECT_EQ(StatusText(), "");
}

TEST_F(LongWork, TheHookIsCalledWhileACommandRunsAndOnceAtItsEnd) {
    SetTestPollSleep(60);  // each poll takes longer than the hook's interval
    BeginWork("SORT");
    for (int i = 0; i < 3; ++i) Poll();
    SetTestPollSleep(0);
    EndWork();
    EndWork();  // a second end is no end
    ASSERT_EQ(hookCalls.size(), 4u);
    EXPECT_EQ(hookCalls, (std::vector<bool>{false, false, false, true}));
    hookCalls.clear();
    BeginWork("SORT");
    for (int i = 0; i < 1000; ++i) Poll();  // quick polls: at most a call per 50 ms
    EXPECT_LE(hookCalls.size(), 1u);
}

}  // namespace
}  // namespace korw::data
