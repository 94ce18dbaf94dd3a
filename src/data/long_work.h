// Long work: the stop flag and the progress reports of a running command.
//
// Every long loop of the library calls Poll (once per iteration, once per block of a few
// thousand units or lines). When the user has asked to stop, Poll throws Interrupted; the
// interpreter catches it around the command, puts the vector table and the fit record back as
// they were and fails the command with kInterruptedText. So a loop polls only where nothing it
// must undo has been committed yet, or where its caller undoes it.
//
// The front end sets the stop flag (a signal handler may: the flag is a lock-free atomic) and
// registers a hook that Poll calls at most every kHookInterval; the hook may look at pending keys
// and show the progress text once the command has run for kStatusDelay. Poll belongs to the
// thread that runs the command: worker threads of a loop leave polling to it.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace korw::data {

// The error text of a stopped command.
inline constexpr const char* kInterruptedText = "Interrupted by the user";

// Thrown by Poll once the stop flag is up. Deliberately not a std::exception, so that no handler
// meant for library errors swallows it on the way to the interpreter.
struct Interrupted {};

// Raised by the front end (Escape, Ctrl+C, a stop signal); lowered when a command begins.
void RequestStop();
bool StopRequested();

// A command begins: the flag is lowered, the clock starts, the progress text is cleared and the
// test hook's count starts again. `what` names the command in the progress line ("FITNEGBIN");
// `line` is the whole command as the interpreter runs it ("COMPUTE x = RANDOM"), for the test hook.
void BeginWork(const std::string& what, const std::string& line = "");
// The command has ended (either way): the front end's hook erases its status line.
void EndWork();

// What the running command does now, without the command's name: "iteration 5,
// -2log(Likelihood) = 7069543.51". The fraction form gives "37% done".
void ReportProgress(const std::string& detail);
void ReportFraction(double fraction);

// The status line without the front end's hint: "FITNEGBIN: iteration 5, ..."; empty while
// nothing is reported.
std::string StatusText();
std::chrono::steady_clock::duration WorkElapsed();

// The front end's part: called from Poll at most every kHookInterval while a command runs
// (`ended` false), and once by EndWork (`ended` true). It may call RequestStop.
using LongWorkHook = void (*)(bool ended);
void SetLongWorkHook(LongWorkHook hook);

inline constexpr auto kHookInterval = std::chrono::milliseconds(50);
inline constexpr auto kStatusDelay = std::chrono::seconds(1);

// Within a HoldStops scope Poll does not throw: the stop waits for the first poll after it, so
// a step that replaces vectors of the user's runs to its end.
class HoldStops {
  public:
    HoldStops();
    ~HoldStops();
    HoldStops(const HoldStops&) = delete;
    HoldStops& operator=(const HoldStops&) = delete;
};

// Test hooks: the stop flag is raised at the k-th poll of every command named `what` (k 0: no
// longer), or of every command line `what` when it holds the whole line, which takes precedence;
// and every poll sleeps `sleepMs` milliseconds so that a test has time to press a key. Both hold
// from the next command on.
void SetTestStop(const std::string& what, long k);
void SetTestPollSleep(int sleepMs);
// The polls the last command under a test stop made (all of them when it was not stopped).
long TestPolls();
// Reads both from the environment: KORW_TEST_STOP="FITLOGITLINEAR:3,COMPUTE x = RANDOM:2" (a
// line holding a comma cannot be named) and KORW_TEST_POLL_SLEEP=ms. Only the test scripts set
// them.
void ReadTestHooksFromEnvironment();

namespace detail {
inline std::atomic<bool> stopFlag{false};
inline long pollCountdown = 1;  // polls left until PollSlowly looks at the clock and hooks
inline int holdDepth = 0;       // open HoldStops scopes
void PollSlowly();
}  // namespace detail

// The check of a long loop: cheap enough for every block of units.
inline void Poll() {
    if (detail::stopFlag.load(std::memory_order_relaxed) || --detail::pollCountdown <= 0)
        detail::PollSlowly();
}

// For a loop that cannot throw (a C library's callback; the share of the work the command's
// thread does while worker threads do theirs): does what Poll does but, instead of throwing,
// returns true when the command is to stop. The loop winds down, and once it is out (the workers
// joined) the command calls Poll, which throws. Worker threads themselves test StopRequested.
bool StopWanted();

// The poll of a loop over units or lines: once every kUnitsPerPoll of them.
inline constexpr long kUnitsPerPoll = 4096;
inline void PollAt(long i) {
    if (i % kUnitsPerPoll == 0) Poll();
}

// The poll of an iterative fit, at the start of each iteration: its progress text is
// "iteration 5, -2log(Likelihood) = 7069543.51" (the -2 log likelihood before the iteration).
void PollIteration(int iteration, double minusTwoLogLikelihood);

}  // namespace korw::data
