// NegBin: negative binomial log-linear fit on FitUserDefined, and its fitted values.
//
// The engine asks for the log-likelihood, each first derivative and each second derivative
// separately, all at the same estimates. One pass over the units computes all of them and
// serves the engine's calls until the estimates change.
#include "special/negbin.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::special {

using data::Entry;
using data::ReportError;

namespace detail {

namespace {

// Counts up to this are summed term by term; above, the sums are differences of log-gamma,
// digamma and trigamma, whose cost does not grow with the count.
constexpr int kExactSumLimit = 16;
// The asymptotic series below are accurate to about 1e-16 from this argument on; smaller
// arguments are first moved up by the recurrences Gamma(x + 1) = x Gamma(x) etc.
constexpr double kAsymptoticFrom = 10.0;

// Stirling's series of ln Gamma(x) without its leading terms (x >= kAsymptoticFrom): the
// Bernoulli-number terms 1/(12x) - 1/(360x^3) + ...
double LogGammaSeries(double x) {
    double r = 1 / x, r2 = r * r;
    return r * (1.0 / 12 +
                r2 * (-1.0 / 360 +
                      r2 * (1.0 / 1260 +
                            r2 * (-1.0 / 1680 + r2 * (1.0 / 1188 + r2 * (-691.0 / 360360))))));
}

// psi(x) - ln x for x >= kAsymptoticFrom: -1/(2x) - sum B_2n / (2n x^2n).
double DigammaSeries(double x) {
    double r = 1 / x, r2 = r * r;
    return -r / 2 -
           r2 * (1.0 / 12 +
                 r2 * (-1.0 / 120 +
                       r2 * (1.0 / 252 +
                             r2 * (-1.0 / 240 + r2 * (1.0 / 132 + r2 * (-691.0 / 32760))))));
}

// psi'(x) for x >= kAsymptoticFrom: 1/x + 1/(2x^2) + sum B_2n / x^(2n+1).
double Trigamma(double x) {
    double r = 1 / x, r2 = r * r;
    return r + r2 / 2 +
           r * r2 *
               (1.0 / 6 +
                r2 * (-1.0 / 30 +
                      r2 * (1.0 / 42 + r2 * (-1.0 / 30 + r2 * (5.0 / 66 + r2 * (-691.0 / 2730))))));
}

CountSums ExactSums(int y, double k) {
    CountSums s;
    for (int j = 0; j < y; ++j) {
        double inverse = 1 / (j + k);
        s.logRatio += std::log1p((k - 1) / (j + 1));
        s.inverse += inverse;
        s.inverseSquare += inverse * inverse;
    }
    return s;
}

// ln Gamma(k + y) - ln Gamma(k), psi(k + y) - psi(k) and psi'(k) - psi'(k + y) for a large
// count y. k is first raised by m to at least kAsymptoticFrom; the m terms that this removes
// are added back. The differences are formed so that they keep their precision for very
// large k, where each gamma function alone would cancel against the other.
CountSums AsymptoticSums(int y, double k) {
    CountSums s;
    double shifted = k;
    for (; shifted < kAsymptoticFrom; shifted += 1) {
        double low = 1 / shifted, high = 1 / (shifted + y);
        s.logRatio -= std::log1p(y / shifted);
        s.inverse += low - high;
        s.inverseSquare += low * low - high * high;
    }
    double top = shifted + y;
    s.logRatio += (shifted - 0.5) * std::log1p(y / shifted) + y * std::log(top) - y +
                  LogGammaSeries(top) - LogGammaSeries(shifted);
    s.inverse += std::log1p(y / shifted) + DigammaSeries(top) - DigammaSeries(shifted);
    s.inverseSquare += Trigamma(shifted) - Trigamma(top);
    s.logRatio -= std::lgamma(y + 1.0);
    return s;
}

// Sums for every count that occurs, when all units share one shape.
std::vector<CountSums> SumsByCount(const NegBinData& data, double k) {
    std::vector<CountSums> sums(data.countOccurs.size());
    for (size_t c = 0; c < sums.size(); ++c)
        if (data.countOccurs[c]) sums[c] = SumsOverCount(static_cast<int>(c), k);
    return sums;
}

// The units at positions begin..begin + count of one block of a pass: their log-likelihood
// terms and the sums of alpha's derivatives added to sums[0..3), and when d is given the
// kernel's weights: the curvature of eta as d, the score of eta and q w (whose sum against x is
// minus the cross derivative of alpha) as the two score vectors. ln(1 + e^eta), q = e^eta /
// (1 + e^eta) and its slope all come from one exponential, t = e^-|eta|; the slope is formed
// from t so that it does not vanish where 1 - q rounds to 0 (eta beyond 37): a zero curvature
// would mark the parameter aliased.
template <bool weighted>
void NegBinBlock(const NegBinData& data, const CountSums* byCount, double alpha, size_t begin,
                 size_t count, const double* eta, double* d, double* s, double* sums) {
    const double* y = data.y.data() + begin;
    const double* weight = weighted ? data.weight.data() + begin : nullptr;
    double logLikelihood = sums[0], alphaFirst = sums[1], alphaSecond = sums[2];
    for (size_t i = 0; i < count; ++i) {
        double w = weighted ? weight[i] : 1.0, k = alpha * w, e = eta[i];
        CountSums c = weighted ? SumsOverCount(static_cast<int>(y[i]), k)
                               : byCount[static_cast<size_t>(y[i])];
        double t = std::exp(-std::fabs(e));
        double logOnePlus = std::max(e, 0.0) + std::log1p(t);
        logLikelihood += c.logRatio + e * y[i] - (k + y[i]) * logOnePlus;
        alphaFirst += (c.inverse - logOnePlus) * w;
        alphaSecond -= c.inverseSquare * w * w;
        if (d == nullptr) continue;
        double q = e >= 0 ? 1 / (1 + t) : t / (1 + t);
        d[i] = (k + y[i]) * (t / ((1 + t) * (1 + t)));
        s[i] = y[i] - (k + y[i]) * q;
        s[models::detail::kBlockUnits + i] = q * w;
    }
    sums[0] = logLikelihood;
    sums[1] = alphaFirst;
    sums[2] = alphaSecond;
}

}  // namespace

CountSums SumsOverCount(int y, double k) {
    if (y <= kExactSumLimit) return ExactSums(y, k);
    return AsymptoticSums(y, k);
}

void NoteCounts(NegBinData& data) {
    int top = 0;
    for (double y : data.y) top = std::max(top, static_cast<int>(y));
    data.countOccurs.assign(static_cast<size_t>(top) + 1, 0);
    for (double y : data.y) data.countOccurs[static_cast<size_t>(y)] = 1;
}

// One pass of the cross-product kernel: eta of each block of units, the block's terms (see
// NegBinBlock), and X'DX with the two score vectors, order columns + 2.
void Evaluate(const NegBinData& data, const std::vector<double>& parameters,
              NegBinDerivatives& result, bool logLikelihoodOnly) {
    using models::detail::Packed;
    int c = data.columns, p = c + 1;
    double alpha = parameters[p - 1];
    std::vector<CountSums> byCount;
    if (!data.weighted) byCount = SumsByCount(data, alpha);
    models::detail::UnitList units{data.everyUnit ? nullptr : &data.units, data.y.size()};
    std::vector<double> m;
    if (!logLikelihoodOnly) m.assign(Packed(c + 2, 0), 0.0);
    double sums[3];
    models::detail::PassAt(
        data.design, units, parameters, nullptr,
        [&](size_t begin, size_t count, const double* eta, double* d, double* s, double* out) {
            if (data.weighted)
                NegBinBlock<true>(data, nullptr, alpha, begin, count, eta, d, s, out);
            else
                NegBinBlock<false>(data, byCount.data(), alpha, begin, count, eta, d, s, out);
        },
        3, sums, 2, logLikelihoodOnly ? nullptr : &m);
    result.logLikelihood = sums[0];
    result.first.clear();
    result.second.clear();
    if (logLikelihoodOnly) return;
    result.first.assign(p, 0.0);
    result.second.assign(Packed(p, 0), 0.0);
    for (int a = 0; a < c; ++a) {
        for (int b = 0; b <= a; ++b) result.second[Packed(a, b)] = -m[Packed(a, b)];
        result.first[a] = m[Packed(c, a)];
        result.second[Packed(p - 1, a)] = -m[Packed(c + 1, a)];
    }
    result.first[p - 1] = sums[1];
    result.second[Packed(p - 1, p - 1)] = sums[2];
}

}  // namespace detail

