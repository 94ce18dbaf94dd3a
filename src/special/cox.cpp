// NewCox: Cox's proportional hazards model on FitUserDefined.
//
// The partial likelihood is evaluated by walking each stratum's death times from the latest to
// the earliest with a running risk-set sum: units join when the walk reaches their exit time and
// leave again when it reaches their entry time. The units are sorted once per fit, so every
// evaluation is one pass. All derivatives of one parameter vector come from one pass too and
// are kept for the engine's many calls of the derivative functions.
#include "special/cox.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <sstream>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::special {

using data::Entry;
using data::ReportError;
using data::WriteLine;

namespace cox {

namespace {

// Adds and subtracts relative risks with the rounding error carried along (Neumaier), so that
// a small late risk set is not lost in the sums of the large early ones it is the difference
// of.
struct CompensatedSum {
    double sum = 0, carry = 0;
    void Add(double x) {
        double t = sum + x;
        carry += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    }
    double Value() const { return sum + carry; }
    void Reset() { sum = carry = 0; }
};

// The relative risks exp(eta) (eta in walk order) with every stratum's eta shifted by its
// largest value, which is stored in `top` per stratum. The partial likelihood and its
// derivatives do not change when one stratum's eta is shifted, and the shift keeps exp from
// overflowing however large eta grows.
void ShiftedRisks(const RiskSetPlan& plan, const std::vector<double>& eta, std::vector<double>& r,
                  std::vector<double>& top) {
    r.resize(eta.size());
    top.assign(plan.strata.size(), -HUGE_VAL);
    for (size_t s = 0; s < plan.strata.size(); ++s) {
        const RiskSetPlan::Stratum& stratum = plan.strata[s];
        for (int32_t k = stratum.unitsBegin; k < stratum.unitsEnd; ++k)
            top[s] = std::max(top[s], eta[k]);
        for (int32_t k = stratum.unitsBegin; k < stratum.unitsEnd; ++k)
            r[k] = std::exp(eta[k] - top[s]);
    }
}

// The risk-set sums of r in walk order: one stratum's death times from the latest on, the units
// joining at their exit times and, with left truncation, leaving at their entry times.
std::vector<double> WalkRiskSetSums(const RiskSetPlan& plan, const std::vector<double>& r,
                                    bool leftTruncated) {
    std::vector<double> sums(plan.times.size());
    CompensatedSum sum;
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        sum.Reset();
        int32_t a = s.unitsBegin, b = s.unitsBegin, atRisk = 0;
        for (int32_t t = s.timesBegin; t < s.timesEnd; ++t) {
            const double time = plan.times[t].time;
            for (; a < s.unitsEnd && plan.exitAt[a] >= time; ++a, ++atRisk) {
                data::PollAt(a + 1);
                sum.Add(r[a]);
            }
            if (leftTruncated) {
                for (; b < s.unitsEnd && plan.entryAt[b] >= time; ++b, --atRisk)
                    sum.Add(-r[plan.walkOfEntry[b]]);
                if (atRisk == 0) sum.Reset();
            }
            sums[t] = sum.Value();
        }
    }
    return sums;
}

std::vector<double> InWalkOrder(const RiskSetPlan& plan, const std::vector<double>& values) {
    std::vector<double> ordered(values.size());
    for (size_t k = 0; k < values.size(); ++k) ordered[k] = values[plan.byExit[k]];
    return ordered;
}

// Walks one stratum's death times from the latest on; before each, the units whose exit time
// is at or after it join the risk set (`join`) and, with left truncation, those whose entry
// time is at or after it leave it (`leave`). `emptied` is called when the risk set has become
// empty, so that running sums can restart from an exact 0.
template <class Join, class Leave, class Emptied, class AtTime>
void WalkStratum(const Units& units, const RiskSetPlan& plan, const RiskSetPlan::Stratum& s,
                 Join join, Leave leave, Emptied emptied, AtTime atTime) {
    int32_t a = s.unitsBegin, b = s.unitsBegin, atRisk = 0;
    for (int32_t t = s.timesBegin; t < s.timesEnd; ++t) {
        double time = plan.times[t].time;
        for (; a < s.unitsEnd && units.exit[plan.byExit[a]] >= time; ++a, ++atRisk)
            join(plan.byExit[a]);
        if (units.leftTruncated) {
            for (; b < s.unitsEnd && units.entry[plan.byEntry[b]] >= time; ++b, --atRisk)
                leave(plan.byEntry[b]);
            if (atRisk == 0) emptied();
        }
        atTime(t);
    }
}

}  // namespace

