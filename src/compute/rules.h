// The rules of the evaluator's operations, shared by the unit-by-unit path (evaluate.cpp) and
// the block path (blocks.cpp), so that both give every unit the same value and the same counts.
//
// Every arithmetic problem makes the value missing and is counted; nothing stops the command.
// Internal to src/compute.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "compute/internal.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "distr/lanes.h"

namespace korw::compute::detail {

inline constexpr double Missing = static_cast<double>(data::MissingValue);
// PHIINV arguments this close to 0 or 1 have no usable quantile.
inline constexpr double PhiInvMargin = 1.0E-9;
inline constexpr double PhiInvUpper = 0.999999999;
// A negative base needs an exponent within this distance of an integer.
inline constexpr double IntegralTolerance = 1.0E-6;
inline constexpr double ExponentLimit = 2147483647.0;
// e^t below ln(1.6E-45) is 0.0: the same bound for a power formed by multiplication.
inline constexpr double SmallestPower = 1.6E-45;

inline bool IsMissing(double x) {
    return x == Missing;
}
inline float Single(double x) {
    return static_cast<float>(x);
}

// The lane types and elementary functions in lanes are distr's (shared with the fits).
using distr::ExpLanes;
using distr::FloatQuad;
using distr::Lanes;
using distr::Load;
using distr::Quad;
using distr::QuadMask;
using distr::Save;
using distr::Splat;

inline Quad Abs(Quad v) {
    return v < 0 ? -v : v;
}
inline QuadMask IsMissing(Quad v) {
    return v == Splat(Missing);
}
inline int32_t Count(QuadMask counted) {
    return static_cast<int32_t>(-(counted[0] + counted[1] + counted[2] + counted[3]));
}

// e^t with the overflow and underflow rules shared by EXP and the power.
inline double ExpChecked(double t, Counters& c) {
    if (t > ExpOverflow) return ++c[OverflowCount], Missing;
    if (t < ExpUnderflow) return 0.0;
    return ExpLanes(Splat(t))[0];
}

// a^n for an integer n, 1 <= |n| <= MultiplyLimit, by repeated squaring. This is e^(n ln a)
// without the rounding error of the logarithm (x^2 is exactly x*x, as other packages give it).
inline constexpr double MultiplyLimit = 64;
inline double IntegerPower(double a, double n) {
    double base = std::fabs(a), r = 1;
    for (auto m = static_cast<unsigned>(std::fabs(n)); m != 0; m >>= 1) {
        if ((m & 1) != 0) r *= base;
        base *= base;
    }
    return n < 0 ? 1 / r : r;
}

// The overflow and underflow rules of e^t applied to |a^n| itself: above 3.3E38 overflow,
// below 1.6E-45 zero; the sign is negative for a < 0 and n odd.
inline double IntegerPowerChecked(double a, double n, Counters& c) {
    double r = IntegerPower(a, n);
    if (r > RangeLimit) return ++c[OverflowCount], Missing;
    if (r < SmallestPower) return 0.0;
    return a < 0 && (static_cast<int64_t>(n) & 1) != 0 ? -r : r;
}

inline bool MultipliedExponent(double b) {
    return b == std::trunc(b) && std::fabs(b) <= MultiplyLimit && b != 0;
}

inline double Power(double a, double b, Counters& c) {
    if (IsMissing(a) || IsMissing(b)) return Missing;
    if (a != 0 && MultipliedExponent(b)) return IntegerPowerChecked(a, b, c);
    if (a > 0) return ExpChecked(b * std::log(a), c);
    if (a == 0) {
        if (b > 0) return 0.0;
        if (b == 0) return 1.0;
        return ++c[PowerCount], Missing;
    }
    double nearest = std::nearbyint(b);  // halves to even in the default rounding mode
    // Written so that a NaN exponent is refused too: it must never reach the integer cast.
    if (!(std::fabs(b) < ExponentLimit) || !(std::fabs(nearest - b) <= IntegralTolerance))
        return ++c[PowerCount], Missing;
    double result = ExpChecked(b * std::log(-a), c);
    if (IsMissing(result)) return result;
    return (static_cast<int64_t>(nearest) & 1) != 0 ? -result : result;  // |B| < 2^31
}

inline double Divide(double a, double b, Counters& c) {
    if (b == 0) return ++c[DivisionCount], Missing;
    if (IsMissing(a) || IsMissing(b)) return Missing;
    return a / b;
}

// 1 - Q(a). For a < 0 this is Q(-a) itself, taken directly: 1 - (1 - Q(-a)) would round a
// tail below 1e-19 away.
inline double Phi(double a) {
    if (a < 0) return static_cast<double>(distr::NormalUpperTail(-a));
    return static_cast<double>(1.0L - distr::NormalUpperTail(a));
}

inline double PhiInverse(double a, Counters& c) {
    if (IsMissing(a)) return Missing;
    if (a <= PhiInvMargin || a >= PhiInvUpper) ++c[RootCount];
    if (a <= 0 || a >= 1) return Missing;
    return static_cast<double>(distr::NormalUpperQuantile(1.0L - a));
}

inline double PoissonOf(double a, Counters& c) {
    if (IsMissing(a)) return Missing;
    if (a > PoissonLimit) return ++c[OverflowCount], Missing;
    return PoissonDraw(a);
}

template <typename Data>
inline double Indexed(const Data* data, double a, int32_t length, Counters& c) {
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
            return IsMissing(a) ? Missing : Phi(a);
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

}  // namespace korw::compute::detail
