// The library session: Start and Finish with their session lines, and the memory table.
#pragma once

#include <ctime>
#include <string>

namespace korw::data {

void Start(const std::string& title, const std::string& outputFile);
void Finish();
void RAMstatus();

// Time of day of the session start, in seconds since midnight (kept across a restart).
double SessionStart();
void SetSessionStart(double seconds);

// The clock the session lines use; tests replace it.
struct ClockReading {
    std::tm local{};  // date and time of day
    std::tm utc{};    // the same moment in universal time
    int milliseconds = 0;
};
using ClockFunction = ClockReading (*)();
void SetClock(ClockFunction clock);
ClockReading Now();

// "Start of session Saturday, December 5 2026 at 7:03."
std::string StartLine(const std::tm& time);

// "End of session after ..." for a session from start to now (seconds since midnight).
std::string EndLine(double startSeconds, double nowSeconds);

}  // namespace korw::data