RiskSetPlan PlanRiskSets(const Units& units) {
    RiskSetPlan plan;
    int32_t n = static_cast<int32_t>(units.exit.size());
    plan.byExit.resize(n);
    std::iota(plan.byExit.begin(), plan.byExit.end(), 0);
    std::stable_sort(plan.byExit.begin(), plan.byExit.end(), [&](int32_t i, int32_t j) {
        if (units.stratum[i] != units.stratum[j]) return units.stratum[i] < units.stratum[j];
        return units.exit[i] > units.exit[j];
    });
    if (units.leftTruncated) {
        plan.byEntry.resize(n);
        std::iota(plan.byEntry.begin(), plan.byEntry.end(), 0);
        std::stable_sort(plan.byEntry.begin(), plan.byEntry.end(), [&](int32_t i, int32_t j) {
            if (units.stratum[i] != units.stratum[j]) return units.stratum[i] < units.stratum[j];
            return units.entry[i] > units.entry[j];
        });
    }
    for (int32_t k = 0; k < n;) {
        int stratum = units.stratum[plan.byExit[k]];
        RiskSetPlan::Stratum s{static_cast<int32_t>(plan.times.size()), 0, k, 0};
        for (; k < n && units.stratum[plan.byExit[k]] == stratum; ++k) {
            int32_t i = plan.byExit[k];
            if (!units.death[i]) continue;
            if (plan.times.size() == static_cast<size_t>(s.timesBegin) ||
                plan.times.back().time != units.exit[i])
                plan.times.push_back({units.exit[i], 0, static_cast<int32_t>(plan.deaths.size())});
            ++plan.times.back().deaths;
            plan.deaths.push_back(i);
        }
        s.timesEnd = static_cast<int32_t>(plan.times.size());
        s.unitsEnd = k;
        plan.strata.push_back(s);
    }
    std::vector<int32_t> walkOf(n);
    plan.exitAt.resize(n);
    plan.deathAt.resize(n);
    for (int32_t k = 0; k < n; ++k) {
        int32_t i = plan.byExit[k];
        walkOf[i] = k;
        plan.exitAt[k] = units.exit[i];
        plan.deathAt[k] = units.death[i];
    }
    for (int32_t i : plan.deaths) plan.walkOfDeath.push_back(walkOf[i]);
    for (int32_t i : plan.byEntry) {
        plan.entryAt.push_back(units.entry[i]);
        plan.walkOfEntry.push_back(walkOf[i]);
    }
    const int32_t none = static_cast<int32_t>(plan.times.size());
    plan.joinTime.assign(n, none);
    plan.leaveTime.assign(n, none);
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        int32_t a = s.unitsBegin, b = s.unitsBegin;
        for (int32_t t = s.timesBegin; t < s.timesEnd; ++t) {
            for (; a < s.unitsEnd && plan.exitAt[a] >= plan.times[t].time; ++a)
                plan.joinTime[a] = t;
            for (; units.leftTruncated && b < s.unitsEnd && plan.entryAt[b] >= plan.times[t].time;
                 ++b)
                plan.leaveTime[plan.walkOfEntry[b]] = t;
        }
        for (int32_t k = s.unitsBegin; k < s.unitsEnd; ++k)
            if (plan.joinTime[k] != none && plan.leaveTime[k] == none)
                plan.leaveTime[k] = s.timesEnd;
    }
    return plan;
}

std::vector<double> RiskSetSums(const Units& units, const RiskSetPlan& plan,
                                const std::vector<double>& r) {
    return WalkRiskSetSums(plan, InWalkOrder(plan, r), units.leftTruncated);
}

std::vector<double> LinearPredictor(const SparseDesign& x, const std::vector<double>& beta) {
    size_t n = x.start.size() - 1;
    std::vector<double> eta(n, 0.0);
    for (size_t i = 0; i < n; ++i)
        for (int32_t k = x.start[i]; k < x.start[i + 1]; ++k)
            eta[i] += beta[x.column[k]] * x.value[k];
    return eta;
}

void EvaluateRiskSets(const RiskSetPlan& plan, const std::vector<double>& etaInWalkOrder,
                      RiskSets& risks) {
    ShiftedRisks(plan, etaInWalkOrder, risks.r, risks.top);
    risks.sums = WalkRiskSetSums(plan, risks.r, !plan.byEntry.empty());
}

double PartialLogLikelihood(const RiskSetPlan& plan, const std::vector<double>& etaInWalkOrder,
                            const RiskSets& risks) {
    double sum = 0;
    for (int32_t k : plan.walkOfDeath) sum += etaInWalkOrder[k];
    for (size_t s = 0; s < plan.strata.size(); ++s) {
        for (int32_t t = plan.strata[s].timesBegin; t < plan.strata[s].timesEnd; ++t)
            sum -= plan.times[t].deaths * (std::log(risks.sums[t]) + risks.top[s]);
    }
    return sum;
}

double PartialLogLikelihood(const Units&, const RiskSetPlan& plan, const std::vector<double>& eta) {
    std::vector<double> ordered = InWalkOrder(plan, eta);
    RiskSets risks;
    EvaluateRiskSets(plan, ordered, risks);
    return PartialLogLikelihood(plan, ordered, risks);
}

