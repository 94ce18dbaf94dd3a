#include "data/session.h"

#include <sys/time.h>

#include <cmath>

#include "data/errors.h"
#include "data/format.h"
#include "data/infile.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

constexpr size_t kTitleLength = 12;
constexpr double kSecondsPerDay = 86400;

std::string title;
double sessionStart = 0;

ClockReading SystemClock() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    ClockReading r;
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &r.local);
    gmtime_r(&seconds, &r.utc);
    r.milliseconds = static_cast<int>(tv.tv_usec / 1000);
    return r;
}

ClockFunction clock = SystemClock;

double SecondsOfDay(const ClockReading& r) {
    return r.local.tm_hour * 3600.0 + r.local.tm_min * 60.0 + r.local.tm_sec +
           r.milliseconds / 1000.0;
}

}  // namespace

double SessionStart() {
    return sessionStart;
}
void SetSessionStart(double seconds) {
    sessionStart = seconds;
}
void SetClock(ClockFunction c) {
    clock = c != nullptr ? c : SystemClock;
}
ClockReading Now() {
    return clock();
}

std::string StartLine(const std::tm& t) {
    static const char* days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
    static const char* months[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
    std::string minutes = (t.tm_min < 10 ? "0" : "") + std::to_string(t.tm_min);
    return std::string("Start of session ") + days[t.tm_wday] + ", " + months[t.tm_mon] + " " +
           std::to_string(t.tm_mday) + " " + std::to_string(t.tm_year + 1900) + " at " +
           std::to_string(t.tm_hour) + ":" + minutes + ".";
}

std::string EndLine(double startSeconds, double nowSeconds) {
    double elapsed = nowSeconds - startSeconds;
    while (elapsed <= -0.0001) elapsed += kSecondsPerDay;  // the session ran past midnight
    elapsed += 1.0E-8;
    std::string line = "End of session after ";
    if (elapsed > 60) {
        if (elapsed > 3600) {
            int h = static_cast<int>(elapsed / 3600);
            line += std::to_string(h) + (h < 2 ? " hour, " : " hours, ");
            elapsed -= h * 3600.0;
        }
        int m = static_cast<int>(elapsed / 60);
        line += std::to_string(m) + (m < 2 ? " minute and " : " minutes and ");
        elapsed -= m * 60.0;
    }
    return line + Fixed(elapsed, 5, 2) + " seconds.";
}

void Start(const std::string& sessionTitle, const std::string& outputFile) {
    ErrorFree = true;
    ProcedureName = "Start";
    if (Active) return ReportError("Korbelin is active");
    Active = true;
    ClearTable();
    CloseInFile();
    if (ModelFit().sessionStarted != nullptr) ModelFit().sessionStarted();
    ResetSeparators();
    ClockReading now = Now();
    sessionStart = SecondsOfDay(now);
    title = CutChars(sessionTitle, kTitleLength);
    NewOutFile(outputFile);
    if (!ErrorFree) return;
    WriteLine(StartLine(now.local));
}

void Finish() {
    ErrorFree = true;
    ProcedureName = "Finish";
    if (!Active) return ReportError("Korbelin is not active");
    std::string end = EndLine(sessionStart, SecondsOfDay(Now()));
    WriteLine();
    if (!title.empty()) WriteLine(end);
    CloseOutFile();
    ClearTable();
    if (ModelFit().sessionFinished != nullptr) ModelFit().sessionFinished();
    CloseInFile();
    Active = false;
}

void RAMstatus() {
    if (!Enter("RAMstatus")) return;
    const std::string rule(42, '-');
    WriteLine("TYPE     " + Right("NAME", 8) + "  LENGTH    BYTES  LEVELS");
    WriteLine(rule);
    long long bytes = 0;
    for (int i = 1; i <= TableSize; ++i) {
        const Vector& v = Entry(i);
        if (v.kind == FreeEntry) continue;
        bool factor = v.kind == FactorKind;
        long long size = factor ? v.length : 4LL * v.length;
        bytes += size;
        WriteLine(std::string(factor ? "Factor  " : "Variate ") + Right(v.name, 9) +
                  Int(v.length, 8) + Int(size, 9) +
                  (factor ? Int(v.levels, 7) : std::string(7, ' ')));
    }
    if (MaxLength() > 0) {
        WriteLine(Right("RestrictList", 17) + Int(MaxLength(), 8) + Int(MaxLength(), 9) +
                  std::string(7, ' '));
        bytes += MaxLength();
    }
    int q = ModelFit().crossProductOrder != nullptr ? ModelFit().crossProductOrder() : 0;
    if (q > 0) {
        long long elements = static_cast<long long>(q) * (q + 1) / 2;
        WriteLine(Right("X'X-matrix", 17) + Int(elements, 8) + Int(8 * elements, 9) +
                  std::string(7, ' '));
        bytes += 8 * elements;
    }
    WriteLine(rule);
    WriteLine(Right("bytes used ", 25) + Int(bytes, 9));
    WriteLine(rule);
    WriteLine(RestrictionsPresent() ? "Restrictions are present." : "No restrictions present.");
}

}  // namespace korw::data
