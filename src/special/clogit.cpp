// Conditional logit and conditional Rasch fits: the specifications, their checks and headers,
// and the likelihoods handed to FitUserDefined.
//
// FitUserDefined asks for the log-likelihood, for each first derivative and for each second
// derivative in separate calls. One pass over the data computes all of them at the current
// estimates, and the calls are served from that pass until the estimates change; the
// log-likelihood alone (step halving) is a cheaper pass of its own.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"
#include "special/clogit.h"

namespace korw::special {

using data::Entry;
using data::ReportError;
using data::WriteLine;

namespace {

// Orders of the symmetric functions a group may need (its positive responses); a group with
// more stops the fit.
constexpr double kMaxPositives = 255;
// A linear predictor this large in size is taken as a sign that the estimates run off to the
// boundary (a group separated by a covariate, an item everybody or nobody solved).
constexpr double kClogitEtaLimit = 30;
constexpr double kRaschEtaLimit = 60;
constexpr int kMaxItems = 255;
// Binary responses and relative frequencies may miss 0, 1 and [0, 1] by this much, as in
// the other logit fits (values computed in single precision).
constexpr double kResponseTolerance = 1.0E-7;
// The item totals must match the score groups to this fraction of their sum: counts summed
// in double are exact, fractional single-precision data are not. Never by as much as half a
// count, so that totals one off are refused however many persons there are.
constexpr double kSumTolerance = 1.0E-6;
constexpr double kMaxSumDifference = 0.5;

// Groups between two looks at the stop flag: a few thousand units.
constexpr size_t kGroupsPerPoll = 1024;

constexpr const char* kOverflowMessage = "Numerical overflow - estimates on boundary ?";

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

size_t Packed(int i, int j) {
    return static_cast<size_t>(i) * (i + 1) / 2 + j;
}

// ---- The design and the cached likelihood shared by both models ----

// Nonzero design values of the units of a fit, read from the fit's columns at the first call
// of the likelihood (FitUserDefined builds the columns just before).
struct SparseDesign {
    int p = -1;  // columns; -1 until read
    std::vector<size_t> start;
    std::vector<int> column;
    std::vector<double> value;
    std::vector<uint8_t> varies;  // per column: not one value throughout each group
};

bool ReadDesign(const char* procedure, const std::vector<int32_t>& units, SparseDesign& x) {
    x.p = models::CurrentColumns();
    x.start.assign(1, 0);
    x.column.clear();
    x.value.clear();
    for (int32_t u : units) {
        for (int k = 1; k <= x.p; ++k) {
            double v = models::ColumnValue(u, k);
            if (!data::ErrorFree) return false;
            if (v == data::MissingValue) {  // CheckFormulaValues has named the variate before
                data::ProcedureName = procedure;
                ReportError("Missing value in the model formula at unit " + std::to_string(u));
                return false;
            }
            if (v == 0) continue;
            x.column.push_back(k - 1);
            x.value.push_back(v);
        }
        x.start.push_back(x.column.size());
    }
    return true;
}

void ComputeEta(const SparseDesign& x, const std::vector<double>& beta, std::vector<double>& eta) {
    eta.assign(x.start.size() - 1, 0.0);
    for (size_t i = 0; i + 1 < x.start.size(); ++i) {
        double e = 0;
        for (size_t a = x.start[i]; a < x.start[i + 1]; ++a) e += beta[x.column[a]] * x.value[a];
        eta[i] = e;
    }
}

// The dense design row of unit i, p values.
void DenseRow(const SparseDesign& x, size_t i, double* row) {
    std::fill(row, row + x.p, 0.0);
    for (size_t a = x.start[i]; a < x.start[i + 1]; ++a) row[x.column[a]] = x.value[a];
}

// A column with one value throughout each group (the constant) adds the same to every eta of
// a group and leaves a conditional likelihood unchanged: its derivatives are exactly 0.
// Computed, they are rounding noise that the engine could take for information and estimate,
// so they are given as 0 and the column is aliased. `groups` are ranges of fit units.
void FindVaryingColumns(SparseDesign& x, const std::vector<std::pair<size_t, size_t>>& groups) {
    x.varies.assign(x.p, 0);
    std::vector<double> first(x.p), row(x.p);
    for (const auto& [begin, end] : groups) {
        if (end - begin < 2) continue;
        DenseRow(x, begin, first.data());
        for (size_t i = begin + 1; i < end; ++i) {
            DenseRow(x, i, row.data());
            for (int k = 0; k < x.p; ++k)
                if (row[k] != first[k]) x.varies[k] = 1;
        }
    }
}

void ZeroInvariantColumns(const SparseDesign& x, std::vector<double>& gradient,
                          std::vector<double>& hessian) {
    for (int j = 0; j < x.p; ++j) {
        if (static_cast<size_t>(j) >= x.varies.size() || x.varies[j]) continue;
        gradient[j] = 0;
        for (int k = 0; k < x.p; ++k) hessian[Packed(std::max(j, k), std::min(j, k))] = 0;
    }
}

// One evaluation of a model's likelihood at the estimates `at`; the gradient and the packed
// Hessian only for a full pass.
struct Evaluation {
    bool valid = false;
    std::vector<double> at;
    double logLikelihood = 0;
    std::vector<double> gradient, hessian;
};

// A model's pass over its data at beta: the log-likelihood, and with `gradient` and `hessian`
// its derivatives. Reports its own stops and errors.
using Pass = double (*)(const std::vector<double>& beta, std::vector<double>* gradient,
                        std::vector<double>* hessian);

struct CachedLikelihood {
    Pass pass = nullptr;
    Evaluation value, full;
    double lastFinite = 0;  // returned when a pass overflows
};

CachedLikelihood& Cache() {
    static CachedLikelihood cache;
    return cache;
}

std::vector<double> Estimates() {
    std::vector<double> beta(models::CurrentColumns());
    for (size_t k = 0; k < beta.size(); ++k)
        beta[k] = models::CurrentEstimate(static_cast<int>(k) + 1);
    return beta;
}

// Whether `at` are the estimates Estimates() would give now, compared in place: the engine asks
// for every derivative in a call of its own, and a copy of all estimates for each of its p^2
// calls costs more than the pass itself in a fit of many parameters (the items of a Rasch fit).
bool AtCurrentEstimates(const std::vector<double>& at) {
    const std::vector<double>& now = models::detail::Fit().estimates;
    if (at.size() != static_cast<size_t>(models::CurrentColumns())) return false;
    for (size_t k = 0; k < at.size(); ++k)
        if (at[k] != (k < now.size() ? now[k] : 0.0)) return false;
    return true;
}

// A pass that overflowed has reported it and stopped the fit, which then stands with the last
// finite log-likelihood, never with an infinite one.
double Checked(double logLikelihood) {
    CachedLikelihood& cache = Cache();
    if (std::isfinite(logLikelihood)) {
        cache.lastFinite = logLikelihood;
        return logLikelihood;
    }
    return cache.lastFinite;
}

double LogLikelihood() {
    CachedLikelihood& cache = Cache();
    std::vector<double> beta = Estimates();
    if (cache.full.valid && cache.full.at == beta) return cache.full.logLikelihood;
    if (!cache.value.valid || cache.value.at != beta) {
        cache.value.logLikelihood = Checked(cache.pass(beta, nullptr, nullptr));
        cache.value.at = std::move(beta);
        cache.value.valid = true;
    }
    return cache.value.logLikelihood;
}

const Evaluation& FullEvaluation() {
    CachedLikelihood& cache = Cache();
    if (!cache.full.valid || !AtCurrentEstimates(cache.full.at)) {
        std::vector<double> beta = Estimates();
        const size_t p = beta.size();
        cache.full.gradient.assign(p, 0.0);
        cache.full.hessian.assign(Packed(static_cast<int>(p), 0), 0.0);
        cache.full.logLikelihood =
            Checked(cache.pass(beta, &cache.full.gradient, &cache.full.hessian));
        cache.full.at = std::move(beta);
        cache.full.valid = true;
    }
    return cache.full;
}

double FirstDerivative(int i) {
    const Evaluation& e = FullEvaluation();
    return i >= 1 && i <= static_cast<int>(e.gradient.size()) ? e.gradient[i - 1] : 0.0;
}

double SecondDerivative(int i, int j) {
    const Evaluation& e = FullEvaluation();
    const int p = static_cast<int>(e.gradient.size());
    if (i < 1 || j < 1 || i > p || j > p) return 0.0;
    return e.hessian[Packed(std::max(i, j) - 1, std::min(i, j) - 1)];
}

// Fits the formula over nUnits units with the model's pass, the cache emptied before and after;
// `leftSide` names the model and its data for TESTMODELCHANGE.
// The information matrix is kept after the fit, so that ESTIMATE can compare the parameters of
// a term (items, levels of a factor).
void RunFit(const std::string& formula, int32_t nUnits, Pass pass, const std::string& leftSide) {
    Cache() = CachedLikelihood();
    Cache().pass = pass;
    {
        // Put back also when the user stops the fit.
        struct Restore {
            bool hold = models::HoldMatrix;
            ~Restore() {
                models::HoldMatrix = hold;
                Cache() = CachedLikelihood();
            }
        } restore;
        models::HoldMatrix = true;
        models::FitUserDefined(formula, "", nUnits,
                               {LogLikelihood, FirstDerivative, SecondDerivative});
    }
    // Every user-defined fit has the same type, so the model and its left side tell
    // TESTMODELCHANGE whether two fits are comparable: another model's fit is not.
    if (data::ErrorFree) models::detail::Fit().current.response = leftSide;
}

// A likelihood without any informative data is 0; it is handed over as -0.0 so that -2 log
// likelihood is written as 0.0000, not -0.0000.
double AsResult(long double logLikelihood) {
    return logLikelihood == 0 ? -0.0 : static_cast<double>(logLikelihood);
}

// Writes a message that ends the iterations, once per pass.
void Stop(const char* message, bool emptyLine) {
    if (models::StopIterations) return;
    WriteLine(message);
    if (emptyLine) WriteLine();
    models::StopIterations = true;
}

// An error found inside a pass ends the fit; FitUserDefined restores the previous fit.
void StopWithError() {
    models::StopIterations = true;
}

// The first missing value of a variate of the formula at one of the units, reported as the
// other likelihood fits report it. Checked before the fit, whose columns no longer tell
// which variate they come from.
bool CheckFormulaValues(const std::string& formula, const std::vector<int32_t>& units) {
    std::string names = formula;
    for (char& c : names)
        if (c == '+' || c == '*' || c == '(' || c == ')') c = ' ';
    size_t at = 0;
    while ((at = names.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = names.find(' ', at);
        std::string name = data::UpperName(names.substr(at, end - at));
        at = end;
        int index = data::FindVector(name);
        if (index == 0 || Entry(index).kind != data::VariateKind) continue;
        const data::Vector& v = Entry(index);
        for (int32_t u : units) {
            if (u > v.length || v.variate[u] != data::MissingValue) continue;
            ReportError("Variate " + v.name + " has a missing value at unit " + std::to_string(u));
            return false;
        }
    }
    return true;
}

// "left = right / last": the names around the "=" and the last "/" of the right side.
struct Specification {
    std::string left, formula, last;
};

bool SplitSpecification(const std::string& text, Specification& spec) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        ReportError("Missing = in model specification");
        return false;
    }
    std::string right = text.substr(eq + 1);
    size_t slash = right.rfind('/');
    if (slash == std::string::npos) {
        ReportError("Missing / in model specification");
        return false;
    }
    spec.left = Trim(text.substr(0, eq));
    spec.formula = right.substr(0, slash);
    spec.last = Trim(right.substr(slash + 1));
    return true;
}

// ---- Conditional logit ----

// A run of units with equal grouping values: its fit units (positions in the unit list) and
// the sums of their trials and positive responses.
struct GroupRange {
    size_t begin = 0, end = 0;
    double trials = 0, positives = 0;
};

// Module state during a conditional logit fit.
struct ClogitData {
    std::vector<int32_t> units;  // included units with at least one trial, in unit order
    std::vector<double> trials, positives;
    std::vector<GroupRange> groups;
    SparseDesign design;
    std::vector<double> eta;
    // Kept for the whole fit: the design rows of the informative groups, dense (p values per
    // unit) and centred on each group's means.
    std::vector<double> centredX;
    // Kept from a pass to the next at the same estimates (the engine asks for the log-likelihood
    // at new estimates and then for the derivatives there): e^(eta - the group's mean eta) per
    // unit and the sum of positives times the centred eta per group.
    std::vector<double> weightsAt;
    bool haveWeights = false;
    std::vector<long double> w, linear;
};

ClogitData& Clogit() {
    static ClogitData state;
    return state;
}

// Groups with no positive response, no negative one or a single unit have a conditional
// likelihood of 1 whatever the parameters.
bool Informative(const GroupRange& g) {
    return g.positives >= 1 && g.positives < g.trials && g.end - g.begin >= 2;
}

bool EtaBeyond(const std::vector<double>& eta, size_t begin, size_t end, double limit) {
    for (size_t i = begin; i < end; ++i)
        if (std::fabs(eta[i]) >= limit) return true;
    return false;
}

// The dense design rows of the informative groups, centred per group, once per fit.
void CentreDesign(ClogitData& d) {
    const int p = d.design.p;
    d.centredX.assign(d.units.size() * p, 0.0);
    for (const GroupRange& range : d.groups) {
        if (!Informative(range)) continue;
        double* x = &d.centredX[range.begin * p];
        for (size_t i = range.begin; i < range.end; ++i) DenseRow(d.design, i, &d.centredX[i * p]);
        detail::CentreRows(range.end - range.begin, p, x);
    }
}

// The groups a pass sums: the informative ones, less those with too many positive responses,
// which stop the fit. Checked on the command's thread before the groups are shared out, so
// that the messages come once and in group order.
std::vector<int32_t> GroupsToSum(const ClogitData& d) {
    std::vector<int32_t> summed;
    for (size_t k = 0; k < d.groups.size(); ++k) {
        const GroupRange& range = d.groups[k];
        if (!Informative(range)) continue;
        if (range.positives > kMaxPositives) {
            Stop("Max number of positive responses in group exceeded.", false);
            continue;
        }
        if (EtaBeyond(d.eta, range.begin, range.end, kClogitEtaLimit)) Stop(kOverflowMessage, true);
        summed.push_back(static_cast<int32_t>(k));
    }
    return summed;
}

// The log-likelihood and, with `p` > 0, its derivatives summed over the groups, in the
// kernel's fixed slices of groups shared out over its threads: sums[0] the log-likelihood,
// then the gradient and the packed Hessian. Each slice sums in extended precision and hands
// over doubles, added slice after slice, so the sums do not depend on the number of threads.
// A stop leaves every slice at its next run of groups (LeaveSlice), and the command is
// interrupted once the threads are joined.
std::vector<double> SumGroups(ClogitData& d, const std::vector<int32_t>& summed, int p,
                              bool weightsKnown) {
    const bool derivatives = p > 0;
    const int count = 1 + (derivatives ? p + static_cast<int>(Packed(p, 0)) : 0);
    std::vector<double> sums(count, 0.0);
    models::detail::SumsInSlices(
        summed.size(), count,
        [&](size_t begin, size_t end, double* part) {
            std::vector<long double> g(p, 0.0L), h(Packed(p, 0), 0.0L);
            long double sum = 0;
            for (size_t k = begin; k < end; ++k) {
                if ((k - begin) % kGroupsPerPoll == 0 && models::detail::LeaveSlice()) break;
                const size_t group = summed[k];
                const GroupRange& range = d.groups[group];
                const size_t n = range.end - range.begin;
                long double* w = &d.w[range.begin];
                if (!weightsKnown)
                    d.linear[group] =
                        detail::GroupWeights(n, &d.eta[range.begin], &d.positives[range.begin], w);
                sum += detail::GroupTerms(
                    n, p, &d.trials[range.begin], &d.positives[range.begin], w, d.linear[group],
                    derivatives ? &d.centredX[range.begin * p] : nullptr,
                    derivatives ? g.data() : nullptr, derivatives ? h.data() : nullptr);
            }
            part[0] = static_cast<double>(sum);
            for (int j = 0; j < p; ++j) part[1 + j] = static_cast<double>(g[j]);
            for (size_t a = 0; a < h.size(); ++a) part[1 + p + a] = static_cast<double>(h[a]);
        },
        sums.data());
    return sums;
}

double ClogitPass(const std::vector<double>& beta, std::vector<double>* gradient,
                  std::vector<double>* hessian) {
    ClogitData& d = Clogit();
    if (d.design.p < 0) {
        if (!ReadDesign("FitConditionalLogitLinear", d.units, d.design)) {
            StopWithError();
            return 0;
        }
        std::vector<std::pair<size_t, size_t>> groups;
        for (const GroupRange& range : d.groups)
            if (Informative(range)) groups.emplace_back(range.begin, range.end);
        FindVaryingColumns(d.design, groups);
        CentreDesign(d);
        d.w.assign(d.units.size(), 0.0L);
        d.linear.assign(d.groups.size(), 0.0L);
    }
    const bool weightsKnown = d.haveWeights && d.weightsAt == beta;
    if (!weightsKnown) ComputeEta(d.design, beta, d.eta);
    const bool derivatives = gradient != nullptr;
    const int p = d.design.p;
    d.haveWeights = false;
    std::vector<double> sums = SumGroups(d, GroupsToSum(d), derivatives ? p : 0, weightsKnown);
    d.weightsAt = beta;
    d.haveWeights = true;
    if (!std::isfinite(sums[0])) {
        Stop(kOverflowMessage, true);
        return sums[0];
    }
    if (derivatives) {
        std::copy(sums.begin() + 1, sums.begin() + 1 + p, gradient->begin());
        std::copy(sums.begin() + 1 + p, sums.end(), hessian->begin());
        ZeroInvariantColumns(d.design, *gradient, *hessian);
    }
    return AsResult(sums[0]);
}

struct ClogitSpecification {
    std::string response, totals, formula, group;
    int y = 0, n = 0, g = 0;  // table indices; n = 0 without totals
};

bool ReadClogitSpecification(const std::string& text, ClogitSpecification& spec) {
    Specification parts;
    if (!SplitSpecification(text, parts)) return false;
    size_t slash = parts.left.find('/');
    spec.response = Trim(parts.left.substr(0, slash));
    if (slash != std::string::npos) spec.totals = Trim(parts.left.substr(slash + 1));
    spec.formula = parts.formula;
    spec.group = parts.last;
    spec.y = data::LookUpVariate(spec.response);
    if (spec.y == 0) return false;
    if (slash != std::string::npos) {
        spec.n = data::LookUpVariate(spec.totals);
        if (spec.n == 0) return false;
    }
    spec.g = data::LookUp(spec.group);
    return spec.g != 0;
}

void WriteClogitHeader(const ClogitSpecification& spec) {
    WriteLine("CONDITIONAL LOGISTIC REGRESSION");
    bool factor = Entry(spec.g).kind == data::FactorKind;
    WriteLine(std::string("Conditioning by sums in groups defined by ") +
              (factor ? "factor " : "variate ") + spec.group);
    if (spec.n == 0)
        WriteLine("Dependent binary variate " + spec.response + ".");
    else
        WriteLine("Dependent relative frequency " + spec.response + ", binomial totals " +
                  spec.totals + ".");
}

// The grouping value of a unit: a factor's level or a variate's value.
double GroupValue(const data::Vector& g, int32_t u) {
    return g.kind == data::FactorKind ? g.factor[u] : g.variate[u];
}

bool CheckLengthsAndOrder(const ClogitSpecification& spec) {
    const data::Vector& g = Entry(spec.g);
    for (int index : {spec.y, spec.n}) {
        if (index != 0 && Entry(index).length != g.length) {
            ReportError("Incorrect length of " + Entry(index).name);
            return false;
        }
    }
    for (int32_t u = 2; u <= g.length; ++u) {
        if (GroupValue(g, u) < GroupValue(g, u - 1)) {
            ReportError("Data must be sorted by " + g.name);
            return false;
        }
    }
    return true;
}

bool CheckResponses(const ClogitSpecification& spec) {
    const data::Vector& y = Entry(spec.y);
    for (int32_t u = 1; u <= y.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        double v = y.variate[u];
        if (spec.n == 0) {
            // The missing value lies within the tolerance of 0; it is no response, not a 0.
            if (v == data::MissingValue ||
                (std::fabs(v) > kResponseTolerance && std::fabs(v - 1) > kResponseTolerance)) {
                ReportError("Responses must be 0 or 1");
                return false;
            }
        } else if (v == data::MissingValue || v < -kResponseTolerance ||
                   v > 1 + kResponseTolerance) {
            ReportError("Responses must be RELATIVE frequencies");
            return false;
        }
    }
    if (spec.n == 0) return true;
    // Totals are counts: a missing or negative one would make the group's sums meaningless.
    const data::Vector& n = Entry(spec.n);
    for (int32_t u = 1; u <= n.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        if (n.variate[u] == data::MissingValue) {
            ReportError("Variate " + n.name + " has a missing value at unit " + std::to_string(u));
            return false;
        }
        if (n.variate[u] < 0) {
            ReportError(n.name + " has a negative value at unit " + std::to_string(u));
            return false;
        }
    }
    return true;
}

// A unit without a grouping value (a missing value, factor level 0) belongs to no matched
// set: it is left out rather than conditioned together with the other such units.
bool HasGroup(const data::Vector& g, int32_t u) {
    return g.kind == data::FactorKind ? g.factor[u] != 0 : g.variate[u] != data::MissingValue;
}

// The fit units and the groups: runs of equal grouping values over all units, each holding
// its included units with a group and at least one trial.
void BuildGroups(const ClogitSpecification& spec, ClogitData& d) {
    const data::Vector& g = Entry(spec.g);
    const data::Vector& y = Entry(spec.y);
    d = ClogitData();
    for (int32_t u = 1; u <= g.length; ++u) {
        if (u == 1 || GroupValue(g, u) != GroupValue(g, u - 1)) {
            if (!d.groups.empty()) d.groups.back().end = d.units.size();
            d.groups.push_back({d.units.size(), d.units.size(), 0, 0});
        }
        if (!data::UnitIncluded(u) || !HasGroup(g, u)) continue;
        double trials = 1, positives = std::round(y.variate[u]);
        if (spec.n != 0) {
            trials = std::round(Entry(spec.n).variate[u]);
            positives =
                std::clamp(std::round(static_cast<double>(y.variate[u]) * Entry(spec.n).variate[u]),
                           0.0, trials);
        }
        if (trials < 1) continue;
        d.units.push_back(u);
        d.trials.push_back(trials);
        d.positives.push_back(positives);
        d.groups.back().trials += trials;
        d.groups.back().positives += positives;
    }
    if (!d.groups.empty()) d.groups.back().end = d.units.size();
}

// The groups are part of the data: fits conditioned on other groups have likelihoods that are
// not nested, whatever their formulas. Two grouping vectors that form the same groups of the
// same units (a variate and a factor of the same values, or vectors that differ only at
// excluded units) give the same signature; a run of values without fit units adds nothing.
std::string GroupSignature(const ClogitData& d) {
    std::string units;
    for (const GroupRange& g : d.groups) {
        if (g.begin == g.end) continue;
        for (size_t i = g.begin; i < g.end; ++i) units += std::to_string(d.units[i]) + ",";
        units += ";";
    }
    return std::to_string(std::hash<std::string>{}(units));
}

// ---- Conditional Rasch model ----

// Module state during a Rasch fit: the present items, their totals and the score groups.
struct RaschData {
    std::vector<int32_t> items;
    std::vector<double> totals;  // per present item
    std::vector<double> sizes;   // N_r at index r - 1, r = 1 .. items present
    SparseDesign design;
    std::vector<double> eta;
};

RaschData& Rasch() {
    static RaschData state;
    return state;
}

// The derivatives with respect to the items' eta mapped onto the parameters: X' g and X' H X,
// from the nonzero design values (an item factor has one per item). Every sum adds its terms in
// item order, as the dense products would; the zeros they would add change no sum.
void MapToParameters(const RaschData& d, const std::vector<long double>& gEta,
                     const std::vector<long double>& hEta, std::vector<double>& gradient,
                     std::vector<double>& hessian) {
    const size_t k = d.items.size();
    const int p = d.design.p;
    const SparseDesign& x = d.design;
    std::vector<long double> hx(k * p, 0.0L);  // H X
    for (size_t i = 0; i < k; ++i)
        for (size_t m = 0; m < k; ++m) {
            const long double him = hEta[i * k + m];
            for (size_t a = x.start[m]; a < x.start[m + 1]; ++a)
                hx[i * p + x.column[a]] += him * x.value[a];
        }
    std::vector<long double> g(p, 0.0L), h(Packed(p, 0), 0.0L);
    for (size_t i = 0; i < k; ++i)
        for (size_t a = x.start[i]; a < x.start[i + 1]; ++a) {
            const int j = x.column[a];
            g[j] += x.value[a] * gEta[i];
            for (int l = 0; l <= j; ++l) h[Packed(j, l)] += x.value[a] * hx[i * p + l];
        }
    for (int j = 0; j < p; ++j) gradient[j] = static_cast<double>(g[j]);
    for (size_t a = 0; a < h.size(); ++a) hessian[a] = static_cast<double>(h[a]);
}

double RaschPass(const std::vector<double>& beta, std::vector<double>* gradient,
                 std::vector<double>* hessian) {
    RaschData& d = Rasch();
    if (d.design.p < 0) {
        if (!ReadDesign("FitConditionalRasch", d.items, d.design)) {
            StopWithError();
            return 0;
        }
        FindVaryingColumns(d.design, {{0, d.items.size()}});
    }
    ComputeEta(d.design, beta, d.eta);
    if (EtaBeyond(d.eta, 0, d.eta.size(), kRaschEtaLimit)) Stop(kOverflowMessage, false);
    std::vector<long double> gEta, hEta;
    const bool derivatives = gradient != nullptr;
    long double l = detail::RaschLogLikelihood(
        d.eta, d.totals, d.sizes, derivatives ? &gEta : nullptr, derivatives ? &hEta : nullptr);
    if (!std::isfinite(l)) {
        Stop(kOverflowMessage, false);
        return static_cast<double>(l);
    }
    if (derivatives) {
        MapToParameters(d, gEta, hEta, *gradient, *hessian);
        ZeroInvariantColumns(d.design, *gradient, *hessian);
    }
    return AsResult(l);
}

struct RaschSpecification {
    std::string totals, formula, sizes;
    int t = 0, n = 0;
};

bool ReadRaschSpecification(const std::string& text, RaschSpecification& spec) {
    Specification parts;
    if (!SplitSpecification(text, parts)) return false;
    spec.totals = parts.left;
    spec.formula = parts.formula;
    spec.sizes = parts.last;
    spec.t = data::LookUpVariate(spec.totals);
    if (spec.t == 0) return false;
    spec.n = data::LookUpVariate(spec.sizes);
    return spec.n != 0;
}

// The score groups of the present items; sizes beyond the number of present items must be 0
// (or missing), as no person can have a score above it.
bool ReadScoreGroups(const RaschSpecification& spec, RaschData& d) {
    const data::Vector& t = Entry(spec.t);
    const data::Vector& n = Entry(spec.n);
    d = RaschData();
    for (int32_t u = 1; u <= t.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        d.items.push_back(u);
        d.totals.push_back(t.variate[u]);
    }
    double sumTotals = 0, sumScores = 0;
    for (double total : d.totals)
        if (total >= 0) sumTotals += total;
    for (int32_t r = 1; r <= n.length; ++r) {
        float size = n.variate[r];
        if (size == data::MissingValue) size = 0;
        if (size < 0) {
            ReportError(n.name + " has a negative value at unit " + std::to_string(r));
            return false;
        }
        sumScores += static_cast<double>(r) * size;
        if (r <= static_cast<int32_t>(d.items.size())) d.sizes.push_back(size);
    }
    const double allowed = std::min(kSumTolerance * std::max(1.0, sumScores), kMaxSumDifference);
    if (std::fabs(sumTotals - sumScores) > allowed) {
        ReportError("Sum of item totals does not match score group sizes.");
        return false;
    }
    for (int32_t r = static_cast<int32_t>(d.items.size()) + 1; r <= n.length; ++r) {
        if (n.variate[r] > 0) {
            ReportError("Score " + std::to_string(r) + " exceeds the number of items present");
            return false;
        }
    }
    return true;
}

}  // namespace

