// The evaluator: runs a compiled program for each present unit and stores the results.
//
// Every arithmetic problem makes the value missing and is counted; nothing stops the command.
// Programs without random functions and without an indexed reference to the left-hand vector
// give the same values whichever way the units are taken, so they run operation by operation
// over blocks of consecutive present units (the same scalar rules, applied in a tight loop);
// all others run unit by unit, storing each unit before the next is computed.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <thread>
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
// e^t below ln(1.6E-45) is 0.0: the same bound for a power formed by multiplication.
constexpr double SmallestPower = 1.6E-45;
// Units per block on the operation-by-operation path.
constexpr int BlockUnits = 256;

inline bool IsMissing(double x) {
    return x == Missing;
}
inline float Single(double x) {
    return static_cast<float>(x);
}

// Four registers' values at a time, in GCC's portable vector types, so that the loops of plain
// arithmetic run several units per instruction (two with SSE2, four with AVX2, for which the
// block functions are also compiled and chosen at run time). A comparison gives a mask of -1
// (holds) or 0 per lane, and subtracting masks counts. Every lane follows the scalar rules
// exactly: the same IEEE operations, and no contraction into fused multiply-adds.
constexpr int Lanes = 4;
using Pair = double __attribute__((vector_size(8 * Lanes)));
using PairMask = int64_t __attribute__((vector_size(8 * Lanes)));
using FloatPair = float __attribute__((vector_size(4 * Lanes)));
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KORW_BLOCK_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORW_BLOCK_CLONES
#endif

inline Pair Load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Save(double* p, Pair v) {
    std::memcpy(p, &v, sizeof v);
}
inline Pair Splat(double x) {
    return Pair{x, x, x, x};
}
inline Pair Abs(Pair v) {
    return v < 0 ? -v : v;
}
inline PairMask IsMissing(Pair v) {
    return v == Splat(Missing);
}
inline int32_t Count(PairMask counted) {
    return static_cast<int32_t>(-(counted[0] + counted[1] + counted[2] + counted[3]));
}

// e^t for ExpUnderflow <= t <= ExpOverflow, lane by lane: t = k ln 2 + r with |r| <= ln 2 / 2
// (ln 2 in two parts, so that k ln 2 is exact), e^r by its Taylor series to r^13 (the rest is
// below 5E-18), times 2^k made in the exponent bits. The result is within one unit in the last
// place of e^t. EXP of a single unit uses the same lanes, so every unit gets the same value
// whichever way the units are taken.
inline Pair ExpLanes(Pair t) {
    constexpr double Shifter = 0x1.8p52;  // adding it rounds to an integer, kept in the low bits
    constexpr double Ln2High = 6.93147180369123816490e-01;
    constexpr double Ln2Low = 1.90821492927058770002e-10;
    constexpr double Factor[14] = {1.0,
                                   1.0,
                                   1.0 / 2,
                                   1.0 / 6,
                                   1.0 / 24,
                                   1.0 / 120,
                                   1.0 / 720,
                                   1.0 / 5040,
                                   1.0 / 40320,
                                   1.0 / 362880,
                                   1.0 / 3628800,
                                   1.0 / 39916800,
                                   1.0 / 479001600,
                                   1.0 / 6227020800};
    Pair kd = t * Splat(1.4426950408889634) + Splat(Shifter);
    PairMask k = reinterpret_cast<PairMask>(kd) - reinterpret_cast<PairMask>(Splat(Shifter));
    kd -= Splat(Shifter);
    Pair r = (t - kd * Splat(Ln2High)) - kd * Splat(Ln2Low);
    Pair p = Splat(Factor[13]);
    for (int i = 12; i >= 0; --i) p = p * r + Splat(Factor[i]);
    PairMask scale = (k + 1023) << 52;
    return p * reinterpret_cast<Pair>(scale);
}

// e^t with the overflow and underflow rules shared by EXP and the power.
inline double ExpChecked(double t, Counters& c) {
    if (t > ExpOverflow) return ++c[OverflowCount], Missing;
    if (t < ExpUnderflow) return 0.0;
    return ExpLanes(Splat(t))[0];
}

