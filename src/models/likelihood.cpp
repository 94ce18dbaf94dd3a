// Likelihood fits: the logit-linear and log-linear models on one Newton-Raphson engine, the
// user-defined likelihood engine, and the results they leave for the interpreter.
//
// Both engines keep the information matrix and the score in one packed symmetric matrix of
// order p + 1 (the score in the last row), sweep it on the parameters in order, and take the
// swept score column as the Newton step. A step that makes -2 log likelihood worse is halved
// until it does not.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "distr/lanes.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models {

using data::Entry;
using data::ReportError;
using data::WriteLine;
using namespace detail;

bool StopIterations = false;
bool HoldMatrix = false;

namespace {

constexpr int kMaxIterations = 100;
// Columns whose pivot falls below this fraction of their diagonal are aliased (first
// iterations only); below minus this fraction the matrix is not positive semi-definite.
constexpr double kAliasTolerance = 1.0E-10;
constexpr int kAliasIterations = 3;
// A step may make -2 log likelihood worse by this much before it is halved.
constexpr double kHalvingTolerance = 1.0E-5;
// Converged when -2 log likelihood decreases by less than this.
constexpr double kConvergence = 1.0E-7;
// e^eta is computed with eta clipped to this range.
constexpr double kEtaLimit = 100.0;
// A halved step this many times over no longer moves any estimate.
constexpr int kMaxHalvings = 1100;
// Tolerances of the response checks.
constexpr double kBinaryTolerance = 1.0E-7;

double ClippedExp(double eta) {
    return std::exp(std::clamp(eta, -kEtaLimit, kEtaLimit));
}

// The five model functions of the two likelihood fits, of the linear predictor eta and the
// response y.
struct ModelFunctions {
    double (*term)(double y, double eta);  // log-likelihood relative to the saturated model
    double (*first)(double y, double eta);
    double (*second)(double eta);
    LinkFunction mean;
    LinkFunction variance;
};

// ln(1 + e^eta) without overflow. The likelihood term needs it unclipped: with e^eta clipped,
// y eta - ln(1 + e^eta) would grow without bound for y = 1 beyond the clipping limit, and a
// completely separated fit would report a negative -2 log likelihood that keeps falling.
double LogOnePlusExp(double eta) {
    return std::max(eta, 0.0) + std::log1p(std::exp(-std::fabs(eta)));
}

double LogitTerm(double y, double eta) {
    double t = y * eta - LogOnePlusExp(eta);
    if (y > 0 && y < 1) t -= y * std::log(y) + (1 - y) * std::log1p(-y);
    return t;
}
double LogitFirst(double y, double eta) {
    double e = ClippedExp(eta);
    return y - e / (1 + e);
}
double LogitSecond(double eta) {
    double e = ClippedExp(eta);
    return -e / ((1 + e) * (1 + e));
}
double LogitMean(double eta) {
    double e = ClippedExp(eta);
    return e / (1 + e);
}
double LogitVariance(double eta) {
    return -LogitSecond(eta);
}

double LogTerm(double y, double eta) {
    double t = y * eta - ClippedExp(eta);
    if (y > 0) t -= y * std::log(y) - y;
    return t;
}
double LogFirst(double y, double eta) {
    return y - ClippedExp(eta);
}
double LogSecond(double eta) {
    return -ClippedExp(eta);
}
double LogMean(double eta) {
    return ClippedExp(eta);
}

constexpr ModelFunctions kLogit{LogitTerm, LogitFirst, LogitSecond, LogitMean, LogitVariance};
constexpr ModelFunctions kLog{LogTerm, LogFirst, LogSecond, LogMean, LogMean};

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

VectorCopy CopyOf(int index) {
    const data::Vector& v = Entry(index);
    return {v.name, index, v.kind, v.length};
}

// "response [- offset] = formula [/ totals]", split into its names.
struct Specification {
    std::string response, offset, formula, totals;
};

bool Split(const std::string& model, bool totalsAllowed, Specification& spec) {
    size_t eq = model.find('=');
    if (eq == std::string::npos) {
        ReportError("Missing = in model specification");
        return false;
    }
    if (!totalsAllowed && model.find('/') != std::string::npos) {
        ReportError("Weights not allowed");
        return false;
    }
    std::string left = model.substr(0, eq);
    size_t minus = left.find('-');
    spec.response = Trim(left.substr(0, minus));
    if (minus != std::string::npos) spec.offset = Trim(left.substr(minus + 1));
    spec.formula = model.substr(eq + 1);
    size_t slash = spec.formula.rfind('/');
    if (slash != std::string::npos) {
        spec.totals = Trim(spec.formula.substr(slash + 1));
        spec.formula.erase(slash);
    }
    return true;
}

bool TermsUse(int index) {
    for (const Term& term : Fit().terms) {
        for (int f : term.factors)
            if (f == index) return true;
        for (int x : term.variates)
            if (x == index) return true;
    }
    return false;
}

// What one Newton-Raphson iteration needs of the data, fixed for the whole fit.
struct GlmData {
    const ModelFunctions* functions = nullptr;
    const float* y = nullptr;
    const float* w = nullptr;       // binomial totals, or none
    const float* offset = nullptr;  // or none
    std::vector<int32_t> units;     // present units with a positive weight; empty when every
                                    // unit takes part
    size_t count = 0;               // the units taking part
    UnitList unitList;
    Design design;
    int32_t UnitAt(size_t i) const {
        return units.empty() ? static_cast<int32_t>(i + 1) : units[i];
    }
};

double WeightOf(const GlmData& g, int32_t u) {
    return g.w != nullptr ? g.w[u] : 1.0;
}

// Looks up and checks the response, the totals and the offset; fills the fit record's copies.
bool PrepareData(const Specification& spec, bool logit, GlmData& g) {
    FitRecord& fit = Fit();
    std::string name = spec.response;
    int r = data::LookUpVariate(name);
    if (r == 0) return false;
    fit.response = CopyOf(r);
    int32_t n = Entry(r).length;
    std::string formula = spec.formula;
    ParseFormula(formula);
    if (!data::ErrorFree) return false;
    BuildColumns(formula, n);
    if (!data::ErrorFree) return false;
    int wi = 0, oi = 0;
    if (!spec.totals.empty()) {
        std::string wname = spec.totals;
        wi = data::LookUpVariate(wname);
        if (wi == 0) return false;
    }
    if (!spec.offset.empty()) {
        std::string oname = spec.offset;
        oi = data::LookUpVariate(oname);
        if (oi == 0) return false;
    }
    if (TermsUse(r)) {
        ReportError("Dependent variable occurs in model formula");
        return false;
    }
    if (wi == r) {
        ReportError("Dependent variable occurs as weight in model formula");
        return false;
    }
    if (oi == r) {
        ReportError("Dependent variable occurs as offset in model formula");
        return false;
    }
    fit.weighted = wi != 0;
    fit.weight = fit.weighted ? CopyOf(wi) : VectorCopy();
    fit.hasOffset = oi != 0;
    fit.offset = fit.hasOffset ? CopyOf(oi) : VectorCopy();
    if (wi != 0 && Entry(wi).length != n) {
        ReportError("Weight variate " + Entry(wi).name + " of incorrect length");
        return false;
    }
    if (oi != 0 && Entry(oi).length != n) {
        ReportError("Offset variate " + Entry(oi).name + " of incorrect length");
        return false;
    }
    g.functions = logit ? &kLogit : &kLog;
    g.y = Entry(r).variate.data();
    g.w = wi != 0 ? Entry(wi).variate.data() : nullptr;
    g.offset = oi != 0 ? Entry(oi).variate.data() : nullptr;
    auto missingAt = [](int index, int32_t u) {
        ReportError("Variate " + Entry(index).name + " has a missing value at unit " +
                    std::to_string(u));
        return false;
    };
    int32_t present = 0;
    if (g.w == nullptr && n <= data::MaxLength() && !data::RestrictionsPresent()) {
        // Every unit takes part: the missing values are looked for run by run, and the units
        // need no list.
        present = n;
        int32_t yMissing = FirstMissingUnit(g.y, 1, n);
        int32_t offsetMissing = g.offset != nullptr ? FirstMissingUnit(g.offset, 1, n) : 0;
        if (yMissing != 0 && (offsetMissing == 0 || yMissing <= offsetMissing))
            return missingAt(r, yMissing);
        if (offsetMissing != 0) return missingAt(oi, offsetMissing);
        g.count = static_cast<size_t>(n);
    } else {
        for (int32_t u = 1; u <= n; ++u) {
            if (!data::UnitIncluded(u)) continue;
            ++present;
            if (g.w != nullptr) {
                if (g.w[u] == data::MissingValue) return missingAt(wi, u);
                if (g.w[u] < 0) {
                    ReportError(Entry(wi).name + " has a negative value at unit " +
                                std::to_string(u));
                    return false;
                }
                if (g.w[u] == 0) continue;
            }
            if (g.y[u] == data::MissingValue) return missingAt(r, u);
            if (g.offset != nullptr && g.offset[u] == data::MissingValue) return missingAt(oi, u);
            g.units.push_back(u);
        }
        g.count = g.units.size();
    }
    if (present == 0) {
        ReportError("no units present in " + fit.response.name);
        return false;
    }
    if (g.count == 0) {
        ReportError("no units with " + fit.weight.name + " >0 present in " + fit.response.name);
        return false;
    }
    if (logit) {
        // Runs of units are tested without branches; a run with a bad value is looked at closely.
        constexpr size_t kRun = 4096;
        auto bad = [&](int32_t u) {
            double y = g.y[u];
            if (g.w != nullptr) return y < -kBinaryTolerance || y > 1 + kBinaryTolerance;
            return std::fabs(y) > kBinaryTolerance && std::fabs(y - 1) > kBinaryTolerance;
        };
        for (size_t start = 0; start < g.count; start += kRun) {
            size_t end = std::min(g.count, start + kRun);
            int any = 0;
            for (size_t i = start; i < end; ++i) any |= static_cast<int>(bad(g.UnitAt(i)));
            if (any == 0) continue;
            for (size_t i = start; i < end; ++i) {
                int32_t u = g.UnitAt(i);
                if (!bad(u)) continue;
                ReportError((g.w != nullptr ? "Relative frequency " : "Binary response ") +
                            fit.response.name + " out of range at unit " + std::to_string(u));
                return false;
            }
        }
    }
    // The terms' variates were checked for missing values at every present unit as the formula
    // was built (BuildColumns), which covers the units with a positive total.
    return true;
}

void WriteHeader(const GlmData& g, bool logit) {
    const FitRecord& fit = Fit();
    if (!logit)
        WriteLine("Dependent variable " + fit.response.name + ".");
    else if (g.w == nullptr)
        WriteLine("Dependent binary variable " + fit.response.name + ".");
    else
        WriteLine("Dependent relative frequency " + fit.response.name + ", binomial totals " +
                  fit.weight.name + ".");
    if (fit.hasOffset) WriteLine("Offset variate " + fit.offset.name);
    WriteLine("Model terms");
    for (const Term& term : fit.terms) WriteLine("  " + term.name);
}

// What the logit terms of a block's units need of eta: ln(1 + t), the mean and its slope (the
// log-linear terms use the mean alone).
struct LogitBlock {
    double logOnePlus[kBlockUnits], mean[kBlockUnits], slope[kBlockUnits];
};

// The logit block's values four units at a time (the last lanes padded), built for AVX2 as well
// where the processor has it: the same operations either way, so the same values.
__attribute__((target_clones("avx2", "default"))) void LogitLanes(const double* eta, size_t count,
                                                                  LogitBlock& out) {
    using distr::Quad;
    using distr::Splat;
    // Four lane groups per round, so that their long chains of dependent operations overlap.
    constexpr size_t kRound = 4 * distr::Lanes;
    for (size_t i = 0; i < count; i += kRound) {
        double a[kRound], e[kRound];
        for (size_t j = 0; j < kRound; ++j) {
            e[j] = i + j < count ? eta[i + j] : 0.0;
            a[j] = -std::min(std::fabs(e[j]), kEtaLimit);
        }
        Quad t[4], inverse[4];
        for (int g = 0; g < 4; ++g) t[g] = distr::ExpLanes(distr::Load(a + g * distr::Lanes));
        for (int g = 0; g < 4; ++g) inverse[g] = Splat(1.0) / (Splat(1.0) + t[g]);
        for (int g = 0; g < 4; ++g) {
            size_t at = i + g * distr::Lanes;
            Quad low = t[g] * inverse[g];
            distr::Save(out.logOnePlus + at, distr::Log1pLanes(t[g]));
            distr::Save(out.mean + at,
                        distr::Load(e + g * distr::Lanes) >= Splat(0.0) ? inverse[g] : low);
            distr::Save(out.slope + at, low * inverse[g]);
        }
    }
}

// e^eta of a block's units (eta clipped at +-kEtaLimit) in lanes, as LogitLanes forms them.
__attribute__((target_clones("avx2", "default"))) void ExpOfBlock(const double* eta, size_t count,
                                                                  double* out) {
    constexpr size_t kRound = 4 * distr::Lanes;
    for (size_t i = 0; i < count; i += kRound) {
        double a[kRound];
        for (size_t j = 0; j < kRound; ++j)
            a[j] = i + j < count ? std::clamp(eta[i + j], -kEtaLimit, kEtaLimit) : 0.0;
        for (size_t g = 0; g < 4; ++g)
            distr::Save(out + i + g * distr::Lanes,
                        distr::ExpLanes(distr::Load(a + g * distr::Lanes)));
    }
}

// y ln y - y of the log-linear likelihood's saturated term for the small counts, which most
// responses are: looked up instead of a logarithm per unit and pass (the same values).
constexpr int kSaturatedTable = 1024;
struct SaturatedTerms {
    double value[kSaturatedTable];
    SaturatedTerms() {
        value[0] = 0;
        for (int y = 1; y < kSaturatedTable; ++y) value[y] = y * std::log(y) - y;
    }
};

double SaturatedLogTerm(double y) {
    static const SaturatedTerms table;
    if (y > 0 && y < kSaturatedTable && y == std::floor(y)) return table.value[static_cast<int>(y)];
    return y > 0 ? y * std::log(y) - y : 0.0;
}

// One block of a pass at the estimates: the block's log likelihood terms (relative to the
// saturated model) and, when d is given, the weights of the information matrix (minus the
// second derivative) and the factors of the score (the first derivative). The logit terms
// come from one exponential per unit, t = e^-|eta| (|eta| clipped at kEtaLimit): ln(1 + e^eta)
// = max(eta, 0) + ln(1 + t), the mean is 1 / (1 + t) or t / (1 + t), and its slope t / (1 + t)^2,
// formed in vector lanes rather than by library calls per unit.
template <bool logit>
void GlmBlock(const GlmData& g, size_t begin, size_t count, const double* eta, double* d, double* s,
              double* sums) {
    const int32_t* list = g.unitList.list != nullptr ? g.units.data() + begin : nullptr;
    LogitBlock lanes;
    if constexpr (logit)
        LogitLanes(eta, count, lanes);
    else
        ExpOfBlock(eta, count, lanes.mean);
    double part = sums[0];
    for (size_t i = 0; i < count; ++i) {
        int32_t u = list != nullptr ? list[i] : static_cast<int32_t>(begin + i + 1);
        double w = WeightOf(g, u), y = g.y[u], e = eta[i], term;
        if constexpr (logit) {
            term = y * e - (std::max(e, 0.0) + lanes.logOnePlus[i]);
            if (y > 0 && y < 1) term -= y * std::log(y) + (1 - y) * std::log1p(-y);
            if (d != nullptr) {
                d[i] = lanes.slope[i] * w;
                s[i] = (y - lanes.mean[i]) * w;
            }
        } else {
            double mu = lanes.mean[i];
            term = y * e - mu - SaturatedLogTerm(y);
            if (d != nullptr) {
                d[i] = mu * w;
                s[i] = (y - mu) * w;
            }
        }
        part += w * term;
    }
    sums[0] = part;
}

// -2 log likelihood at beta and, when m is given, the information matrix and the score there
// (order p + 1), from one pass over the units that builds each design row once.
double GlmPass(const GlmData& g, const std::vector<double>& beta, std::vector<double>* m) {
    if (m != nullptr) std::fill(m->begin(), m->end(), 0.0);
    bool logit = g.functions == &kLogit;
    double sum = 0;
    PassAt(
        g.design, g.unitList, beta, g.offset,
        [&](size_t begin, size_t count, const double* eta, double* d, double* s, double* sums) {
            if (logit)
                GlmBlock<true>(g, begin, count, eta, d, s, sums);
            else
                GlmBlock<false>(g, begin, count, eta, d, s, sums);
        },
        1, &sum, 1, m);
    double dev = -2 * sum;
    return std::isnan(dev) ? HUGE_VAL : dev;
}

// Sweeps the information matrix (order p + 1, score last) on every parameter that is not
// aliased, in order, counting them in `rank`. A diagonal that is not positive marks its
// parameter aliased; during the first iterations so does a pivot that has almost vanished.
// A pivot that is exactly 0 later on cannot be swept: its parameter is `skipped` in this
// iteration (no step) instead of dividing by zero.
bool SweepInformation(std::vector<double>& m, int p, std::vector<uint8_t>& aliased,
                      std::vector<uint8_t>& skipped, bool mayAlias, int& rank) {
    std::vector<double> d(p);
    skipped.assign(p, 0);
    for (int k = 0; k < p; ++k) {
        d[k] = At(m, k, k);
        if (d[k] <= 0) aliased[k] = 1;
    }
    rank = 0;
    for (int k = 0; k < p; ++k) {
        if (aliased[k]) continue;
        if (At(m, k, k) == 0) {
            skipped[k] = 1;
            continue;
        }
        Sweep(m, p + 1, k);
        ++rank;
        for (int j = k + 1; j < p; ++j) {
            if (aliased[j]) continue;
            double mj = At(m, j, j);
            if (mj < -kAliasTolerance * d[j]) {
                ReportError("Information matrix not positively semi-definite");
                return false;
            }
            if (mayAlias && mj < kAliasTolerance * d[j]) aliased[j] = 1;
        }
    }
    return true;
}

bool Any(const std::vector<uint8_t>& flags) {
    return std::find(flags.begin(), flags.end(), 1) != flags.end();
}

std::vector<double> StartingValues(int p) {
    const FitRecord& fit = Fit();
    std::vector<double> beta(p, 0.0);
    for (int k = 0; k < p && k + 1 < static_cast<int>(fit.initSet.size()); ++k)
        if (fit.initSet[k + 1]) beta[k] = fit.initValue[k + 1];
    return beta;
}

void ClearStartingValues() {
    FitRecord& fit = Fit();
    std::fill(fit.initSet.begin(), fit.initSet.end(), 0);
}

void WriteConvergence(int iterations, double lastChange) {
    if (iterations < kMaxIterations) {
        WriteLine("Convergence after " + std::to_string(iterations) + " iterations.");
    } else {
        WriteLine("Warning: No convergence after " + std::to_string(kMaxIterations) +
                  " iterations.");
        WriteLine("Last change of -2log(Likelihood) was " + data::Fixed(lastChange, 10, 8));
    }
}

// Standard deviations from the swept diagonal: the swept information matrix is minus the
// covariance matrix of the estimates.
void StoreDeviations(const std::vector<double>& m, int p) {
    FitRecord& fit = Fit();
    fit.sds.assign(p, 0.0);
    for (int k = 0; k < p; ++k) {
        double v = m[Packed(k, k)];
        if (!fit.aliased[k] && v < 0) fit.sds[k] = std::sqrt(-v);
    }
}

// Everything of a logit-linear or log-linear fit after the record was saved.
bool RunGlm(const std::string& model, bool logit) {
    FitRecord& fit = Fit();
    Specification spec;
    if (!Split(model, logit, spec)) return false;
    GlmData g;
    if (!PrepareData(spec, logit, g)) return false;
    // Every unit of the data taking part (no restriction, no zero total): the kernel reads the
    // vectors straight.
    bool everyUnit = static_cast<int32_t>(g.count) == fit.nUnits;
    g.unitList = {everyUnit ? nullptr : &g.units, g.count};
    if (!MakeDesign(fit.terms, g.design)) return false;
    int p = static_cast<int>(fit.columns.size());
    if (p + 1 > MaxColumns) {
        ReportError("Attempt to create a symmetric matrix more than 1000x1000");
        return false;
    }
    fit.fitType.clear();
    fit.extraNames.clear();
    WriteHeader(g, logit);

    // m holds the information at beta; each pass at new estimates also forms the information
    // there (in `next`), which the following iteration uses when the step is kept.
    std::vector<double> beta = StartingValues(p);
    std::vector<double> m(Packed(p + 1, 0)), next(m.size());
    double dev = GlmPass(g, beta, &m);
    double devNew = dev, change = 0;
    fit.aliased.assign(p, 0);
    int rank = 0, iteration = 0;
    std::vector<double> step(p), betaNew(p);
    std::vector<uint8_t> skipped;
    std::vector<double> score(p);
    while (iteration < kMaxIterations) {
        ++iteration;
        if (iteration > 1) m.swap(next);
        data::PollIteration(iteration, dev);
        for (int k = 0; k < p; ++k) score[k] = m[Packed(p, k)];
        if (!SweepInformation(m, p, fit.aliased, skipped, iteration <= kAliasIterations, rank))
            return false;
        // The decrease of -2 log likelihood the Newton step should bring, score'step: far below
        // the convergence limit, this step is taken to be the last, and its pass skips the
        // information, which is then formed afterwards should the fit go on after all.
        double predicted = 0;
        bool plainStep = !Any(skipped);
        for (int k = 0; k < p; ++k) {
            step[k] = fit.aliased[k] ? -beta[k] : skipped[k] ? 0.0 : m[Packed(p, k)];
            betaNew[k] = beta[k] + step[k];
            if (fit.aliased[k] && step[k] != 0) plainStep = false;
            if (!fit.aliased[k]) predicted += score[k] * step[k];
        }
        bool likelyLast = plainStep && predicted >= 0 && predicted < kConvergence / 100;
        devNew = GlmPass(g, betaNew, likelyLast ? nullptr : &next);
        bool haveNext = !likelyLast;
        // Halved steps are tried on -2 log likelihood alone.
        for (int h = 0; devNew > dev + kHalvingTolerance && h < kMaxHalvings; ++h) {
            for (int k = 0; k < p; ++k) {
                if (fit.aliased[k]) continue;
                step[k] /= 2;
                betaNew[k] = beta[k] + step[k];
            }
            devNew = GlmPass(g, betaNew, nullptr);
            haveNext = false;
        }
        change = dev - devNew;
        beta.swap(betaNew);
        dev = devNew;
        // An iteration that could not step on every parameter has not converged; when it
        // did not move at all, every further iteration would repeat it.
        bool degenerate = Any(skipped);
        if (degenerate && change == 0) {
            iteration = kMaxIterations;
            break;
        }
        if (!degenerate && change < kConvergence) break;
        if (!haveNext) GlmPass(g, beta, &next);
    }

    // Relative to the saturated model -2 log likelihood is not below 0; a value below is
    // rounding left over from a model that fits the data exactly.
    if (!(devNew > 0)) devNew = 0;
    int32_t n = static_cast<int32_t>(g.count);
    fit.estimates = beta;
    StoreDeviations(m, p);
    fit.rank = rank;
    fit.observations = n;
    fit.residualDF = n - rank;
    fit.residualSS = 0;
    fit.variance = -1.0;
    fit.deviance = devNew;
    fit.iterations = iteration;
    fit.numberOfParameters = p;
    fit.order = p + 1;
    fit.matrix = std::move(m);
    fit.mean = g.functions->mean;
    fit.varianceFunction = g.functions->variance;
    ClearStartingValues();

    WriteConvergence(iteration, change);
    WriteLine(std::to_string(n) + " observations, " + std::to_string(rank) +
              " parameters estimated.");
    WriteLine("-2log(Likelihood) = " + data::Fixed(devNew, 20, 4));
    if (n > rank && (!logit || g.w != nullptr)) {
        WriteLine("Likelihood ratio test against full model");
        double tail = static_cast<double>(distr::ChiSquareUpperTail(devNew, fit.residualDF));
        WriteLine("P[ ChiSquare(" + std::to_string(fit.residualDF) +
                  ") > -2log(Likelihood) ] = " + data::Fixed(tail, 0, 6));
    }
    return true;
}

void FitGlm(const char* procedure, const std::string& model, bool logit) {
    if (!data::Enter(procedure)) return;
    FitRecord saved = Fit();
    std::vector<Column> previousColumns = Fit().columns;
    if (!RunGlm(model, logit) || !data::ErrorFree) {
        Fit() = std::move(saved);
        return;
    }
    FitRecord& fit = Fit();
    fit.fitType = procedure;
    fit.previousColumns = std::move(previousColumns);
    fit.previous = fit.current;
    fit.current = {fit.fitType, fit.response.name, fit.observations, fit.rank, fit.residualDF,
                   0,           fit.deviance};
}

// Splits the extra parameter names at blanks and commas.
bool ExtraNames(const std::string& text, std::vector<std::string>& names) {
    std::string s = text;
    std::replace(s.begin(), s.end(), ',', ' ');
    std::istringstream in(s);
    for (std::string name; in >> name;) {
        name = data::UpperName(Trim(name));
        if (name.size() > 8) {
            ReportError("Parameter identifier " + name + "... too long");
            return false;
        }
        names.push_back(name);
    }
    return true;
}

bool RunUserDefined(const std::string& formula, const std::string& extraNames, int32_t nUnits,
                    const UserLikelihood& f) {
    FitRecord& fit = Fit();
    fit.matrix.clear();
    fit.weighted = fit.hasOffset = false;
    fit.weight = fit.offset = VectorCopy();
    fit.response = VectorCopy();
    std::string expanded = formula;
    if (!Trim(expanded).empty()) {
        ParseFormula(expanded);
        if (!data::ErrorFree) return false;
        BuildColumns(expanded, nUnits);
        if (!data::ErrorFree) return false;
    } else {
        fit.terms.clear();
        fit.columns.clear();
        fit.nUnits = nUnits;
    }
    int32_t present = 0;
    for (int32_t u = 1; u <= nUnits; ++u)
        if (data::UnitIncluded(u)) ++present;
    if (present == 0) {
        ReportError("No units present");
        return false;
    }
    std::vector<std::string> names;
    if (!ExtraNames(extraNames, names)) return false;
    int columns = static_cast<int>(fit.columns.size());
    int p = columns + static_cast<int>(names.size());
    if (p + 1 > MaxColumns) {
        ReportError("Attempt to create a symmetric matrix more than 1000x1000");
        return false;
    }
    fit.extraNames = names;
    fit.fitType.clear();
    fit.numberOfParameters = p;
    fit.aliased.assign(p, 0);
    fit.estimates = StartingValues(p);
    fit.sds.assign(p, 0.0);
    StopIterations = false;

    std::vector<double> m(Packed(p + 1, 0));
    double dev = -2 * f.logLikelihood();
    double devNew = dev, change = 0;
    int rank = 0, iteration = 0;
    std::vector<double> step(p);
    std::vector<uint8_t> skipped;
    if (!StopIterations) {
        while (iteration < kMaxIterations) {
            ++iteration;
            data::PollIteration(iteration, dev);
            std::fill(m.begin(), m.end(), 0.0);
            for (int i = 0; i < p; ++i) m[Packed(p, i)] = f.first(i + 1);
            for (int j = 0; j < p; ++j)
                for (int i = 0; i <= j; ++i) m[Packed(j, i)] = -f.second(i + 1, j + 1);
            if (!data::ErrorFree) return false;
            if (!SweepInformation(m, p, fit.aliased, skipped, iteration <= kAliasIterations, rank))
                return false;
            std::vector<double> before = fit.estimates;
            for (int k = 0; k < p; ++k) {
                step[k] = fit.aliased[k] || skipped[k] ? 0.0 : m[Packed(p, k)];
                fit.estimates[k] = fit.aliased[k] ? 0.0 : before[k] + step[k];
            }
            devNew = -2 * f.logLikelihood();
            if (std::isnan(devNew)) devNew = HUGE_VAL;
            bool halved = false;
            for (int h = 0; !StopIterations && devNew > dev + kHalvingTolerance && h < kMaxHalvings;
                 ++h) {
                halved = true;
                for (int k = 0; k < p; ++k) {
                    if (fit.aliased[k]) continue;
                    step[k] /= 2;
                    fit.estimates[k] = before[k] + step[k];
                }
                devNew = -2 * f.logLikelihood();
                if (std::isnan(devNew)) devNew = HUGE_VAL;
            }
            if (!data::ErrorFree) return false;
            change = dev - devNew;
            if (StopIterations) break;
            bool degenerate = Any(skipped);
            if (degenerate && change == 0) {
                iteration = kMaxIterations;
                break;
            }
            if (iteration == kMaxIterations || (!halved && !degenerate && change < kConvergence))
                break;
            dev = devNew;
        }
    }
    if (!data::ErrorFree) return false;

    StoreDeviations(m, p);
    fit.rank = rank;
    fit.observations = present;
    fit.residualDF = present - rank;
    fit.residualSS = 0;
    fit.variance = -1.0;
    fit.deviance = devNew;
    fit.iterations = iteration;
    fit.order = p + 1;
    fit.mean = nullptr;
    fit.varianceFunction = nullptr;
    if (HoldMatrix)
        fit.matrix = std::move(m);
    else
        fit.matrix.clear();
    ClearStartingValues();

    WriteConvergence(iteration, change);
    WriteLine(std::to_string(present) + " observations, " + std::to_string(rank) +
              " parameters estimated.");
    WriteLine("-2log(Likelihood) = " + data::Fixed(devNew, 20, 4));
    return true;
}

}  // namespace