WalkDesign OrderDesign(const RiskSetPlan& plan, const SparseDesign& x) {
    WalkDesign w;
    const int p = x.columns;
    const size_t n = plan.byExit.size();
    w.columns = p;
    w.units = n;
    w.value.assign(n * p, 0.0);
    for (size_t k = 0; k < n; ++k) {
        int32_t i = plan.byExit[k];
        for (int32_t a = x.start[i]; a < x.start[i + 1]; ++a)
            w.value[x.column[a] * n + k] = x.value[a];
    }
    w.centred = w.value;
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        const double units = s.unitsEnd - s.unitsBegin;
        for (int c = 0; c < p; ++c) {
            double* column = &w.centred[c * n];
            double mean = 0;
            for (int32_t k = s.unitsBegin; k < s.unitsEnd; ++k) mean += column[k];
            mean /= units;
            for (int32_t k = s.unitsBegin; k < s.unitsEnd; ++k) column[k] -= mean;
        }
    }
    if (!plan.walkOfEntry.empty()) {
        w.centredByEntry.resize(n * p);
        for (int c = 0; c < p; ++c)
            for (size_t b = 0; b < n; ++b)
                w.centredByEntry[c * n + b] = w.centred[c * n + plan.walkOfEntry[b]];
    }
    return w;
}

// A zero column adds beta x 0, a zero of either sign, which leaves every sum as the sparse
// rows' sum of their nonzero values leaves it.
void WalkPredictor(const WalkDesign& x, const std::vector<double>& beta, std::vector<double>& eta) {
    const size_t n = x.units;
    eta.assign(n, 0.0);
    for (int c = 0; c < x.columns; ++c) {
        const double b = beta[c];
        const double* column = &x.value[c * n];
        for (size_t k = 0; k < n; ++k) eta[k] += b * column[k];
    }
}

namespace {

// Rows per block of the weighted cross-products: a block's columns and weighted copies stay in
// the first-level cache.
constexpr size_t kProductRows = 512;
// The packed lower triangle of order p: p (p + 1) / 2 elements.
size_t PackedPairs(int p) {
    return models::detail::Packed(p, 0);
}

// Adds sum_k w_k x_k x_k' (packed lower triangle, (j, l) with l <= j at j (j + 1) / 2 + l) and,
// with v, sum_k v_k x_k (after the triangle) over the rows [begin, end) of the column-major
// matrix x of `rows` rows, block after block.
void AddWeightedProducts(const double* x, size_t rows, int p, const double* w, const double* v,
                         size_t begin, size_t end, double* sums) {
    std::vector<double> weighted(kProductRows);
    for (size_t from = begin; from < end; from += kProductRows) {
        const size_t count = std::min(kProductRows, end - from);
        for (int j = 0; j < p; ++j) {
            const double* xj = x + j * rows + from;
            for (size_t k = 0; k < count; ++k) weighted[k] = w[from + k] * xj[k];
            double* row = sums + PackedPairs(j);
            for (int l = 0; l <= j; ++l)
                row[l] += models::detail::Dot(weighted.data(), x + l * rows + from, count);
            if (v != nullptr) sums[PackedPairs(p) + j] += models::detail::Dot(v + from, xj, count);
        }
    }
}

// The same over all rows, in the kernel's fixed slices shared out over its threads. Only the
// command's thread asks whether to stop; when it should, every slice is left at its next block
// and the command is interrupted once the threads are joined.
void WeightedProducts(const double* x, size_t rows, int p, const double* w, const double* v,
                      std::vector<double>& sums) {
    const int count = static_cast<int>(PackedPairs(p)) + (v != nullptr ? p : 0);
    sums.assign(count, 0.0);
    if (rows == 0 || p == 0) return;
    models::detail::SumsInSlices(
        rows, count,
        [&](size_t begin, size_t end, double* part) {
            std::fill(part, part + count, 0.0);
            for (size_t from = begin; from < end && !models::detail::LeaveSlice();
                 from += data::kUnitsPerPoll)
                AddWeightedProducts(x, rows, p, w, v, from,
                                    std::min<size_t>(end, from + data::kUnitsPerPoll), part);
        },
        sums.data());
}

// Compensated running sums kept per death time as sum and carry, so that the difference of two
// of them is exact to the last bits of the smaller.
struct CumulativeSums {
    std::vector<double> sum, carry;
    double Between(int32_t from, int32_t to) const {
        return (sum[from] - sum[to]) + (carry[from] - carry[to]);
    }
};

}  // namespace