namespace {

// Pivots of the formula parameters below this fraction of their diagonal belong to aliased
// columns and are passed over, as the engine does.
constexpr double kPivotTolerance = 1.0E-10;
// The information on alpha that is left once the formula parameters are accounted for (the
// Schur complement) counts as gone below this fraction of its diagonal.
constexpr double kAlphaInformationFloor = 1.0E-8;

// One iteration takes at most this fraction of alpha away, or adds at most this fraction of it
// (see BoundAlphaStep).
constexpr double kMaxAlphaFall = 0.5;
constexpr double kMaxAlphaRise = 1.0;

// Above this many times the mean count, alpha is no start for a fit (see FlatAlpha).
constexpr double kFlatAlphaRatio = 100.0;

// Whether a request for the log-likelihood computes the derivatives as well (see
// ValuesAtEstimates).
constexpr bool kSpeculativeDerivatives = true;

using detail::NegBinData;
using detail::NegBinDerivatives;
using models::detail::Fit;

// What FitNegBin leaves for SaveFittedNegBin.
struct LastFit {
    bool made = false;  // a negative binomial fit has been made in this run of the program
    std::vector<float> response;
    std::vector<float> weight;
    bool weighted = false;
    double alpha = 0;
    int32_t nUnits = 0;
    std::vector<double> estimates;  // tells whether the fit record still holds this fit
};
LastFit last;

// The fit in progress: its data, built on the engine's first call, and the derivatives at the
// estimates they were last computed for.
struct FitInProgress {
    std::vector<float> response;
    std::vector<float> weight;  // empty without weights
    int32_t nUnits = 0;
    double initialAlpha = 0;
    bool started = false;
    NegBinData data;
    bool cached = false;
    std::vector<double> cachedAt;
    NegBinDerivatives derivatives;
    bool bounded = false;  // BoundAlphaStep has been applied to the cached derivatives
};
FitInProgress current;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Counts of the included units: first that none is missing, then that all lie in range.
bool CheckResponse(const float* y, int32_t n) {
    bool restricted = data::RestrictionsPresent();
    const char* fault = nullptr;  // the first unit's that is not a count
    for (int32_t u = 1; u <= n; ++u) {
        if (restricted && !data::UnitIncluded(u)) continue;
        if (y[u] == data::MissingValue) {
            ReportError("The response variate must not have missing values");
            return false;
        }
        if (fault != nullptr) continue;
        if (y[u] < 0 || y[u] > MaxNegBinCount) fault = "Responses must be in the range 0..65535";
        // A fractional count has no negative binomial probability; summing up to its integer
        // part would fit a different response without a word.
        else if (y[u] != std::floor(y[u]))
            fault = "Responses must be whole numbers";
    }
    if (fault == nullptr) return true;
    ReportError(fault);
    return false;
}

bool CheckWeights(std::string& name, int32_t n) {
    int index = data::LookUpVariate(name);
    if (index == 0) return false;
    data::WriteLine("Weights " + name);
    if (Entry(index).length != n) {
        ReportError("Weight variate " + name + " of incorrect length");
        return false;
    }
    const float* w = Entry(index).variate.data();
    for (int32_t u = 1; u <= n; ++u) {
        // The missing value is below 0 and is refused here too.
        if (data::UnitIncluded(u) && w[u] <= 0) {
            ReportError("Weight <= 0 occurs");
            return false;
        }
    }
    current.weight = Entry(index).variate;
    return true;
}

// The included units and the design, from the fit record that the engine has just built (which
// has checked the formula's variates for missing values at every included unit); false with the
// message when a vector of the formula is gone.
bool BuildData() {
    NegBinData& d = current.data;
    d = NegBinData();
    d.columns = static_cast<int>(Fit().columns.size());
    d.weighted = !current.weight.empty();
    if (!models::detail::MakeDesign(Fit().terms, d.design)) return false;
    int32_t n = current.nUnits;
    d.everyUnit = !data::RestrictionsPresent() && n <= data::MaxLength();
    if (d.everyUnit) {
        d.y.assign(current.response.begin() + 1, current.response.begin() + 1 + n);
        if (d.weighted) d.weight.assign(current.weight.begin() + 1, current.weight.begin() + 1 + n);
    } else {
        d.units.reserve(n);
        d.y.reserve(n);
        for (int32_t u = 1; u <= n; ++u) {
            if (!data::UnitIncluded(u)) continue;
            d.units.push_back(u);
            d.y.push_back(current.response[u]);
            if (d.weighted) d.weight.push_back(current.weight[u]);
        }
    }
    detail::NoteCounts(d);
    return true;
}

// Counts without overdispersion take alpha towards infinity (the Poisson limit); once alpha
// exceeds the mean count (per unit of weight) kFlatAlphaRatio-fold, the extra variance
// mu^2 / alpha is below a hundredth of the Poisson variance mu and the likelihood is almost
// flat in alpha. A fit started there moves alpha by less than the convergence test can see and
// reports the Poisson fit as its maximum. This is that bound; 0 when there are no counts.
double FlatAlpha(const NegBinData& d) {
    double counts = 0, weights = 0;
    for (size_t i = 0; i < d.y.size(); ++i) {
        counts += d.y[i];
        weights += d.weighted ? d.weight[i] : 1.0;
    }
    return weights > 0 ? kFlatAlphaRatio * counts / weights : 0;
}

// The engine's first call: the data, and the starting alpha. The alpha of the last fit starts
// this one only below the flat bound (else 1 does). A start given above the bound begins at
// the bound instead: it is a start, not a value to keep, and from beyond the bound the fit
// would stop at once on the Poisson fit and report it as converged.
bool StartFit() {
    current.started = true;
    if (!BuildData()) return false;
    std::vector<double>& estimates = Fit().estimates;
    double& alpha = estimates.back();
    double flat = FlatAlpha(current.data);
    if (current.initialAlpha > 0)
        alpha = flat > 0 ? std::min(current.initialAlpha, flat) : current.initialAlpha;
    if (alpha <= 0) alpha = last.alpha > 0 && last.alpha <= flat ? last.alpha : 1.0;
    return true;
}

// The log-likelihood is far from quadratic in alpha, and far from the maximum its exact second
// derivatives need not even form a negative definite matrix. From a start far off (alpha of an
// earlier fit on other data, say) the plain Newton step can then take alpha below 0, which ends
// the fit, or the engine stops on an information matrix that is not positive semi-definite.
// So the information on alpha is raised where needed: the Newton step on alpha, with the
// formula parameters following it, is its score over the information left once the formula
// parameters are accounted for (the Schur complement, found by sweeping them out). Where that
// step would take more than kMaxAlphaFall of alpha away, or add more than kMaxAlphaRise of it,
// or where the complement has vanished, the alpha-alpha information is raised until the step
// keeps within those bounds. Near the maximum the score vanishes and the exact matrix stands.
void BoundAlphaStep(NegBinDerivatives& r, double alpha, int p) {
    int q = p + 1;  // the score as last column, as the engine sweeps it
    std::vector<double> m(models::detail::Packed(q, 0), 0.0);
    std::vector<double> diagonal(p);
    for (int i = 0; i < p; ++i) {
        for (int j = 0; j <= i; ++j)
            m[models::detail::Packed(i, j)] = -r.second[models::detail::Packed(i, j)];
        m[models::detail::Packed(p, i)] = r.first[i];
        diagonal[i] = m[models::detail::Packed(i, i)];
    }
    for (int k = 0; k < p - 1; ++k) {
        if (diagonal[k] > 0 && m[models::detail::Packed(k, k)] > kPivotTolerance * diagonal[k])
            models::detail::Sweep(m, q, k);
    }
    double complement = m[models::detail::Packed(p - 1, p - 1)];
    double score = m[models::detail::Packed(p, p - 1)];
    double bound = score < 0 ? kMaxAlphaFall : kMaxAlphaRise;
    double needed =
        std::max(kAlphaInformationFloor * diagonal[p - 1], std::fabs(score) / (bound * alpha));
    if (complement < needed) r.second[models::detail::Packed(p - 1, p - 1)] -= needed - complement;
}

// The values at the engine's current estimates; false when there are none (an error, or alpha
// not positive, both reported). A request for the log-likelihood alone computes the derivatives
// as well: it comes at the estimates of a new step, where the engine asks for the derivatives
// next unless it halves the step, and the kernel's part of the pass costs much less than a
// second pass for them would. After the last step the derivatives serve the covariance matrix.
bool ValuesAtEstimates(bool derivatives) {
    if (!current.started && !StartFit()) {
        data::ProcedureName = "FitNegBin";
        models::StopIterations = true;
        return false;
    }
    const std::vector<double>& estimates = Fit().estimates;
    if (current.cached && estimates == current.cachedAt &&
        (!derivatives || !current.derivatives.first.empty()))
        return true;
    if (estimates.back() <= 0) {
        data::ProcedureName = "FitNegBin";
        ReportError("Alpha becomes negative - iterations stopped");
        models::StopIterations = true;
        return false;
    }
    detail::Evaluate(current.data, estimates, current.derivatives,
                     !derivatives && !kSpeculativeDerivatives);
    current.bounded = false;
    current.cachedAt = estimates;
    current.cached = true;
    return true;
}

double LogLikelihood() {
    return ValuesAtEstimates(false) ? current.derivatives.logLikelihood : 0;
}

double First(int i) {
    return ValuesAtEstimates(true) ? current.derivatives.first[i - 1] : 0;
}

// The second derivatives are asked for only when the engine takes a step, not at the points
// of its step halving; the bound on the alpha step (a sweep of the whole matrix) is applied
// then.
double Second(int i, int j) {
    if (!ValuesAtEstimates(true)) return 0;
    if (!current.bounded) {
        BoundAlphaStep(current.derivatives, current.cachedAt.back(),
                       static_cast<int>(current.cachedAt.size()));
        current.bounded = true;
    }
    int a = std::max(i, j) - 1, b = std::min(i, j) - 1;
    return current.derivatives.second[models::detail::Packed(a, b)];
}

// The engine takes its standard deviations from the information of its last iteration, before
// the last step; when that step was not tiny they differ from those at the reported estimates
// in the fourth digit. The information is formed again at the final estimates and swept, and
// its inverse replaces the record's standard deviations and covariance matrix. A matrix that
// cannot be swept there (not positive definite) leaves the engine's figures.
void CovarianceAtEstimates() {
    models::detail::FitRecord& fit = Fit();
    int p = static_cast<int>(fit.estimates.size());
    if (fit.estimates.back() <= 0) return;
    // The last request of the engine was the log-likelihood at these estimates, as a rule.
    NegBinDerivatives r;
    if (current.cached && current.cachedAt == fit.estimates && !current.bounded &&
        !current.derivatives.first.empty()) {
        r = std::move(current.derivatives);
        current.cached = false;
    } else {
        detail::Evaluate(current.data, fit.estimates, r);
    }
    std::vector<double> m(models::detail::Packed(p + 1, 0), 0.0);
    for (int i = 0; i < p; ++i) {
        for (int j = 0; j <= i; ++j)
            m[models::detail::Packed(i, j)] = -r.second[models::detail::Packed(i, j)];
        m[models::detail::Packed(p, i)] = r.first[i];
    }
    for (int k = 0; k < p; ++k) {
        if (fit.aliased[k]) continue;
        if (!(m[models::detail::Packed(k, k)] > 0)) return;
        models::detail::Sweep(m, p + 1, k);
    }
    for (int k = 0; k < p; ++k) {
        double v = m[models::detail::Packed(k, k)];
        fit.sds[k] = !fit.aliased[k] && v < 0 ? std::sqrt(-v) : 0.0;
    }
    fit.matrix = std::move(m);
    fit.order = p + 1;
}

void KeepFit() {
    last.made = true;
    last.response = std::move(current.response);
    last.weighted = !current.weight.empty();
    last.weight = std::move(current.weight);
    last.alpha = Fit().estimates.back();
    last.nUnits = current.nUnits;
    last.estimates = Fit().estimates;
}

// The fit record holds the last negative binomial fit (no other fit was made since, and no
// vector of its formula was deleted).
bool RecordHoldsLastFit() {
    const models::detail::FitRecord& fit = Fit();
    return fit.fitType == "FitUserDefined" && fit.nUnits == last.nUnits &&
           fit.extraNames.size() == 1 && fit.estimates == last.estimates;
}

// Declares a missing output variate of the data length; an existing one must be a variate of
// that length.
bool PrepareOutput(std::string& name) {
    if (!data::CheckIdentifier(name)) return false;
    int index = data::FindVector(name);
    if (index == 0) {
        data::DeclareVariate(name, last.nUnits);
        data::ProcedureName = "SaveFittedNegBin";
        return data::ErrorFree;
    }
    if (Entry(index).kind != data::VariateKind || Entry(index).length != last.nUnits) {
        ReportError(name + " of incorrect length or type");
        return false;
    }
    return true;
}

// Fitted value, residual and normed residual at every unit; missing where the design, the
// response or the weight has no value there, or where a value leaves single precision.
struct Saved {
    std::vector<float> fitted, residual, normed;
};

float Single(double value) {
    return std::isfinite(value) && std::fabs(value) <= FLT_MAX ? static_cast<float>(value)
                                                               : data::MissingValue;
}

bool ComputeSaved(Saved& s) {
    const models::detail::FitRecord& fit = Fit();
    int32_t n = last.nUnits;
    s.fitted.assign(n + 1, data::MissingValue);
    s.residual.assign(n + 1, data::MissingValue);
    s.normed.assign(n + 1, data::MissingValue);
    std::vector<models::detail::TermValue> row;
    bool missing = false;
    for (int32_t u = 1; u <= n; ++u) {
        data::PollAt(u);  // nothing is stored yet
        if (!models::detail::DesignRow(u, row, missing)) return false;
        double w = last.weighted ? last.weight[u] : 1.0;
        if (missing || w == data::MissingValue || w <= 0) continue;
        double eta = 0;
        for (const models::detail::TermValue& x : row) eta += fit.estimates[x.column] * x.value;
        double k = last.alpha * w, mu = k * std::exp(eta);
        s.fitted[u] = Single(mu);
        float y = last.response[u];
        if (s.fitted[u] == data::MissingValue || y == data::MissingValue) continue;
        s.residual[u] = Single(y - mu);
        double variance = mu * (1 + mu / k);
        if (variance > 0) s.normed[u] = Single((y - mu) / std::sqrt(variance));
    }
    return true;
}

}  // namespace

