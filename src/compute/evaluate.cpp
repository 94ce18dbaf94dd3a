// The evaluator: runs a compiled program for each present unit and stores the results.
//
// Programs that give the same values whichever way the units are taken run on the block path
// (blocks.cpp); all others run here unit by unit, storing each unit before the next is
// computed. Both apply the rules of rules.h.

#include <algorithm>
#include <string>
#include <vector>

#include "compute/internal.h"
#include "compute/rules.h"
#include "data/errors.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"

namespace korw::compute::detail {

namespace {

void RunUnit(Program& p, int32_t unit, int32_t length, Counters& c) {
    double* reg = p.registers.data();
    for (int i = 1; i <= p.count; ++i) {
        const Operation& op = p.operations[i];
        double b = IsBinaryCode(op.code) ? reg[op.b] : 0.0;
        reg[op.result] = InRange(Apply(op, reg[op.a], b, unit, length, c), c);
    }
}

void EvaluateUnits(Program& p, const Target& t, Counters& c) {
    for (int32_t unit = 1; unit <= t.length; ++unit) {
        data::PollAt(unit);
        if (!data::UnitIncluded(unit)) continue;
        RunUnit(p, unit, t.length, c);
        Store(t, unit, p.registers[p.result], c);
    }
}

}  // namespace

void Evaluate(Program& p, const Target& t, Counters& c) {
    if (t.length == 1) {
        RunUnit(p, 1, 1, c);
        Store(t, 1, p.registers[p.result], c);
        return;
    }
    bool blocks = BlocksAllowed(p, t);
    if (t.length < data::kUnitsPerPoll) return blocks ? RunBlocks(p, t, c) : EvaluateUnits(p, t, c);
    // A long evaluation can be stopped; the target's units go back from a copy. The blocks
    // stop at the flag and leave the throw to the poll after them.
    std::vector<float> variate;
    std::vector<uint8_t> factor;
    if (t.variate != nullptr) variate.assign(t.variate, t.variate + t.length + 1);
    if (t.factor != nullptr) factor.assign(t.factor, t.factor + t.length + 1);
    try {
        if (blocks) {
            RunBlocks(p, t, c);
            data::Poll();
        } else {
            EvaluateUnits(p, t, c);
        }
    } catch (const data::Interrupted&) {
        std::copy(variate.begin(), variate.end(), t.variate);
        std::copy(factor.begin(), factor.end(), t.factor);
        throw;
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
