// The evaluator: runs a compiled program for each present unit and stores the results.
//
// Every arithmetic problem makes the value missing and is counted; nothing stops the command.
// Programs without random functions and without an indexed reference to the left-hand vector
// give the same values whichever way the units are taken, so they run operation by operation
// over blocks of consecutive present units (the same scalar rules, applied in a tight loop);
// all others run unit by unit, storing each unit before the next is computed.

#include <algorithm>
#include <cmath>
#include <vector>

#include "compute/internal.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"

namespace korw::compute::detail {

namespace {

constexpr double Missing = static_cast<double>(data::MissingValue);
// PHIINV arguments this close to 0 or 1 have no usable quantile.
constexpr double PhiInvMargin = 1.0E-9;
constexpr double PhiInvUpper = 0.999999999;
// A negative base needs an exponent within this distance of an integer.
constexpr double IntegralTolerance = 1.0E-6;
constexpr double ExponentLimit = 2147483647.0;
// Units per block on the operation-by-operation path.
constexpr int BlockUnits = 256;

inline bool IsMissing(double x) {
    return x == Missing;
}
inline float Single(double x) {
    return static_cast<float>(x);
}

// e^t with the overflow and underflow rules shared by EXP and the power.
inline double ExpChecked(double t, Counters& c) {
    if (t > ExpOverflow) return ++c[OverflowCount], Missing;
    if (t < ExpUnderflow) return 0.0;
    return std::exp(t);
}

inline double Power(double a, double b, Counters& c) {
    if (IsMissing(a) || IsMissing(b)) return Missing;
    if (a > 0) return ExpChecked(b * std::log(a), c);
    if (a == 0) {
        if (b > 0) return 0.0;
        if (b == 0) return 1.0;
        return ++c[PowerCount], Missing;
    }
    double nearest = std::nearbyint(b);  // halves to even in the default rounding mode
    if (std::fabs(b) >= ExponentLimit || std::fabs(nearest - b) > IntegralTolerance)
        return ++c[PowerCount], Missing;
    double result = ExpChecked(b * std::log(-a), c);
    if (IsMissing(result)) return result;
    return (static_cast<int64_t>(nearest) & 1) != 0 ? -result : result;  // |B| < 2^31
}

double Divide(double a, double b, Counters& c) {
    if (b == 0) return ++c[DivisionCount], Missing;
    if (IsMissing(a) || IsMissing(b)) return Missing;
    return a / b;
}

double PhiInverse(double a, Counters& c) {
    if (IsMissing(a)) return Missing;
    if (a <= PhiInvMargin || a >= PhiInvUpper) ++c[RootCount];
    if (a <= 0 || a >= 1) return Missing;
    return static_cast<double>(distr::NormalUpperQuantile(1.0L - a));
}

double PoissonOf(double a, Counters& c) {
    if (IsMissing(a)) return Missing;
    if (a > PoissonLimit) return ++c[OverflowCount], Missing;
    return PoissonDraw(a);
}

template <typename Data>
double Indexed(const Data* data, double a, int32_t length, Counters& c) {
    // The index is rounded to single precision; the bound is compared exactly (a length
    // above 2^24 rounded to single could let an index one past the end through).
    double k = static_cast<double>(Single(a));
    if (k >= 1 && k <= static_cast<double>(length) && k == std::trunc(k))
        return static_cast<double>(data[static_cast<int32_t>(k)]);
    return ++c[IndexCount], Missing;
}

inline double Relation(unsigned char code, double a, double b) {
    if (IsMissing(a) || IsMissing(b)) return Missing;
    float x = Single(a), y = Single(b);
    bool holds = false;
    switch (code) {
        case OpEqual:
            holds = x == y;
            break;
        case OpLess:
            holds = x < y;
            break;
        case OpGreater:
            holds = x > y;
            break;
        case OpLessEq:
            holds = x <= y;
            break;
        case OpNotEqual:
            holds = x != y;
            break;
        case OpGreaterEq:
            holds = x >= y;
            break;
    }
    return holds ? 1.0 : 0.0;
}

// One operation on its operand values at one unit.
inline double Apply(const Operation& op, double a, double b, int32_t unit, int32_t length,
                    Counters& c) {
    switch (op.code) {
        case OpAdd:
            return IsMissing(a) || IsMissing(b) ? Missing : a + b;
        case OpSubtract:
            return IsMissing(a) || IsMissing(b) ? Missing : a - b;
        case OpMultiply:
            return IsMissing(a) || IsMissing(b) ? Missing : a * b;
        case OpDivide:
            return Divide(a, b, c);
        case OpPower:
            return Power(a, b, c);
        case OpEqual:
        case OpLess:
        case OpGreater:
        case OpLessEq:
        case OpNotEqual:
        case OpGreaterEq:
            return Relation(op.code, a, b);
        case OpExp:
            return IsMissing(a) ? Missing : ExpChecked(a, c);
        case OpPhi:
            return IsMissing(a) ? Missing : static_cast<double>(1.0L - distr::NormalUpperTail(a));
        case OpPhiInv:
            return PhiInverse(a, c);
        case OpAbs:
            return IsMissing(a) ? Missing : std::fabs(a);
        case OpInt:
            return IsMissing(a) ? Missing : std::trunc(a);
        case OpLn:
            if (IsMissing(a)) return Missing;
            return a <= 0 ? (++c[LogarithmCount], Missing) : std::log(a);
        case OpSin:
            return IsMissing(a) ? Missing : std::sin(a);
        case OpCos:
            return IsMissing(a) ? Missing : std::cos(a);
        case OpArcTan:
            return IsMissing(a) ? Missing : std::atan(a);
        case OpPoisson:
            return PoissonOf(a, c);
        case OpSqrt:
            if (IsMissing(a)) return Missing;
            return a < 0 ? (++c[RootCount], Missing) : std::sqrt(a);
        case OpSqr:
            return IsMissing(a) ? Missing : a * a;
        case OpVariate:
            return static_cast<double>(op.variate[unit]);
        case OpFactor:
            return static_cast<double>(op.factor[unit]);
        case OpVariateAt:
            return Indexed(op.variate, a, op.b, c);
        case OpFactorAt:
            return Indexed(op.factor, a, op.b, c);
        case OpUnit:
            return unit;
        case OpLength:
            return length;
        case OpRandom:
            return Random();
        case OpNormal:
            return Normal();
    }
    return Missing;
}

inline double InRange(double x, Counters& c) {
    if (std::fabs(x) > RangeLimit) return ++c[RangeCount], Missing;
    return x;
}

inline void Store(const Target& t, int32_t unit, double x, Counters& c) {
    // Only a constant result can still be out of range here; operations were checked.
    x = InRange(x, c);
    if (t.factor == nullptr) {
        t.variate[unit] = Single(x);
        return;
    }
    float level = Single(x);
    if (level >= 0 && level <= static_cast<float>(t.levels) && level == std::trunc(level)) {
        t.factor[unit] = static_cast<uint8_t>(level);
    } else {
        t.factor[unit] = 0;
        ++c[LevelCount];
    }
}

void RunUnit(Program& p, int32_t unit, int32_t length, Counters& c) {
    double* reg = p.registers.data();
    for (int i = 1; i <= p.count; ++i) {
        const Operation& op = p.operations[i];
        double b = IsBinaryCode(op.code) ? reg[op.b] : 0.0;
        reg[op.result] = InRange(Apply(op, reg[op.a], b, unit, length, c), c);
    }
}

// True when taking the units in blocks gives the same values and counts as unit by unit.
bool BlocksAllowed(const Program& p, const Target& t) {
    for (int i = 1; i <= p.count; ++i) {
        const Operation& op = p.operations[i];
        if (op.code == OpRandom || op.code == OpNormal || op.code == OpPoisson) return false;
        if (op.code == OpVariateAt && t.variate != nullptr && op.variate == t.variate) return false;
        if (op.code == OpFactorAt && t.factor != nullptr && op.factor == t.factor) return false;
    }
    return true;
}

// The registers of a block: one row of BlockUnits values per register.
struct Block {
    std::vector<double> values;
    double* Row(int reg) { return values.data() + static_cast<size_t>(reg) * BlockUnits; }
};

template <typename F>
inline void Each(double* out, int n, Counters& c, F f) {
    for (int k = 0; k < n; ++k) out[k] = InRange(f(k), c);
}

// One operation over units first .. first + n - 1, the common codes in their own loops.
void ApplyBlock(const Operation& op, Block& b, int32_t first, int n, int32_t length, Counters& c) {
    double* out = b.Row(op.result);
    const double* x = b.Row(op.a);
    const double* y = b.Row(IsBinaryCode(op.code) ? op.b : 0);
    switch (op.code) {
        case OpVariate: {
            const float* v = op.variate + first;
            return Each(out, n, c, [&](int k) { return static_cast<double>(v[k]); });
        }
        case OpAdd:
            return Each(out, n, c, [&](int k) {
                return IsMissing(x[k]) || IsMissing(y[k]) ? Missing : x[k] + y[k];
            });
        case OpSubtract:
            return Each(out, n, c, [&](int k) {
                return IsMissing(x[k]) || IsMissing(y[k]) ? Missing : x[k] - y[k];
            });
        case OpMultiply:
            return Each(out, n, c, [&](int k) {
                return IsMissing(x[k]) || IsMissing(y[k]) ? Missing : x[k] * y[k];
            });
        case OpDivide:
            return Each(out, n, c, [&](int k) { return Divide(x[k], y[k], c); });
        case OpPower:
            return Each(out, n, c, [&](int k) { return Power(x[k], y[k], c); });
        case OpExp:
            return Each(out, n, c,
                        [&](int k) { return IsMissing(x[k]) ? Missing : ExpChecked(x[k], c); });
        default:
            return Each(out, n, c,
                        [&](int k) { return Apply(op, x[k], y[k], first + k, length, c); });
    }
}

void RunBlocks(Program& p, const Target& t, Counters& c) {
    Block b;
    b.values.resize(static_cast<size_t>(p.nextRegister + 1) * BlockUnits);
    for (int r = 1; r < p.nextRegister; ++r) {
        double* row = b.Row(r);
        for (int k = 0; k < BlockUnits; ++k) row[k] = p.registers[r];
    }
    const double* result = b.Row(p.result);
    // Nothing is declared while the units run, so the restriction stays where it is.
    const uint8_t* present = data::RestrictList().data();
    const int32_t last = std::min(t.length, data::MaxLength());
    int32_t unit = 1;
    while (unit <= last) {
        if (present[unit] == 0) {
            ++unit;
            continue;
        }
        int n = 0;
        while (n < BlockUnits && unit + n <= last && present[unit + n] != 0) ++n;
        for (int i = 1; i <= p.count; ++i) ApplyBlock(p.operations[i], b, unit, n, t.length, c);
        if (t.factor == nullptr) {
            float* out = t.variate + unit;
            for (int k = 0; k < n; ++k) out[k] = Single(InRange(result[k], c));
        } else {
            for (int k = 0; k < n; ++k) Store(t, unit + k, result[k], c);
        }
        unit += n;
    }
}

}  // namespace

void Evaluate(Program& p, const Target& t, Counters& c) {
    if (t.length == 1) {
        RunUnit(p, 1, 1, c);
        Store(t, 1, p.registers[p.result], c);
        return;
    }
    if (BlocksAllowed(p, t)) return RunBlocks(p, t, c);
    for (int32_t unit = 1; unit <= t.length; ++unit) {
        if (!data::UnitIncluded(unit)) continue;
        RunUnit(p, unit, t.length, c);
        Store(t, unit, p.registers[p.result], c);
    }
}

void WriteWarnings(const Counters& c, bool factorTarget, const std::string& line) {
    static const char* const Lines[WarningCounters] = {
        "- division by zero (",
        "- negative or zero ln() argument (",
        "- sqrt() or phiinv() argument out of range (",
        "- too big exp() or Poisson() argument, or too big power a^b (",
        "- 0^b for b negative, or a^b for a<0 and b non-integer (",
        "- algebraic operations resulting in value out of range (",
        "- factor level non-integer or out of range (",
        "- index non-integer or out of range (",
    };
    bool any = false;
    for (int32_t count : c) any = any || count > 0;
    if (!any) return;
    bool framed = !data::ContinueOnError;
    if (framed) {
        data::WriteLine(std::string(static_cast<size_t>(data::LineWidth()), '*'));
        data::WriteLine("OurUnit.Compute");
        data::WriteLine(line);
    }
    data::WriteLine(factorTarget ? "Warning: Some levels have been set to zero due to"
                                 : "Warning: Some values have been set to MissingValue due to");
    for (int i = 0; i < WarningCounters; ++i)
        if (c[i] > 0) data::WriteLine(Lines[i] + std::to_string(c[i]) + " cases)");
    if (framed) {
        data::WriteLine(std::string(static_cast<size_t>(data::LineWidth()), '*'));
        data::WriteLine();
    }
}

}  // namespace korw::compute::detail