// a^n for an integer n, 1 <= |n| <= MultiplyLimit, by repeated squaring. This is e^(n ln a)
// without the rounding error of the logarithm (x^2 is exactly x*x, as other packages give it).
constexpr double MultiplyLimit = 64;
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

// Stores the results of an operation for k < n after the range rule: `pair(k)` gives units k
// to k + Lanes - 1, `single(k)` unit k (for the last units of a block).
template <typename PairF, typename SingleF>
inline void EachPair(double* out, int n, Counters& c, PairF pair, SingleF single) {
    PairMask outside{};
    int k = 0;
    for (; k + Lanes <= n; k += Lanes) {
        Pair v = pair(k);
        PairMask big = Abs(v) > Splat(RangeLimit);
        outside += big;
        Save(out + k, big ? Splat(Missing) : v);
    }
    c[RangeCount] += Count(outside);
    for (; k < n; ++k) out[k] = InRange(single(k), c);
}

// The same for operations without a pair form.
template <typename F>
inline void Each(double* out, int n, Counters& c, F f) {
    for (int k = 0; k < n; ++k) out[k] = InRange(f(k), c);
}

// A binary operation whose result is missing when an operand is: `f` on the values, pairwise
// and singly alike.
template <typename F>
inline void Arithmetic(double* out, const double* x, const double* y, int n, Counters& c, F f) {
    EachPair(
        out, n, c,
        [&](int k) {
            Pair a = Load(x + k), b = Load(y + k);
            return (IsMissing(a) | IsMissing(b)) ? Splat(Missing) : f(a, b);
        },
        [&](int k) {
            return IsMissing(x[k]) || IsMissing(y[k]) ? Missing : f(Splat(x[k]), Splat(y[k]))[0];
        });
}

// One operation over units first .. first + n - 1, the common codes in their own loops.
// `constantB` holds the right operand when it is a constant register.
KORW_BLOCK_CLONES void ApplyBlock(const Operation& op, Block& b, int32_t first, int n,
                                  int32_t length, const double* constantB, Counters& c) {
    double* out = b.Row(op.result);
    const double* x = b.Row(op.a);
    const double* y = b.Row(IsBinaryCode(op.code) ? op.b : 0);
    switch (op.code) {
        case OpVariate: {
            const float* v = op.variate + first;
            return EachPair(
                out, n, c,
                [&](int k) {
                    FloatPair f;
                    std::memcpy(&f, v + k, sizeof f);
                    return __builtin_convertvector(f, Pair);
                },
                [&](int k) { return static_cast<double>(v[k]); });
        }
        case OpAdd:
            return Arithmetic(out, x, y, n, c, [](Pair a, Pair b) { return a + b; });
        case OpSubtract:
            return Arithmetic(out, x, y, n, c, [](Pair a, Pair b) { return a - b; });
        case OpMultiply:
            return Arithmetic(out, x, y, n, c, [](Pair a, Pair b) { return a * b; });
        case OpDivide: {
            PairMask zero{};
            EachPair(
                out, n, c,
                [&](int k) {
                    Pair a = Load(x + k), d = Load(y + k);
                    PairMask z = d == Splat(0.0);
                    zero += z;
                    return (z | IsMissing(a) | IsMissing(d)) ? Splat(Missing) : a / d;
                },
                [&](int k) { return Divide(x[k], y[k], c); });
            c[DivisionCount] += Count(zero);
            return;
        }
        case OpPower:
            if (constantB != nullptr && *constantB == 2) {
                // The square, under the rules of IntegerPowerChecked.
                PairMask over{};
                EachPair(
                    out, n, c,
                    [&](int k) {
                        Pair a = Load(x + k);
                        Pair s = a * a;
                        PairMask big = s > Splat(RangeLimit);
                        over += big & ~IsMissing(a);
                        Pair v = s < Splat(SmallestPower) ? Splat(0.0) : s;
                        return (IsMissing(a) | big) ? Splat(Missing) : v;
                    },
                    [&](int k) { return Power(x[k], 2, c); });
                c[OverflowCount] += Count(over);
                return;
            }
            return Each(out, n, c, [&](int k) { return Power(x[k], y[k], c); });
        case OpExp: {
            PairMask over{};
            EachPair(
                out, n, c,
                [&](int k) {
                    Pair a = Load(x + k);
                    PairMask big = a > Splat(ExpOverflow);
                    PairMask small = a < Splat(ExpUnderflow);
                    over += big;
                    // Arguments outside the range are replaced before the exponent bits are
                    // made from them; their lanes are overwritten below.
                    Pair e = ExpLanes((big | small) ? Splat(0.0) : a);
                    e = small ? Splat(0.0) : e;
                    return (IsMissing(a) | big) ? Splat(Missing) : e;
                },
                [&](int k) { return IsMissing(x[k]) ? Missing : ExpChecked(x[k], c); });
            c[OverflowCount] += Count(over);
            return;
        }
        case OpSqr:
            return EachPair(
                out, n, c,
                [&](int k) {
                    Pair a = Load(x + k);
                    return IsMissing(a) ? Splat(Missing) : a * a;
                },
                [&](int k) { return IsMissing(x[k]) ? Missing : x[k] * x[k]; });
        default:
            return Each(out, n, c,
                        [&](int k) { return Apply(op, x[k], y[k], first + k, length, c); });
    }
}

