#include "data/long_work.h"

#include <algorithm>
#include <cstdlib>
#include <map>
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

std::map<std::string, long> testStops;  // command name: the poll that raises the flag
long testStopAt = 0;                    // of the running command, 0: none
long testPolls = 0;
int testSleepMs = 0;

bool TestHooksActive() {
    return testSleepMs > 0 || testStopAt > 0;
}

}  // namespace

void RequestStop() {
    detail::stopFlag.store(true, std::memory_order_relaxed);
}

bool StopRequested() {
    return detail::stopFlag.load(std::memory_order_relaxed);
}

void BeginWork(const std::string& what, const std::string& line) {
    detail::stopFlag.store(false, std::memory_order_relaxed);
    workName = what;
    detailText.clear();
    started = Clock::now();
    lastHook = started;
    testPolls = 0;
    auto stop = testStops.find(line);
    if (line.empty() || stop == testStops.end()) stop = testStops.find(what);
    testStopAt = stop == testStops.end() ? 0 : stop->second;
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
    if (k > 0)
        testStops[what] = k;
    else
        testStops.erase(what);
}

long TestPolls() {
    return testPolls;
}

void SetTestPollSleep(int sleepMs) {
    testSleepMs = sleepMs;
}

void ReadTestHooksFromEnvironment() {
    if (const char* stop = std::getenv("KORW_TEST_STOP")) {
        std::string text = stop;
        for (size_t at = 0; at < text.size();) {
            size_t comma = std::min(text.find(',', at), text.size());
            std::string item = text.substr(at, comma - at);
            size_t colon = item.rfind(':');
            if (colon != std::string::npos)
                SetTestStop(item.substr(0, colon), std::atol(item.c_str() + colon + 1));
            at = comma + 1;
        }
    }
    if (const char* sleep = std::getenv("KORW_TEST_POLL_SLEEP")) SetTestPollSleep(std::atoi(sleep));
}

namespace detail {

namespace {

// Everything of a poll but the throw: the test hooks, and the front end's hook every 50 ms.
void LookAround() {
    bool testing = TestHooksActive();
    pollCountdown = testing ? 1 : kPollsPerClockLook;
    if (testing) {
        if (testStopAt > 0 && ++testPolls == testStopAt) RequestStop();
        if (testSleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(testSleepMs));
    }
    Clock::time_point now = Clock::now();
    if (hook && working && now - lastHook >= kHookInterval) {
        lastHook = now;
        hook(false);
    }
}

}  // namespace

void PollSlowly() {
    LookAround();
    if (holdDepth == 0 && stopFlag.load(std::memory_order_relaxed)) {
        // Lowered as it is acted on, so that the interpreter's clean-up may poll again.
        stopFlag.store(false, std::memory_order_relaxed);
        throw Interrupted{};
    }
}

}  // namespace detail

bool StopWanted() {
    if (!StopRequested() && --detail::pollCountdown > 0) return false;
    detail::LookAround();
    return detail::holdDepth == 0 && StopRequested();
}

}  // namespace korw::data
