// The likelihood of McCullagh's ordinal model and its derivatives, in one pass over the units.
//
// Per unit the work is proportional to the categories with observations: a unit whose response
// is a factor level needs F, f and f' at two boundaries only, whatever K is. The derivatives of
// l_i = sum_j c_ij ln P_ij, with P_ij = F(eta_i + alpha_j) - F(eta_i + alpha_(j-1)), follow
// from dP_ij/d eta_i = f_j - f_(j-1), dP_ij/d alpha_j = f_j and dP_ij/d alpha_(j-1) = -f_(j-1),
// where f_j is f at boundary j (and f', written g, likewise).
#include "special/mcunit_likelihood.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "models/fit_record.h"

namespace korw::special::mcunit {

namespace {

// The bisection of InverseDistribution searches this interval: every one of our distributions
// is within 1.0E-17 of 0 and 1 at its ends, beyond any proportion of a data set.
constexpr double kInverseLimit = 40.0;
// ... and stops when the interval is this narrow (well below what a starting value needs).
constexpr double kInverseTolerance = 1.0E-12;
constexpr int kInverseSteps = 200;

// F, f and f' at the boundaries b = 0..K of one unit. Boundary 0 lies at minus infinity and
// boundary K at plus infinity; boundary b in between at eta + alpha_b.
struct Boundaries {
    std::vector<double> F, f, g;
    explicit Boundaries(int K) : F(K + 1, 0.0), f(K + 1, 0.0), g(K + 1, 0.0) { F[K] = 1.0; }
};

// alpha_b for b = 1..K-1 at index b: the threshold parameters, then alpha_(K-1) = 0.
std::vector<double> Thresholds(const OrdinalData& d, const std::vector<double>& params) {
    int K = d.categories;
    std::vector<double> alpha(K, 0.0);
    for (int b = 1; b <= K - 2; ++b) alpha[b] = params[d.columns + b - 1];
    return alpha;
}

// What EvaluateBoundaries computes: F alone, or F, f and f'.
enum class Need { Distribution, Derivatives };

// Evaluates the boundaries that the categories with observations of a unit use (all of them
// when c is nullptr). Category j lies between boundaries j - 1 and j.
void EvaluateBoundaries(const Distribution& dist, const std::vector<double>& alpha, double eta,
                        const double* c, Need need, Boundaries& v) {
    int K = static_cast<int>(alpha.size());
    for (int b = 1; b < K; ++b) {
        if (c != nullptr && c[b - 1] == 0 && c[b] == 0) continue;
        double u = eta + alpha[b];
        v.F[b] = dist.F(u);
        if (need == Need::Derivatives) {
            v.f[b] = dist.f(u);
            v.g[b] = dist.fPrime(u);
        }
    }
}

// Second derivatives are summed into the lower triangle (row >= column) and mirrored at the end.
void MirrorLower(std::vector<double>& h, int p) {
    for (int r = 0; r < p; ++r)
        for (int c = r + 1; c < p; ++c) h[r * p + c] = h[c * p + r];
}

// What one unit adds to the score and the second derivatives.
struct UnitTerms {
    double eta1 = 0;  // dl_i / d eta_i
    double eta2 = 0;  // d2l_i / d eta_i^2
    int lowest = 0;   // range of the thresholds m with a cross term d2l_i / d eta_i d alpha_m
    int highest = -1;
};

// The threshold terms of one category j with observations: score, cross terms with eta and the
// tridiagonal second derivatives of the thresholds. `cross` is indexed by threshold m.
void AddCategory(const OrdinalData& d, const Boundaries& v, int j, double c, double P,
                 std::vector<double>& gradient, std::vector<double>& h, std::vector<double>& cross,
                 UnitTerms& t) {
    int K = d.categories, p = d.Parameters();
    double r = c / P;
    double dP = v.f[j] - v.f[j - 1];
    t.eta1 += r * dP;
    t.eta2 += r * (v.g[j] - v.g[j - 1]) - r * dP * dP / P;
    if (j <= K - 2) {  // alpha_j is a parameter: dP/d alpha_j = f_j
        int a = d.columns + j - 1;
        gradient[a] += r * v.f[j];
        cross[j] += r * v.g[j] - r * dP * v.f[j] / P;
        h[a * p + a] += r * v.g[j] - r * v.f[j] * v.f[j] / P;
        t.lowest = std::min(t.lowest, j);
        t.highest = std::max(t.highest, j);
    }
    if (j - 1 >= 1 && j - 1 <= K - 2) {  // alpha_(j-1) is a parameter: dP/d alpha_(j-1) = -f_(j-1)
        int a = d.columns + j - 2;
        gradient[a] -= r * v.f[j - 1];
        cross[j - 1] += -r * v.g[j - 1] + r * dP * v.f[j - 1] / P;
        h[a * p + a] += -r * v.g[j - 1] - r * v.f[j - 1] * v.f[j - 1] / P;
        if (j <= K - 2) h[(a + 1) * p + a] += r * v.f[j] * v.f[j - 1] / P;
        t.lowest = std::min(t.lowest, j - 1);
        t.highest = std::max(t.highest, j - 1);
    }
}

// Per-unit sums of the kernel's blocks that the kernel does not make: the score and the second
// derivatives of the thresholds (p and p x p, only the thresholds' entries used), and whether
// a category with observations had no probability. Each block sums its units in order; the
// blocks are added in unit order afterwards, so the sums do not depend on the threads.
struct BlockSums {
    std::vector<double> gradient, hessian;
    bool failed = false;
};

}  // namespace

void ComputeEta(const OrdinalData& d, const std::vector<double>& params, std::vector<double>& eta) {
    eta.assign(d.units.size(), 0.0);
    models::detail::UnitList units{&d.units, d.units.size()};
    models::detail::LinearPredictor(d.design, units, params, nullptr, eta);
}

double LogLikelihood(const OrdinalData& d, const Distribution& dist, const std::vector<double>& eta,
                     const std::vector<double>& params) {
    int K = d.categories;
    std::vector<double> alpha = Thresholds(d, params);
    double sums[2];  // the log-likelihood, the units with a category without probability
    models::detail::SumsInSlices(
        eta.size(), 2,
        [&](size_t begin, size_t end, double* out) {
            Boundaries v(K);
            double l = 0, lost = 0;
            for (size_t i = begin; i < end && lost == 0; ++i) {
                const double* c = &d.counts[i * K];
                EvaluateBoundaries(dist, alpha, eta[i], c, Need::Distribution, v);
                for (int j = 1; j <= K; ++j) {
                    if (c[j - 1] == 0) continue;
                    double P = v.F[j] - v.F[j - 1];
                    if (!(P > 0)) {
                        lost = 1;
                        break;
                    }
                    l += c[j - 1] * std::log(P);
                }
            }
            out[0] = l;
            out[1] = lost;
        },
        sums);
    if (sums[1] != 0) return -HUGE_VAL;
    return sums[0];
}

// The design's part comes from the cross-product kernel: X'DX with d^2 l_i / d eta_i^2 as D,
// the score of eta as the first score vector and d^2 l_i / d eta_i d alpha_m as score vector m.
// The thresholds' own sums are made block by block alongside.
bool Derivatives(const OrdinalData& d, const Distribution& dist, const std::vector<double>& eta,
                 const std::vector<double>& params, std::vector<double>& gradient,
                 std::vector<double>& hessian) {
    using models::detail::kBlockUnits;
    using models::detail::Packed;
    int K = d.categories, p = d.Parameters(), c = d.columns, thresholds = K - 2;
    std::vector<double> alpha = Thresholds(d, params);
    std::mutex lock;
    std::map<size_t, BlockSums> blocks;  // by the position of the block's first unit
    int scores = 1 + thresholds;
    std::vector<double> m(Packed(c + scores, 0), 0.0);
    models::detail::UnitList units{&d.units, d.units.size()};
    models::detail::AccumulateCrossProducts(
        d.design, units,
        [&](size_t begin, size_t count, double* w, double* s) {
            BlockSums sums;
            sums.gradient.assign(p, 0.0);
            sums.hessian.assign(static_cast<size_t>(p) * p, 0.0);
            std::vector<double> cross(K, 0.0);
            Boundaries v(K);
            for (size_t i = 0; i < count; ++i) {
                size_t unit = begin + i;
                const double* n = &d.counts[unit * K];
                UnitTerms t;
                t.lowest = K;
                if (!sums.failed) {
                    EvaluateBoundaries(dist, alpha, eta[unit], n, Need::Derivatives, v);
                    for (int j = 1; j <= K; ++j) {
                        if (n[j - 1] == 0) continue;
                        double P = v.F[j] - v.F[j - 1];
                        if (!(P > 0)) {
                            sums.failed = true;
                            break;
                        }
                        AddCategory(d, v, j, n[j - 1], P, sums.gradient, sums.hessian, cross, t);
                    }
                }
                w[i] = t.eta2;
                s[i] = t.eta1;
                for (int k = 1; k <= thresholds; ++k) {
                    s[k * kBlockUnits + i] = cross[k];
                    cross[k] = 0;
                }
            }
            std::lock_guard<std::mutex> hold(lock);
            blocks.emplace(begin, std::move(sums));
        },
        scores, m);
    gradient.assign(p, 0.0);
    hessian.assign(static_cast<size_t>(p) * p, 0.0);
    for (const auto& [begin, sums] : blocks) {
        if (sums.failed) {
            hessian.assign(static_cast<size_t>(p) * p, 0.0);
            gradient.assign(p, 0.0);
            return false;
        }
        for (int a = c; a < p; ++a) {
            gradient[a] += sums.gradient[a];
            for (int b = c; b <= a; ++b) hessian[a * p + b] += sums.hessian[a * p + b];
        }
    }
    for (int a = 0; a < c; ++a) {
        gradient[a] = m[Packed(c, a)];
        for (int b = 0; b <= a; ++b) hessian[a * p + b] = m[Packed(a, b)];
        for (int k = 1; k <= thresholds; ++k) hessian[(c + k - 1) * p + a] = m[Packed(c + k, a)];
    }
    MirrorLower(hessian, p);
    return true;
}

void FittedCounts(const OrdinalData& d, const Distribution& dist, const std::vector<double>& eta,
                  const std::vector<double>& params, std::vector<double>& fitted) {
    int K = d.categories;
    std::vector<double> alpha = Thresholds(d, params);
    Boundaries v(K);
    fitted.assign(d.counts.size(), 0.0);
    for (int i = 0; i < d.Units(); ++i) {
        EvaluateBoundaries(dist, alpha, eta[i], nullptr, Need::Distribution, v);
        for (int j = 1; j <= K; ++j)
            fitted[static_cast<size_t>(i) * K + j - 1] = d.totals[i] * (v.F[j] - v.F[j - 1]);
    }
}

double InverseDistribution(const Distribution& dist, double p) {
    double low = -kInverseLimit, high = kInverseLimit;
    for (int step = 0; step < kInverseSteps && high - low > kInverseTolerance; ++step) {
        double middle = (low + high) / 2;
        if (dist.F(middle) < p)
            low = middle;
        else
            high = middle;
    }
    return (low + high) / 2;
}

}  // namespace korw::special::mcunit
