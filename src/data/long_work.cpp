#include "data/long_work.h"

#include <cstdlib>
#include <string>
#include <thread>

#include "data/format.h"

namespace korw::data {

namespace {

// Polls between two looks at the clock: a poll stands for a block of units, so the clock is
// read often enough for the hook's 50 ms and seldom enough to cost nothing.
constexpr long kPollsPerClockLook = 16;

using Clock = std::chrono::steady_clock;

LongWorkHook hook = nullptr;
std::string workName;
std::string detailText;
Clock::time_point started = Clock::now();
Clock::time_point lastHook = started;
bool working = false;

std::string testStopWhat;
long testStopAt = 0;
long testPolls = 0;
int testSleepMs = 0;

bool TestHooksActive() {
    return testSleepMs > 0 || (testStopAt > 0 && testStopWhat == workName);
}

}  // namespace

void RequestStop() {
    detail::stopFlag.store(true, std::memory_order_relaxed);
}

bool StopRequested() {
    return detail::stopFlag.load(std::memory_order_relaxed);
}

void BeginWork(const std::string& what) {
    detail::stopFlag.store(false, std::memory_order_relaxed);
    detail::holdDepth = 0;
    workName = what;
    detailText.clear();
    started = Clock::now();
    lastHook = started;
    testPolls = 0;
    working = true;
    detail::pollCountdown = TestHooksActive() ? 1 : kPollsPerClockLook;
}

void EndWork() {
    if (!working) return;
    working = false;
    detailText.clear();
    if (hook) hook(true);
}

void ReportProgress(const std::string& detail) {
    detailText = detail;
}

void ReportFraction(double fraction) {
    int percent = static_cast<int>(fraction * 100.0);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    detailText = std::to_string(percent) + "% done";
}

void PollIteration(int iteration, double minusTwoLogLikelihood) {
    detailText = "iteration " + std::to_string(iteration) +
                 ", -2log(Likelihood) = " + Fixed(minusTwoLogLikelihood, 0, 2);
    Poll();
}

std::string StatusText() {
    if (detailText.empty()) return "";
    return workName + ": " + detailText;
}

std::chrono::steady_clock::duration WorkElapsed() {
    return Clock::now() - started;
}

void SetLongWorkHook(LongWorkHook h) {
    hook = h;
}

HoldStops::HoldStops() {
    ++detail::holdDepth;
}

HoldStops::~HoldStops() {
    --detail::holdDepth;
}

void SetTestStop(const std::string& what, long k) {
    testStopWhat = what;
    testStopAt = k;
}

void SetTestPollSleep(int sleepMs) {
    testSleepMs = sleepMs;
}

void ReadTestHooksFromEnvironment() {
    if (const char* stop = std::getenv("KORW_TEST_STOP")) {
        std::string text = stop;
        size_t colon = text.rfind(':');
        if (colon != std::string::npos)
            SetTestStop(text.substr(0, colon), std::atol(text.c_str() + colon + 1));
    }
    if (const char* sleep = std::getenv("KORW_TEST_POLL_SLEEP")) SetTestPollSleep(std::atoi(sleep));
}

namespace detail {

void PollSlowly() {
    bool testing = TestHooksActive();
    pollCountdown = testing ? 1 : kPollsPerClockLook;
    if (testing) {
        if (testStopAt > 0 && testStopWhat == workName && ++testPolls == testStopAt) RequestStop();
        if (testSleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(testSleepMs));
    }
    Clock::time_point now = Clock::now();
    if (hook && working && now - lastHook >= kHookInterval) {
        lastHook = now;
        hook(false);
    }
    if (holdDepth == 0 && stopFlag.load(std::memory_order_relaxed)) {
        // Lowered as it is acted on, so that the interpreter's clean-up may poll again.
        stopFlag.store(false, std::memory_order_relaxed);
        throw Interrupted{};
    }
}

}  // namespace detail

}  // namespace korw::data
