// Shared between the compiler (compute.cpp), the evaluator (evaluate.cpp) and the random
// generator (random.cpp); nothing outside src/compute includes this.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "compute/compute.h"

namespace korw::compute::detail {

// Largest magnitude a result may have; beyond it the value becomes missing.
inline constexpr double RangeLimit = 3.3E38;
// ln(3.3E38) to double precision: EXP and powers above it overflow single precision.
inline constexpr double ExpOverflow = 88.692156002246165;
// ln(1.6E-45) to double precision: EXP and powers below it underflow to 0.0 (below the
// smallest single denormal).
inline constexpr double ExpUnderflow = -103.14632555548631;
// POISSON refuses larger means: the count must fit a 32-bit integer.
inline constexpr double PoissonLimit = 2.0E9;

// The operations of two register operands (for V and F, B is a length, not a register).
constexpr bool IsBinaryCode(unsigned char code) {
    switch (code) {
        case OpAdd:
        case OpSubtract:
        case OpMultiply:
        case OpDivide:
        case OpPower:
        case OpEqual:
        case OpLess:
        case OpGreater:
        case OpLessEq:
        case OpNotEqual:
        case OpGreaterEq:
            return true;
        default:
            return false;
    }
}

enum WarningCounter {
    DivisionCount,
    LogarithmCount,
    RootCount,
    OverflowCount,
    PowerCount,
    RangeCount,
    LevelCount,
    IndexCount,
    WarningCounters
};

// What the evaluator needs of one Compute call.
struct Target {
    int32_t length = 0;         // computation length
    float* variate = nullptr;   // left-hand data when a variate
    uint8_t* factor = nullptr;  // left-hand data when a factor
    int levels = 0;             // left-hand levels (factor only)
};

using Counters = std::array<int32_t, WarningCounters>;

// Runs the program over the units and stores the results; counts the warnings.
void Evaluate(Program& program, const Target& target, Counters& counters);

// True when the program may run over blocks of units, operation by operation: no random
// function and no indexed reference to the left-hand vector.
bool BlocksAllowed(const Program& program, const Target& target);

// Runs the program over the present units in blocks (and threads) and stores the results.
void RunBlocks(const Program& program, const Target& target, Counters& counters);

// The warning lines for the counters above 0 (nothing when all are 0).
void WriteWarnings(const Counters& counters, bool factorTarget, const std::string& line);

// The Poisson generator without the parameter check (0 < lambda <= PoissonLimit).
int32_t PoissonDraw(double lambda);

}  // namespace korw::compute::detail