// With r the relative risks, S0 and S1 the risk set's sums of r and r x at a death time and d
// its tied deaths:
//   dL/dbeta = sum over units of (delta_i - r_i c_i) x_i,
//   -d2L/dbeta2 = sum over units of r_i c_i x_i x_i' - sum over death times of d S1 S1' / S0^2,
// where c_i, the sum of d / S0 over the death times unit i is at risk at, is a difference of
// two cumulative sums of the stratum. So the second derivatives are two weighted sums of
// products, one over the units and one over the death times, and the walk over the risk sets
// carries only S1.
void PartialDerivatives(const RiskSetPlan& plan, const WalkDesign& x, const RiskSets& risks,
                        Derivatives& d) {
    const int p = x.columns;
    const size_t n = x.units, times = plan.times.size();
    const int32_t none = static_cast<int32_t>(times);  // past the last time: c adds nothing
    const std::vector<double>& r = risks.r;
    const bool leftTruncated = !plan.byEntry.empty();
    std::vector<double> s1Columns(times * p), timeWeight(times);
    std::vector<double> w(n), v(n);  // per unit: r c and delta - r c
    std::vector<double> s1(p, 0.0);
    auto add = [&](const double* row, size_t k, double factor) {
        data::PollAt(static_cast<long>(k) + 1);
        for (int c = 0; c < p; ++c) s1[c] += factor * row[c * n + k];
    };
    CumulativeSums h;
    h.sum.assign(times + 1, 0.0);
    h.carry.assign(times + 1, 0.0);
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        std::fill(s1.begin(), s1.end(), 0.0);
        int32_t a = s.unitsBegin, b = s.unitsBegin, atRisk = 0;
        for (int32_t t = s.timesBegin; t < s.timesEnd; ++t) {
            for (; a < s.unitsEnd && plan.joinTime[a] == t; ++a, ++atRisk)
                add(x.centred.data(), a, r[a]);
            if (leftTruncated) {
                for (; b < s.unitsEnd && plan.entryAt[b] >= plan.times[t].time; ++b, --atRisk)
                    add(x.centredByEntry.data(), b, -r[plan.walkOfEntry[b]]);
                // An empty risk set starts again from an exact 0.
                if (atRisk == 0) std::fill(s1.begin(), s1.end(), 0.0);
            }
            for (int c = 0; c < p; ++c) s1Columns[c * times + t] = s1[c];
            const double sum = risks.sums[t];
            timeWeight[t] = plan.times[t].deaths / (sum * sum);
        }
        // h at time t: the sum of d / S0 over the stratum's times from t to its earliest.
        CompensatedSum running;
        h.sum[s.timesEnd] = h.carry[s.timesEnd] = 0;
        for (int32_t t = s.timesEnd - 1; t >= s.timesBegin; --t) {
            running.Add(plan.times[t].deaths / risks.sums[t]);
            h.sum[t] = running.sum;
            h.carry[t] = running.carry;
        }
        for (int32_t k = s.unitsBegin; k < s.unitsEnd; ++k) {
            double c =
                plan.joinTime[k] == none ? 0.0 : h.Between(plan.joinTime[k], plan.leaveTime[k]);
            w[k] = r[k] * c;
            v[k] = plan.deathAt[k] - w[k];
        }
    }
    std::vector<double> unitSums, timeSums;
    WeightedProducts(x.centred.data(), n, p, w.data(), v.data(), unitSums);
    WeightedProducts(s1Columns.data(), times, p, timeWeight.data(), nullptr, timeSums);
    d.first.assign(unitSums.begin() + PackedPairs(p), unitSums.end());
    d.second.assign(static_cast<size_t>(p) * p, 0.0);
    for (int j = 0; j < p; ++j)
        for (int l = 0; l <= j; ++l) {
            size_t at = PackedPairs(j) + l;
            double value = timeSums[at] - unitSums[at];
            d.second[static_cast<size_t>(j) * p + l] = value;
            d.second[static_cast<size_t>(l) * p + j] = value;
        }
}

void PartialDerivatives(const Units& units, const RiskSetPlan& plan, const SparseDesign& x,
                        const std::vector<double>& eta, Derivatives& d) {
    RiskSets risks;
    EvaluateRiskSets(plan, InWalkOrder(plan, eta), risks);
    (void)units;
    PartialDerivatives(plan, OrderDesign(plan, x), risks, d);
}

void IntegratedIntensity(const Units& units, const RiskSetPlan& plan, const SparseDesign& x,
                         const std::vector<double>& eta, bool withH, Intensity& result) {
    int p = withH ? x.columns : 0;
    size_t n = eta.size(), times = plan.times.size();
    // Absolute relative risks: the intensity is not invariant to a shift of eta.
    std::vector<double> r(n);
    for (size_t i = 0; i < n; ++i) r[i] = std::exp(eta[i]);
    std::vector<double> step(times), varianceStep(times), hStep(times * p), s1(p);
    CompensatedSum s0;
    auto addRow = [&](int32_t i, double factor) {
        for (int32_t k = x.start[i]; k < x.start[i + 1]; ++k)
            s1[x.column[k]] += factor * x.value[k];
    };
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        s0.Reset();
        std::fill(s1.begin(), s1.end(), 0.0);
        WalkStratum(
            units, plan, s,
            [&](int32_t i) {
                s0.Add(r[i]);
                if (p > 0) addRow(i, r[i]);
            },
            [&](int32_t i) {
                s0.Add(-r[i]);
                if (p > 0) addRow(i, -r[i]);
            },
            [&] {
                s0.Reset();
                std::fill(s1.begin(), s1.end(), 0.0);
            },
            [&](int32_t t) {
                double deaths = plan.times[t].deaths, sum = s0.Value();
                step[t] = deaths / sum;
                varianceStep[t] = deaths / (sum * sum);
                for (int k = 0; k < p; ++k) hStep[t * p + k] = varianceStep[t] * s1[k];
            });
    }
    result.value.assign(n, 0.0);
    result.variance.assign(n, 0.0);
    result.h.assign(n * p, 0.0);
    std::vector<double> h(p);
    for (const RiskSetPlan::Stratum& s : plan.strata) {
        // Units and death times from the earliest on, the sums carried along.
        double value = 0, variance = 0;
        std::fill(h.begin(), h.end(), 0.0);
        int32_t t = s.timesEnd - 1;
        for (int32_t k = s.unitsEnd - 1; k >= s.unitsBegin; --k) {
            int32_t i = plan.byExit[k];
            for (; t >= s.timesBegin && plan.times[t].time <= units.exit[i]; --t) {
                value += step[t];
                variance += varianceStep[t];
                for (int j = 0; j < p; ++j) h[j] += hStep[t * p + j];
            }
            result.value[i] = value;
            result.variance[i] = variance;
            std::copy(h.begin(), h.end(), result.h.begin() + static_cast<ptrdiff_t>(i) * p);
        }
    }
}

}  // namespace cox

