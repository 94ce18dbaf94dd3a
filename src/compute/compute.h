// COMPUTE: the vector calculator of the command language.
//
// Compute("name = expression") expands vector constants, compiles the expression into a flat
// list of operations over a file of numbered registers, runs that list once per present unit and
// stores the result in the left-hand vector, then reports how many values had to be set missing.
// The library-wide random generator used by RANDOM, NORMAL and POISSON lives here as well.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korw::compute {

// Registers and operations are numbered 1..199; taking number 200 is an overflow.
inline constexpr int RegisterCount = 200;
inline constexpr int OperationCount = 200;

// Operation codes. A and B are register numbers unless stated; "missing" means the register holds
// the widened MissingValue. Every result above 3.3E38 in magnitude becomes missing (range count).
// clang-format off
enum OperationCode : unsigned char {
    OpAdd      = '+',   // A + B;       missing if A or B missing
    OpSubtract = '-',   // A - B;       missing if A or B missing
    OpMultiply = '*',   // A * B;       missing if A or B missing
    OpDivide   = '/',   // A / B;       missing if A or B missing or B = 0 (B = 0 counted)
    OpPower    = '^',   // A ^ B;       the power rules (overflow and power counts)
    OpEqual    = '=',   // A = B;       1/0 on single-precision operands, missing if either missing
    OpLess     = '<',   // A < B;       as =
    OpGreater  = '>',   // A > B;       as =
    OpLessEq   = 160,   // A <= B;      as =
    OpNotEqual = 161,   // A <> B;      as =
    OpGreaterEq= 162,   // A >= B;      as =
    OpExp      = 'e',   // EXP(A);      missing above ln(3.3E38) (overflow count), 0 below ln(1.6E-45)
    OpPhi      = 'p',   // PHI(A);      1 - NormalUpperTail(A)
    OpPhiInv   = 'q',   // PHIINV(A);   missing unless 0 < A < 1; A outside (1E-9, 1-1E-9) counted
    OpAbs      = 'u',   // ABS(A)
    OpInt      = 'i',   // INT(A);      truncated toward zero
    OpLn       = 'l',   // LN(A);       missing for A <= 0 (counted)
    OpSin      = 's',   // SIN(A);      radians
    OpCos      = 'c',   // COS(A);      radians
    OpArcTan   = 'a',   // ARCTAN(A);   radians
    OpPoisson  = 'P',   // POISSON(A);  random count with mean A; missing above 2E9 (overflow count)
    OpSqrt     = 'r',   // SQRT(A);     missing for A < 0 (counted)
    OpSqr      = '2',   // SQR(A);      A * A
    OpVariate  = 'v',   // variate data at the current unit
    OpFactor   = 'f',   // factor data (level 0..255) at the current unit
    OpVariateAt= 'V',   // variate data at unit single(A), B = its length; bad index missing (counted)
    OpFactorAt = 'F',   // factor data at unit single(A), B = its length; bad index missing (counted)
    OpUnit     = '#',   // the current unit number
    OpLength   = 'n',   // the computation length
    OpRandom   = 'R',   // uniform random number in [0, 1)
    OpNormal   = 'N',   // standard normal random number
    OpConstant = '0',   // constant: stored in its register at compile time, never an operation
};
// clang-format on

struct Operation {
    int32_t a = 0;                    // left operand or only argument; index register for V, F
    int32_t b = 0;                    // right operand; length of the indexed vector for V, F
    const float* variate = nullptr;   // stored data of a referenced variate (units 1..length)
    const uint8_t* factor = nullptr;  // stored data of a referenced factor
    unsigned char code = OpConstant;
    int32_t result = 0;  // register that receives the result
};

// The compiled form of one expression, kept after each Compute call for inspection.
struct Program {
    std::array<double, RegisterCount + 1> registers{};  // 1..RegisterCount; constants filled in
    std::array<Operation, OperationCount + 1> operations{};  // 1..count
    std::array<std::string, OperationCount + 1> names;       // vector named by operation i
    int count = 0;
    int nextRegister = 1;
    int result = 0;  // register of the expression's value (0 when compiling failed)
};

// Computes "name = expression" (any case, any blanks) unit by unit into the named vector.
void Compute(const std::string& line);

// The program compiled by the last Compute call (also after a failure, up to the failing node).
const Program& LastProgram();

// One line per operation, "R3 := R2 + R1", then "result R3"; constants as "R1 = 2".
std::string DisassembleOperations(const Program& program);

// The library-wide 32-bit linear congruential generator.
void SetRandomSeed(uint32_t seed);
uint32_t RandomSeed();
// Seeds from the time of day: ((hours * 60 + minutes) * 60 + seconds) * 1000 + milliseconds.
void SeedRandomFromClock();
double Random();  // uniform in [0, 1)
double Normal();  // standard normal, one per call

// A Poisson random count with mean lambda; "Poisson parameter too large" above 2.0E9.
int32_t Poisson(double lambda);

}  // namespace korw::compute
