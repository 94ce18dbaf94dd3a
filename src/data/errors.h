// The library's session and error state, and the faults that escape it.
//
// Every public library procedure begins with Enter(name): it sets ErrorFree, records its name
// and refuses to run outside a session. A procedure that finds an error calls ReportError and
// returns; callers test ErrorFree after each call (the sticky status of the whole library).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace korw::data {

// Library state shared by every module of the library; one instance for the program.
inline bool Active = false;           // a library session is open (between Start and Finish)
inline std::string ProcedureName;     // procedure now running, recorded on entry
inline bool ErrorFree = true;         // cleared by the first error of a procedure
inline std::string ErrorMessage;      // text of the last error
inline bool ContinueOnError = false;  // set by the program right after Start, never cleared

// Records the procedure's name and clears the error state; false (with "Korbelin not active")
// when no session is open.
bool Enter(const char* name);

// Stores the message and clears ErrorFree.
void ReportError(std::string message);

// True when the procedure must stop now: an error was reported and ContinueOnError holds.
inline bool Failed() {
    return ContinueOnError && !ErrorFree;
}

// Arithmetic and input/output faults that escape a library procedure. The interpreter catches
// them around each command and turns each kind into its fixed message.
enum class FaultKind {
    FloatDivideByZero,
    IntDivideByZero,
    IntOverflow,
    InvalidFloat,
    FloatOverflow,
    RangeCheck,
    InputOutput,
};

struct Fault : std::runtime_error {
    explicit Fault(FaultKind k) : std::runtime_error("library fault"), kind(k) {}
    FaultKind kind;
};

[[noreturn]] void RaiseFault(FaultKind kind);

// Overflow-checked 32-bit integer arithmetic; an overflow raises FaultKind::IntOverflow.
int32_t CheckedAdd(int32_t a, int32_t b);
int32_t CheckedSub(int32_t a, int32_t b);
int32_t CheckedMul(int32_t a, int32_t b);
int32_t CheckedDiv(int32_t a, int32_t b);

}  // namespace korw::data
