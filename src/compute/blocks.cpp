// The block path of the evaluator: programs without random functions and without an indexed
// reference to the left-hand vector give the same values whichever way the units are taken, so
// they run operation by operation over blocks of consecutive present units, in vector lanes,
// and long computations are shared between threads.

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <vector>

#include "compute/internal.h"
#include "compute/rules.h"
#include "data/long_work.h"
#include "data/restrict.h"
#include "data/vectors.h"

// The block functions are compiled twice on x86-64, for AVX2 and for the baseline, and the
// loader picks the one the processor runs.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KORW_BLOCK_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORW_BLOCK_CLONES
#endif

namespace korw::compute::detail {

namespace {

// Units per block.
constexpr int BlockUnits = 256;

// The registers of a block: one row of BlockUnits values per register.
struct Block {
    std::vector<double> values;
    double* Row(int reg) { return values.data() + static_cast<size_t>(reg) * BlockUnits; }
};

// Stores the results of an operation for k < n after the range rule: `quad(k)` gives units k
// to k + Lanes - 1, `single(k)` unit k (for the last units of a block).
template <typename QuadF, typename SingleF>
inline void EachQuad(double* out, int n, Counters& c, QuadF quad, SingleF single) {
    QuadMask outside{};
    int k = 0;
    for (; k + Lanes <= n; k += Lanes) {
        Quad v = quad(k);
        QuadMask big = Abs(v) > Splat(RangeLimit);
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
    EachQuad(
        out, n, c,
        [&](int k) {
            Quad a = Load(x + k), b = Load(y + k);
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
            return EachQuad(
                out, n, c,
                [&](int k) {
                    FloatQuad f;
                    std::memcpy(&f, v + k, sizeof f);
                    return __builtin_convertvector(f, Quad);
                },
                [&](int k) { return static_cast<double>(v[k]); });
        }
        case OpAdd:
            return Arithmetic(out, x, y, n, c, [](Quad a, Quad b) { return a + b; });
        case OpSubtract:
            return Arithmetic(out, x, y, n, c, [](Quad a, Quad b) { return a - b; });
        case OpMultiply:
            return Arithmetic(out, x, y, n, c, [](Quad a, Quad b) { return a * b; });
        case OpDivide: {
            QuadMask zero{};
            EachQuad(
                out, n, c,
                [&](int k) {
                    Quad a = Load(x + k), d = Load(y + k);
                    QuadMask z = d == Splat(0.0);
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
                QuadMask over{};
                EachQuad(
                    out, n, c,
                    [&](int k) {
                        Quad a = Load(x + k);
                        Quad s = a * a;
                        QuadMask big = s > Splat(RangeLimit);
                        over += big & ~IsMissing(a);
                        Quad v = s < Splat(SmallestPower) ? Splat(0.0) : s;
                        return (IsMissing(a) | big) ? Splat(Missing) : v;
                    },
                    [&](int k) { return Power(x[k], 2, c); });
                c[OverflowCount] += Count(over);
                return;
            }
            return Each(out, n, c, [&](int k) { return Power(x[k], y[k], c); });
        case OpExp: {
            QuadMask over{};
            EachQuad(
                out, n, c,
                [&](int k) {
                    Quad a = Load(x + k);
                    QuadMask big = a > Splat(ExpOverflow);
                    QuadMask small = a < Splat(ExpUnderflow);
                    over += big;
                    // Arguments outside the range are replaced before the exponent bits are
                    // made from them; their lanes are overwritten below.
                    Quad e = ExpLanes((big | small) ? Splat(0.0) : a);
                    e = small ? Splat(0.0) : e;
                    return (IsMissing(a) | big) ? Splat(Missing) : e;
                },
                [&](int k) { return IsMissing(x[k]) ? Missing : ExpChecked(x[k], c); });
            c[OverflowCount] += Count(over);
            return;
        }
        case OpSqr:
            return EachQuad(
                out, n, c,
                [&](int k) {
                    Quad a = Load(x + k);
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
    QuadMask outside{};
    int k = 0;
    for (; k + Lanes <= n; k += Lanes) {
        Quad v = Load(result + k);
        QuadMask big = Abs(v) > Splat(RangeLimit);
        outside += big;
        FloatQuad f = __builtin_convertvector(big ? Splat(Missing) : v, FloatQuad);
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
    std::array<Operation, OperationCount + 1> operations{};     // operands renamed
    std::array<int, OperationCount + 1> repeats{};              // earlier operation, or 0
    std::array<const double*, OperationCount + 1> constantB{};  // right operand, if constant
    int result = 0;
};

BlockPlan MakePlan(const Program& p) {
    BlockPlan plan;
    std::array<int, RegisterCount + 1> name{};  // register -> the register that stands for it
    for (int r = 0; r <= RegisterCount; ++r) name[r] = r;
    std::array<bool, RegisterCount + 1> written{}, constant{};
    for (int i = 1; i <= p.count; ++i) written[p.operations[i].result] = true;
    for (int r = 1; r < p.nextRegister; ++r) {
        if (written[r]) continue;
        constant[r] = true;
        for (int q = 1; q < r; ++q)
            if (constant[q] && name[q] == q &&
                std::memcmp(&p.registers[q], &p.registers[r], sizeof(double)) == 0) {
                name[r] = q;
                break;
            }
    }
    for (int i = 1; i <= p.count; ++i) {
        Operation op = p.operations[i];
        op.a = name[op.a];
        if (IsBinaryCode(op.code)) {
            op.b = name[op.b];
            if (constant[op.b]) plan.constantB[i] = &p.registers[op.b];
        }
        plan.operations[i] = op;
        bool pure = op.code != OpRandom && op.code != OpNormal && op.code != OpPoisson;
        bool usesA =
            op.code != OpVariate && op.code != OpFactor && op.code != OpUnit && op.code != OpLength;
        bool usesB = IsBinaryCode(op.code) || op.code == OpVariateAt || op.code == OpFactorAt;
        for (int j = 1; j < i && pure; ++j) {
            const Operation& e = plan.operations[j];
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

// Runs the blocks of units first .. last (present units only) and adds its counts to `total`.
// The counting goes to a local copy: the totals of the threads lie side by side in memory.
void RunBlockRange(const Program& p, const BlockPlan& plan, const Target& t, int32_t first,
                   int32_t last, Counters& total) {
    Counters c{};
    Block b;
    b.values.resize(static_cast<size_t>(p.nextRegister + 1) * BlockUnits);
    for (int r = 1; r < p.nextRegister; ++r) {
        double* row = b.Row(r);
        for (int k = 0; k < BlockUnits; ++k) row[k] = p.registers[r];
    }
    std::array<Counters, OperationCount + 1> counted{};  // per operation, in the present block
    const double* result = b.Row(plan.result);
    // Nothing is declared while the units run, so the restriction stays where it is.
    const uint8_t* present = data::RestrictList().data();
    int32_t unit = first;
    // The range that starts at unit 1 is the command's own thread's: it polls (without a throw,
    // other threads may be running); the others look at the stop flag.
    bool polling = first == 1;
    int32_t nextLook = unit + data::kUnitsPerPoll;
    while (unit <= last) {
        if (unit >= nextLook) {
            nextLook = unit + data::kUnitsPerPoll;
            if (polling ? data::StopWanted() : data::StopRequested()) break;
        }
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
            Counters before = c;
            ApplyBlock(op, b, unit, n, t.length, plan.constantB[i], c);
            for (int w = 0; w < WarningCounters; ++w) counted[i][w] = c[w] - before[w];
        }
        if (t.factor == nullptr) {
            StoreVariate(t.variate + unit, result, n, c);
        } else {
            for (int k = 0; k < n; ++k) Store(t, unit + k, result[k], c);
        }
        unit += n;
    }
    for (int w = 0; w < WarningCounters; ++w) total[w] += c[w];
}

// Long computations are shared between the processor's cores: every unit's value depends on
// nothing but its own operands, so the parts may run at once, each with its own registers and
// counters, added at the end.
constexpr int32_t UnitsPerThread = 1 << 18;
constexpr unsigned MostThreads = 8;

}  // namespace

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

// The number of processors, asked once: the C library reads it from the system's files, which
// costs more than a short line's whole computation.
unsigned Processors() {
    static const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    return processors;
}

void RunBlocks(const Program& p, const Target& t, Counters& c) {
    const BlockPlan plan = MakePlan(p);
    const int32_t last = std::min(t.length, data::MaxLength());
    unsigned threads =
        last < 2 * UnitsPerThread
            ? 1
            : std::min({Processors(), MostThreads, static_cast<unsigned>(last / UnitsPerThread)});
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

}  // namespace korw::compute::detail