// Stores a block's results into a variate, rounded to single precision after the range rule
// (only a constant result can still be out of range here).
KORW_BLOCK_CLONES void StoreVariate(float* out, const double* result, int n, Counters& c) {
    PairMask outside{};
    int k = 0;
    for (; k + Lanes <= n; k += Lanes) {
        Pair v = Load(result + k);
        PairMask big = Abs(v) > Splat(RangeLimit);
        outside += big;
        FloatPair f = __builtin_convertvector(big ? Splat(Missing) : v, FloatPair);
        std::memcpy(out + k, &f, sizeof f);
    }
    c[RangeCount] += Count(outside);
    for (; k < n; ++k) out[k] = Single(InRange(result[k], c));
}

// The operations as the blocks run them. An operation that repeats an earlier one on the same
// operands (EXP(X) twice in EXP(X)/(1+EXP(X))) is not run again: its register is read from the
// earlier one's, and the warnings the earlier one counted in a block are counted once more, so
// that values and counts stay those of running every operation. Equal constants share a
// register for this comparison.
struct BlockPlan {
    std::array<Operation, OperationCount + 1> operations{};  // operands renamed
    std::array<int, OperationCount + 1> repeats{};           // earlier operation, or 0
    std::array<bool, RegisterCount + 1> constant{};          // register holds a constant
    int result = 0;
};

BlockPlan MakePlan(const Program& p) {
    BlockPlan plan;
    std::array<int, RegisterCount + 1> name{};  // register -> the register that stands for it
    for (int r = 0; r <= RegisterCount; ++r) name[r] = r;
    std::array<bool, RegisterCount + 1> written{};
    for (int i = 1; i <= p.count; ++i) written[p.operations[i].result] = true;
    for (int r = 1; r < p.nextRegister; ++r) {
        if (written[r]) continue;
        plan.constant[r] = true;
        for (int q = 1; q < r; ++q)
            if (plan.constant[q] && name[q] == q &&
                std::memcmp(&p.registers[q], &p.registers[r], sizeof(double)) == 0) {
                name[r] = q;
                break;
            }
    }
    for (int i = 1; i <= p.count; ++i) {
        Operation op = p.operations[i];
        op.a = name[op.a];
        if (IsBinaryCode(op.code)) op.b = name[op.b];
        plan.operations[i] = op;
        bool pure = op.code != OpRandom && op.code != OpNormal && op.code != OpPoisson;
        for (int j = 1; j < i && pure; ++j) {
            const Operation& e = plan.operations[j];
            bool usesA = op.code != OpVariate && op.code != OpFactor && op.code != OpUnit &&
                         op.code != OpLength;
            bool usesB = IsBinaryCode(op.code) || op.code == OpVariateAt || op.code == OpFactorAt;
            if (plan.repeats[j] == 0 && e.code == op.code && (!usesA || e.a == op.a) &&
                (!usesB || e.b == op.b) && e.variate == op.variate && e.factor == op.factor) {
                plan.repeats[i] = j;
                name[op.result] = e.result;
                break;
            }
        }
    }
    plan.result = name[p.result];
    return plan;
}