namespace {

using namespace cox;

// |eta| from here on ends the iterations: the fit is running away towards a model in which the
// covariates determine the order of the deaths.
constexpr double kEtaLimit = 90.0;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// "T*D-E/S = formula" split into its names; the separators mean D, E and S in this order. A
// separator with no name after it is an empty name (refused as an identifier), not a part left
// out.
struct Specification {
    std::string exit, death, entry, stratum, formula;
    bool hasDeath = false, hasEntry = false, hasStratum = false;
};

bool SplitSpecification(const std::string& text, Specification& spec) {
    if (Trim(text).empty()) {
        ReportError("Empty model specification");
        return false;
    }
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        ReportError("Missing = in model specification");
        return false;
    }
    std::string left = text.substr(0, eq);
    spec.formula = text.substr(eq + 1);
    auto cut = [&](char separator, std::string& item, bool& present) {
        size_t at = left.find(separator);
        if (at == std::string::npos) return;
        item = Trim(left.substr(at + 1));
        present = true;
        left.erase(at);
    };
    cut('/', spec.stratum, spec.hasStratum);
    cut('-', spec.entry, spec.hasEntry);
    cut('*', spec.death, spec.hasDeath);
    spec.exit = Trim(left);
    return true;
}

// Everything one fit keeps while FitUserDefined runs: its units, their sorted orders, the
// design (built at the first evaluation, once the engine has built the columns) and the
// derivatives of the last parameter vector asked for.
struct CoxFit {
    Units units;
    std::vector<int32_t> unitNumber;  // table unit of each fit unit
    int32_t length = 0;               // length of T
    RiskSetPlan plan;
    int parameters = 0;
    bool designBuilt = false;
    SparseDesign design;
    WalkDesign walk;
    std::vector<uint8_t> varies;  // per column: not one value throughout each stratum
    // The linear predictor and risk sets of the last parameter vector, shared by the
    // log-likelihood and the derivatives at it.
    std::vector<double> riskKey, eta;  // eta in walk order
    bool haveRisks = false;
    RiskSets risks;
    std::vector<double> derivativeKey;
    bool haveDerivatives = false;
    Derivatives derivatives;
    double lastLogLikelihood = 0;
    // Names as the heading shows them.
    std::string exitName, deathName, entryName, stratumName;
};

// The fit in progress, for the likelihood functions FitUserDefined calls.
CoxFit* gFit = nullptr;

bool CheckExit(Specification& spec, CoxFit& fit) {
    int t = data::LookUpVariate(spec.exit);
    if (t == 0) return false;
    const data::Vector& v = Entry(t);
    fit.exitName = v.name;
    fit.length = v.length;
    int32_t present = 0;
    for (int32_t u = 1; u <= v.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        if (v.variate[u] == data::MissingValue) {
            ReportError(v.name + " has a missing value");
            return false;
        }
        ++present;
        fit.unitNumber.push_back(u);
        fit.units.exit.push_back(v.variate[u]);
    }
    if (present > MaxCoxUnits) {
        ReportError(v.name + " is too long");
        return false;
    }
    if (present <= 1) {
        ReportError(v.name + " has <= 1 values present");
        return false;
    }
    return true;
}

bool CheckLength(int index, const CoxFit& fit) {
    if (Entry(index).length == fit.length) return true;
    ReportError(Entry(index).name + " is of incorrect length");
    return false;
}

bool CheckDeath(Specification& spec, CoxFit& fit) {
    fit.units.death.assign(fit.unitNumber.size(), 1);
    if (!spec.hasDeath) return true;
    int d = data::LookUp(spec.death);
    if (d == 0 || !CheckLength(d, fit)) return false;
    const data::Vector& v = Entry(d);
    if (v.kind != data::FactorKind || v.levels != 1) {
        ReportError(v.name + " must be a factor on 1 level");
        return false;
    }
    fit.deathName = v.name;
    for (size_t i = 0; i < fit.unitNumber.size(); ++i)
        fit.units.death[i] = v.factor[fit.unitNumber[i]] == 1;
    return true;
}