void FitNegBin(const std::string& specification, double initialAlpha) {
    if (!data::Enter("FitNegBin")) return;
    if (Trim(specification).empty()) return ReportError("Empty model specification");
    data::WriteLine("LOG-LINEAR NEGATIVE BINOMIAL MODEL");
    size_t eq = specification.find('=');
    if (eq == std::string::npos) return ReportError("Missing = in model formula");
    std::string response = Trim(specification.substr(0, eq));
    int r = data::LookUpVariate(response);
    if (r == 0) return;
    current = FitInProgress();
    current.nUnits = Entry(r).length;
    if (!CheckResponse(Entry(r).variate.data(), current.nUnits)) return;
    current.response = Entry(r).variate;
    std::string formula = specification.substr(eq + 1);
    size_t slash = formula.rfind('/');
    if (slash != std::string::npos) {
        std::string weight = Trim(formula.substr(slash + 1));
        formula.erase(slash);
        if (!CheckWeights(weight, current.nUnits)) return;
    }
    current.initialAlpha = initialAlpha;
    models::UserLikelihood likelihood{LogLikelihood, First, Second};
    // The covariance matrix is kept, so that ESTIMATE and the covariance functions work after
    // this fit.
    bool hold = models::HoldMatrix;
    models::HoldMatrix = true;
    models::FitUserDefined(formula, "alpha", current.nUnits, likelihood);
    models::HoldMatrix = hold;
    if (data::ErrorFree) {
        // The engine knows no response; TESTMODELCHANGE must not compare fits of other data.
        Fit().current.response = Entry(r).name;
        CovarianceAtEstimates();
        KeepFit();
    }
    current = FitInProgress();
}

void SaveFittedNegBin(const std::string& fittedName, const std::string& residualName,
                      const std::string& normedResidualName) {
    if (!data::Enter("SaveFittedNegBin")) return;
    if (!last.made) return ReportError("No Negative Binomial model fitted");
    // Deleting a vector of the formula forgets the fit; its design is gone.
    if (Fit().fitType.empty()) return ReportError("A vector in the model formula has been deleted");
    if (!RecordHoldsLastFit()) return ReportError("No Negative Binomial model fitted");
    std::string names[] = {fittedName, residualName, normedResidualName};
    for (std::string& name : names)
        if (!name.empty() && !PrepareOutput(name)) return;
    // Every value is computed before any is stored: an output may overwrite a variate of
    // the formula.
    Saved saved;
    if (!ComputeSaved(saved)) return;
    const std::vector<float>* values[] = {&saved.fitted, &saved.residual, &saved.normed};
    for (int i = 0; i < 3; ++i) {
        if (names[i].empty()) continue;
        std::vector<float>& target = Entry(data::FindVector(names[i])).variate;
        std::copy(values[i]->begin() + 1, values[i]->end(), target.begin() + 1);
    }
}

}  // namespace korw::special