// Runs the blocks of units first .. last (present units only) and counts into `c`.
void RunBlockRange(const Program& p, const BlockPlan& plan, const Target& t, int32_t first,
                   int32_t last, Counters& c) {
    Block b;
    b.values.resize(static_cast<size_t>(p.nextRegister + 1) * BlockUnits);
    for (int r = 1; r < p.nextRegister; ++r) {
        double* row = b.Row(r);
        for (int k = 0; k < BlockUnits; ++k) row[k] = p.registers[r];
    }
    bool anyRepeat = false;
    for (int i = 1; i <= p.count; ++i) anyRepeat = anyRepeat || plan.repeats[i] != 0;
    std::array<Counters, OperationCount + 1> counted{};  // per operation, in the present block
    const double* result = b.Row(plan.result);
    // Nothing is declared while the units run, so the restriction stays where it is.
    const uint8_t* present = data::RestrictList().data();
    int32_t unit = first;
    while (unit <= last) {
        if (present[unit] == 0) {
            ++unit;
            continue;
        }
        int n = std::min(BlockUnits, last - unit + 1);
        if (const void* gap = std::memchr(present + unit, 0, static_cast<size_t>(n)))
            n = static_cast<int>(static_cast<const uint8_t*>(gap) - (present + unit));
        for (int i = 1; i <= p.count; ++i) {
            const Operation& op = plan.operations[i];
            if (plan.repeats[i] != 0) {
                for (int w = 0; w < WarningCounters; ++w) c[w] += counted[plan.repeats[i]][w];
                continue;
            }
            const double* constantB =
                IsBinaryCode(op.code) && plan.constant[op.b] ? &p.registers[op.b] : nullptr;
            if (!anyRepeat) {
                ApplyBlock(op, b, unit, n, t.length, constantB, c);
                continue;
            }
            Counters before = c;
            ApplyBlock(op, b, unit, n, t.length, constantB, c);
            for (int w = 0; w < WarningCounters; ++w) counted[i][w] = c[w] - before[w];
        }
        if (t.factor == nullptr) {
            StoreVariate(t.variate + unit, result, n, c);
        } else {
            for (int k = 0; k < n; ++k) Store(t, unit + k, result[k], c);
        }
        unit += n;
    }
}

// Long computations are shared between the processor's cores: every unit's value depends on
// nothing but its own operands, so the parts may run at once, each with its own registers and
// counters, added at the end.
constexpr int32_t UnitsPerThread = 1 << 18;
constexpr unsigned MostThreads = 8;

void RunBlocks(const Program& p, const Target& t, Counters& c) {
    const BlockPlan plan = MakePlan(p);
    const int32_t last = std::min(t.length, data::MaxLength());
    unsigned threads = std::min({std::max(1u, std::thread::hardware_concurrency()), MostThreads,
                                 static_cast<unsigned>(std::max(1, last / UnitsPerThread))});
    if (threads <= 1) return RunBlockRange(p, plan, t, 1, last, c);
    std::vector<Counters> counts(threads, Counters{});
    std::vector<std::thread> running;
    const int32_t share = last / static_cast<int32_t>(threads);
    for (unsigned i = 1; i < threads; ++i) {
        int32_t first = static_cast<int32_t>(i) * share + 1;
        int32_t end = i + 1 == threads ? last : first + share - 1;
        running.emplace_back(
            [&, i, first, end] { RunBlockRange(p, plan, t, first, end, counts[i]); });
    }
    RunBlockRange(p, plan, t, 1, share, counts[0]);
    for (std::thread& thread : running) thread.join();
    for (const Counters& part : counts)
        for (int w = 0; w < WarningCounters; ++w) c[w] += part[w];
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