bool CheckEntry(Specification& spec, CoxFit& fit) {
    if (!spec.hasEntry) return true;
    int e = data::LookUpVariate(spec.entry);
    if (e == 0 || !CheckLength(e, fit)) return false;
    const data::Vector& v = Entry(e);
    fit.entryName = v.name;
    for (int32_t u : fit.unitNumber) {
        if (v.variate[u] == data::MissingValue) {
            ReportError(v.name + " has one or more missing values");
            return false;
        }
    }
    for (size_t i = 0; i < fit.unitNumber.size(); ++i) {
        double entry = v.variate[fit.unitNumber[i]];
        if (entry >= fit.units.exit[i]) {
            ReportError(fit.exitName + " <= " + v.name + " occurs");
            return false;
        }
        fit.units.entry.push_back(entry);
    }
    fit.units.leftTruncated = true;
    return true;
}

// Units without a level of S (level 0) form a stratum of their own.
bool CheckStratum(Specification& spec, CoxFit& fit) {
    fit.units.stratum.assign(fit.unitNumber.size(), 0);
    if (!spec.hasStratum) return true;
    int s = data::LookUpFactor(spec.stratum);
    if (s == 0 || !CheckLength(s, fit)) return false;
    const data::Vector& v = Entry(s);
    fit.stratumName = v.name;
    for (size_t i = 0; i < fit.unitNumber.size(); ++i)
        fit.units.stratum[i] = v.factor[fit.unitNumber[i]];
    return true;
}

bool CheckUnits(Specification& spec, CoxFit& fit) {
    if (!CheckExit(spec, fit) || !CheckDeath(spec, fit) || !CheckEntry(spec, fit) ||
        !CheckStratum(spec, fit))
        return false;
    if (std::find(fit.units.death.begin(), fit.units.death.end(), 1) == fit.units.death.end()) {
        ReportError("No deaths");
        return false;
    }
    return true;
}

void WriteHeading(const CoxFit& fit) {
    WriteLine("NewCox.FitCoxModel");
    WriteLine("COX'S PROPORTIONAL HAZARDS MODEL.");
    WriteLine(fit.deathName.empty()
                  ? "No right censoring."
                  : "Right censoring: " + fit.deathName + "=1 means exit due to death.");
    WriteLine(fit.entryName.empty()
                  ? "No left truncation."
                  : "Left truncation: " + fit.entryName + " are entrance (left truncation) times.");
    WriteLine(fit.stratumName.empty() ? "No stratification."
                                      : "Stratification: One underlying intensity for each " +
                                            fit.stratumName + " group.");
}