void FitLogitLinear(const std::string& model) {
    FitGlm("FitLogitLinear", model, true);
}

void FitLogLinear(const std::string& model) {
    FitGlm("FitLogLinear", model, false);
}

void FitUserDefined(const std::string& formula, const std::string& extraNames, int32_t nUnits,
                    const UserLikelihood& likelihood) {
    if (!data::Enter("FitUserDefined")) return;
    FitRecord saved = Fit();
    std::vector<Column> previousColumns = Fit().columns;
    if (!RunUserDefined(formula, extraNames, nUnits, likelihood) || !data::ErrorFree) {
        Fit() = std::move(saved);
        return;
    }
    FitRecord& fit = Fit();
    fit.fitType = "FitUserDefined";
    fit.previousColumns = std::move(previousColumns);
    fit.previous = fit.current;
    fit.current = {fit.fitType, "", fit.observations, fit.rank, fit.residualDF, 0, fit.deviance};
}

double CurrentEstimate(int k) {
    const std::vector<double>& beta = Fit().estimates;
    return k >= 1 && k <= static_cast<int>(beta.size()) ? beta[k - 1] : 0.0;
}

int CurrentColumns() {
    return static_cast<int>(Fit().columns.size());
}

double Deviance() {
    if (!data::Enter("Deviance")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    return Fit().deviance;
}

int ResDF() {
    if (!data::Enter("ResDF")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    return Fit().residualDF;
}

void InitParameter(int k, double value) {
    if (!data::Enter("InitParameter")) return;
    FitRecord& fit = Fit();
    if (k < 1 || k >= static_cast<int>(fit.initSet.size())) {
        ReportError("Index out of range");
        return;
    }
    fit.initValue[k] = value;
    fit.initSet[k] = 1;
}

}  // namespace korw::models