void FitConditionalLogitLinear(const std::string& specification) {
    if (!data::Enter("FitConditionalLogitLinear")) return;
    ClogitSpecification spec;
    if (!ReadClogitSpecification(specification, spec)) return;
    WriteClogitHeader(spec);
    if (!CheckLengthsAndOrder(spec) || !CheckResponses(spec)) return;
    BuildGroups(spec, Clogit());
    if (!CheckFormulaValues(spec.formula, Clogit().units)) return;
    RunFit(spec.formula, Entry(spec.g).length, ClogitPass,
           "FitConditionalLogitLinear " + Entry(spec.y).name + "/" +
               (spec.n != 0 ? Entry(spec.n).name : "") + "/" + GroupSignature(Clogit()));
    Clogit() = ClogitData();
}

void FitConditionalRasch(const std::string& specification) {
    if (!data::Enter("FitConditionalRasch")) return;
    RaschSpecification spec;
    if (!ReadRaschSpecification(specification, spec)) return;
    WriteLine("CONDITIONAL RASCH MODEL");
    WriteLine("Sizes of score groups " + spec.sizes + ".");
    WriteLine("Item totals " + spec.totals + ".");
    const int32_t k = Entry(spec.t).length;
    if (Entry(spec.n).length != k) {
        ReportError("incompatible lengths of " + spec.totals + " and " + spec.sizes);
        return;
    }
    if (k > kMaxItems) {
        ReportError("Too many items");
        return;
    }
    if (!ReadScoreGroups(spec, Rasch())) return;
    if (!CheckFormulaValues(spec.formula, Rasch().items)) return;
    RunFit(spec.formula, k, RaschPass,
           "FitConditionalRasch " + Entry(spec.t).name + "/" + Entry(spec.n).name);
    Rasch() = RaschData();
}

}  // namespace korw::special