std::vector<std::string> SplitAt(const std::string& s, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// The number of design columns the formula will have: per term the product of the level
// counts of its distinct factors. The engine builds the columns itself; the likelihood needs
// their count to read them. -1 (with the parser's message) when the formula is malformed.
int CountColumns(const std::string& formula) {
    std::string expanded = formula;
    if (Trim(expanded).empty()) return 0;
    models::ParseFormula(expanded);
    if (!data::ErrorFree) return -1;
    long long count = 0;
    for (const std::string& term : SplitAt(expanded, '+')) {
        long long columns = 1;
        std::vector<int> factors;
        for (const std::string& name : SplitAt(term, '*')) {
            int index = name == "1" ? 0 : data::FindVector(name);
            if (index == 0 || Entry(index).kind != data::FactorKind) continue;
            if (std::find(factors.begin(), factors.end(), index) != factors.end()) continue;
            factors.push_back(index);
            columns *= Entry(index).levels;
        }
        count += columns;
        if (count > models::MaxColumns) return models::MaxColumns;
    }
    return static_cast<int>(count);
}

std::vector<double> CurrentBeta(int p) {
    std::vector<double> beta(p);
    for (int k = 0; k < p; ++k) beta[k] = models::CurrentEstimate(k + 1);
    return beta;
}

// Whether `key` is what CurrentBeta(p) would give now, compared in place: the engine asks for
// every second derivative in a call of its own, and a copy of all estimates for each of its
// p^2 calls would cost p^3.
bool AtCurrentBeta(const std::vector<double>& key, int p) {
    const std::vector<double>& now = models::detail::Fit().estimates;
    if (key.size() != static_cast<size_t>(p)) return false;
    for (size_t k = 0; k < key.size(); ++k)
        if (key[k] != (k < now.size() ? now[k] : 0.0)) return false;
    return true;
}

// The nonzero design values of the fit units, read once per fit.
// A column with one value throughout each stratum (the constant, a stratum's own factor) adds
// the same to every eta of a risk set and leaves the partial likelihood unchanged: its
// derivatives are exactly 0. Computed, they are rounding noise that the engine could take for
// information and estimate, so they are given as 0 and the column is aliased.
void BuildDesign(CoxFit& fit) {
    if (fit.designBuilt) return;
    SparseDesign& x = fit.design;
    const int p = fit.parameters;
    x.columns = p;
    constexpr int kStrata = 256;  // stratum levels 0..255
    std::vector<double> first(static_cast<size_t>(kStrata) * p);
    std::vector<uint8_t> seen(kStrata, 0);
    fit.varies.assign(p, 0);
    for (size_t i = 0; i < fit.unitNumber.size(); ++i) {
        int32_t u = fit.unitNumber[i];
        int stratum = fit.units.stratum[i];
        double* stratumFirst = first.data() + static_cast<size_t>(stratum) * p;
        for (int k = 1; k <= p; ++k) {
            double value = models::ColumnValue(u, k);
            if (!seen[stratum])
                stratumFirst[k - 1] = value;
            else if (value != stratumFirst[k - 1])
                fit.varies[k - 1] = 1;
            if (value == 0.0) continue;
            x.column.push_back(k - 1);
            x.value.push_back(value);
        }
        seen[stratum] = 1;
        x.start.push_back(static_cast<int32_t>(x.column.size()));
    }
    fit.walk = OrderDesign(fit.plan, x);
    fit.designBuilt = true;
}

const RiskSets& RisksAt(CoxFit& fit, std::vector<double>& beta) {
    if (!fit.haveRisks || beta != fit.riskKey) {
        fit.haveRisks = false;
        WalkPredictor(fit.walk, beta, fit.eta);
        EvaluateRiskSets(fit.plan, fit.eta, fit.risks);
        fit.riskKey = std::move(beta);
        fit.haveRisks = true;
    }
    return fit.risks;
}

double CoxLogLikelihood() {
    CoxFit& fit = *gFit;
    BuildDesign(fit);
    std::vector<double> beta = CurrentBeta(fit.parameters);
    const RiskSets& risks = RisksAt(fit, beta);
    bool outOfRange = std::any_of(fit.eta.begin(), fit.eta.end(),
                                  [](double e) { return std::fabs(e) >= kEtaLimit; });
    double value = PartialLogLikelihood(fit.plan, fit.eta, risks);
    if (outOfRange) {
        WriteLine("Iterations stopped, fitted values are out");
        WriteLine("of range - probably because deterministic");
        WriteLine("model fits.");
        WriteLine();
        models::StopIterations = true;
        // A risk set can vanish in the shifted risks of a stratum that has run away; the last
        // value that could be computed then stands.
        if (!std::isfinite(value)) return fit.lastLogLikelihood;
    }
    // A likelihood of 1 (every death alone in its risk set) is handed over as -0.0, so that
    // -2 log likelihood is written as 0.0000, not -0.0000.
    if (value == 0) value = -0.0;
    fit.lastLogLikelihood = value;
    return value;
}

const Derivatives& CoxDerivatives() {
    CoxFit& fit = *gFit;
    BuildDesign(fit);
    if (!fit.haveDerivatives || !AtCurrentBeta(fit.derivativeKey, fit.parameters)) {
        std::vector<double> beta = CurrentBeta(fit.parameters);
        fit.haveDerivatives = false;
        fit.derivativeKey = beta;
        PartialDerivatives(fit.plan, fit.walk, RisksAt(fit, beta), fit.derivatives);
        fit.haveDerivatives = true;
    }
    return fit.derivatives;
}

double CoxFirst(int i) {
    const Derivatives& d = CoxDerivatives();
    return gFit->varies[i - 1] ? d.first[i - 1] : 0.0;
}

double CoxSecond(int i, int j) {
    const Derivatives& d = CoxDerivatives();
    if (!gFit->varies[i - 1] || !gFit->varies[j - 1]) return 0.0;
    return d.second[static_cast<size_t>(i - 1) * gFit->parameters + (j - 1)];
}

// The result variates belong to the last fit: a variate of another length is the result of an
// earlier fit of other data and is replaced; a factor of that name is the user's own and is
// refused rather than lost.
bool CheckResultVariate(const std::string& name) {
    int index = data::FindVector(name);
    if (index == 0) return true;
    if (Entry(index).kind != data::VariateKind) {
        ReportError(name + " is not a variate");
        return false;
    }
    return true;
}

// A result as a variate holds it: beyond single precision (the intensity of a fit that ran
// away) it is missing rather than an infinity that later commands would take for data.
float StoredValue(double x) {
    return std::isfinite(x) && std::fabs(x) <= FLT_MAX ? static_cast<float>(x) : data::MissingValue;
}

void DeleteAll(const std::vector<std::string>& names) {
    bool ok = data::ErrorFree;
    std::string message = data::ErrorMessage;
    for (const std::string& name : names) data::Delete(name);
    data::ProcedureName = "FitCoxModel";
    data::ErrorFree = ok;
    data::ErrorMessage = message;
}

// Declares one working variate per parameter and the result variates that do not exist yet;
// on failure nothing of it is left.
bool DeclareVariates(const CoxFit& fit, int working, std::vector<std::string>& workingNames,
                     std::vector<std::string>& declared) {
    for (int k = 0; k < working; ++k) {
        std::string name = data::FreeTemporaryName();
        data::DeclareVariate(name, fit.length);
        data::ProcedureName = "FitCoxModel";
        if (!data::ErrorFree) {
            DeleteAll(workingNames);
            workingNames.clear();
            ReportError("Unexpected missing RAM for SYS variates - sorry for chaos");
            return false;
        }
        workingNames.push_back(name);
    }
    for (const char* name : {IntensityName, IntensitySDName}) {
        int index = data::FindVector(name);
        if (index != 0 && Entry(index).length == fit.length) continue;
        if (index != 0) DeleteAll({name});
        data::DeclareVariate(name, fit.length);
        data::ProcedureName = "FitCoxModel";
        if (!data::ErrorFree) {
            DeleteAll(workingNames);
            DeleteAll(declared);
            return false;
        }
        declared.push_back(name);
    }
    return true;
}

// The integrated intensity at each unit's exit time and its standard deviation: the variance
// is the sum of 1/R^2 plus h' V h, V the covariance matrix of the estimates. The working
// variates hold h, one per parameter, while the standard deviations are formed.
bool StoreIntegratedIntensity(const CoxFit& fit) {
    if (!CheckResultVariate(IntensityName) || !CheckResultVariate(IntensitySDName)) return false;
    int p = fit.parameters;
    bool withSD = p <= MaxIntensityParameters;
    if (!withSD) {
        WriteLine("More than 50 parameters:");
        WriteLine("Standard deviation of integrated intensity not computed.");
    }
    std::vector<double> beta(p);
    for (int k = 0; k < p; ++k) beta[k] = models::Parameter(k + 1);
    Intensity intensity;
    IntegratedIntensity(fit.units, fit.plan, fit.design, LinearPredictor(fit.design, beta), withSD,
                        intensity);
    std::vector<std::string> working, declared;
    if (!DeclareVariates(fit, withSD ? p : 0, working, declared)) return false;

    size_t n = fit.unitNumber.size();
    std::vector<float*> h;
    for (int k = 0; k < static_cast<int>(working.size()); ++k) {
        h.push_back(data::VariatePointer(working[k]));
        for (size_t i = 0; i < n; ++i)
            h[k][fit.unitNumber[i]] = StoredValue(intensity.h[i * p + k]);
    }
    std::vector<double> v(static_cast<size_t>(p) * p);
    if (withSD)
        for (int a = 0; a < p; ++a)
            for (int b = 0; b < p; ++b) v[a * p + b] = models::ParameterCov(a + 1, b + 1);
    data::ProcedureName = "FitCoxModel";
    float* value = data::VariatePointer(IntensityName);
    float* sd = data::VariatePointer(IntensitySDName);
    std::fill(value + 1, value + fit.length + 1, data::MissingValue);
    std::fill(sd + 1, sd + fit.length + 1, data::MissingValue);
    std::vector<double> hu(h.size());  // the unit's h, read once from the working variates
    for (size_t i = 0; i < n; ++i) {
        int32_t u = fit.unitNumber[i];
        value[u] = StoredValue(intensity.value[i]);
        bool known = withSD;
        for (int a = 0; a < static_cast<int>(h.size()); ++a) {
            hu[a] = h[a][u];
            known &= h[a][u] != data::MissingValue;
        }
        if (!known) continue;
        double variance = intensity.variance[i];
        for (int a = 0; a < p; ++a)
            for (int b = 0; b < p; ++b) variance += hu[a] * v[a * p + b] * hu[b];
        if (variance >= 0) sd[u] = StoredValue(std::sqrt(variance));
    }
    DeleteAll(working);
    WriteLine(std::string("Integrated intensity stored in ") + IntensityName +
              ", its standard deviation in " + IntensitySDName + ".");
    return true;
}

}  // namespace

bool FitCoxModel(const std::string& specification) {
    if (!data::Enter("FitCoxModel")) return false;
    Specification spec;
    if (!SplitSpecification(specification, spec)) return false;
    CoxFit fit;
    if (!CheckUnits(spec, fit)) return false;
    WriteHeading(fit);
    fit.parameters = CountColumns(spec.formula);
    if (!data::ErrorFree) return false;
    fit.plan = PlanRiskSets(fit.units);

    {
        // Put back also when the user stops the fit.
        struct Restore {
            bool hold = models::HoldMatrix;
            ~Restore() {
                models::HoldMatrix = hold;
                gFit = nullptr;
            }
        } restore;
        gFit = &fit;
        models::HoldMatrix = true;
        models::FitUserDefined(spec.formula, "", fit.length,
                               {CoxLogLikelihood, CoxFirst, CoxSecond});
    }
    if (!data::ErrorFree) return false;
    // Every user-defined fit has the same type, so the data it was fitted to tell TESTMODELCHANGE
    // whether two fits are comparable: another model's fit or other survival data are not.
    models::detail::Fit().current.response = "FitCoxModel " + fit.exitName + "*" + fit.deathName +
                                             "-" + fit.entryName + "/" + fit.stratumName;
    data::ProcedureName = "FitCoxModel";
    WriteLine();
    if (fit.parameters > 0) {
        models::ListParameters();
        if (!data::ErrorFree) return true;
        data::ProcedureName = "FitCoxModel";
        WriteLine();
    }
    BuildDesign(fit);
    StoreIntegratedIntensity(fit);
    return true;
}

}  // namespace korw::special
