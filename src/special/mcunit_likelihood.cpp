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

// Evaluates boundary b, 1 <= b < K, at eta + alpha_b.
void EvaluateBoundary(const Distribution& dist, const double* alpha, int b, double eta, Need need,
                      Boundaries& v) {
    double u = eta + alpha[b];
    if (need == Need::Distribution) {
        v.F[b] = dist.F(u);
    } else if (dist.values != nullptr) {
        dist.values(u, v.F[b], v.f[b], v.g[b]);
    } else {
        v.F[b] = dist.F(u);
        v.f[b] = dist.f(u);
        v.g[b] = dist.fPrime(u);
    }
}

// Evaluates the boundaries that the categories with observations of a unit use (all of them
// when c is nullptr). Category j lies between boundaries j - 1 and j.
void EvaluateBoundaries(const Distribution& dist, const double* alpha, int K, double eta,
                        const double* c, Need need, Boundaries& v) {
    for (int b = 1; b < K; ++b) {
        if (c != nullptr && c[b - 1] == 0 && c[b] == 0) continue;
        EvaluateBoundary(dist, alpha, b, eta, need, v);
    }
}

// Second derivatives are summed into the lower triangle (row >= column) and mirrored at the end.
void MirrorLower(std::vector<double>& h, int p) {
    for (int r = 0; r < p; ++r)
        for (int c = r + 1; c < p; ++c) h[r * p + c] = h[c * p + r];
}

// The sums of a pass that the kernel does not make, as the pass's running sums: the
// log-likelihood, whether a category with observations had no probability, and the thresholds'
// score and second derivatives (those are tridiagonal: the diagonal, and the entries between
// thresholds m and m + 1).
struct SumLayout {
    int thresholds;
    int Gradient(int m) const { return 2 + m; }
    int Diagonal(int m) const { return 2 + thresholds + m; }
    int Between(int m) const { return 2 + 2 * thresholds + m; }
    int Count() const { return 2 + 2 * thresholds + std::max(thresholds - 1, 0); }
};
constexpr int kLogLikelihood = 0;
constexpr int kLost = 1;

// What one unit adds for the kernel: dl_i / d eta_i, d2l_i / d eta_i^2 and, indexed by
// threshold m, the cross terms d2l_i / d eta_i d alpha_m.
struct UnitTerms {
    double eta1 = 0;
    double eta2 = 0;
    std::vector<double> cross;
    explicit UnitTerms(int K) : cross(K, 0.0) {}
};

// The threshold terms of one category j with observations: score, cross terms with eta and the
// tridiagonal second derivatives of the thresholds, added to the block's sums (laid out as
// `at`; threshold m of the formulas at index m - 1).
void AddCategory(int K, const Boundaries& v, int j, double c, double P, const SumLayout& at,
                 double* sums, UnitTerms& t) {
    double r = c / P;
    double dP = v.f[j] - v.f[j - 1];
    t.eta1 += r * dP;
    t.eta2 += r * (v.g[j] - v.g[j - 1]) - r * dP * dP / P;
    if (j <= K - 2) {  // alpha_j is a parameter: dP/d alpha_j = f_j
        sums[at.Gradient(j - 1)] += r * v.f[j];
        t.cross[j] += r * v.g[j] - r * dP * v.f[j] / P;
        sums[at.Diagonal(j - 1)] += r * v.g[j] - r * v.f[j] * v.f[j] / P;
    }
    if (j - 1 >= 1 && j - 1 <= K - 2) {  // alpha_(j-1) is a parameter: dP/d alpha_(j-1) = -f_(j-1)
        sums[at.Gradient(j - 2)] -= r * v.f[j - 1];
        t.cross[j - 1] += -r * v.g[j - 1] + r * dP * v.f[j - 1] / P;
        sums[at.Diagonal(j - 2)] += -r * v.g[j - 1] - r * v.f[j - 1] * v.f[j - 1] / P;
        if (j <= K - 2) sums[at.Between(j - 2)] += r * v.f[j] * v.f[j - 1] / P;
    }
}

// The units at positions begin..begin + count of one block of a pass. The log-likelihood runs
// on through the slice in unit order; the thresholds' sums are made for the block alone and
// then added, block after block. With w given, the kernel's weights as well: d2l_i / d eta_i^2
// as w, the score of eta as the first score vector and the cross terms of threshold m as score
// vector m. After a unit without probability nothing more is summed: the pass fails.
void OrdinalBlock(const OrdinalData& d, const Distribution& dist, const double* alpha, size_t begin,
                  size_t count, const double* eta, double* w, double* s, double* sums) {
    using models::detail::kBlockUnits;
    int K = d.categories, thresholds = K - 2;
    SumLayout at{thresholds};
    bool derivatives = w != nullptr;
    std::vector<double> block(at.Count(), 0.0);
    Boundaries v(K);
    UnitTerms t(K);
    double l = sums[kLogLikelihood];
    bool lost = sums[kLost] != 0;
    Need need = derivatives ? Need::Derivatives : Need::Distribution;
    // Category j's observations c: false when it has no probability.
    auto add = [&](int j, double c) {
        double P = v.F[j] - v.F[j - 1];
        if (!(P > 0)) return false;
        l += c * std::log(P);
        if (derivatives) AddCategory(K, v, j, c, P, at, block.data(), t);
        return true;
    };
    for (size_t i = 0; i < count; ++i) {
        t.eta1 = t.eta2 = 0;
        if (!lost && !d.level.empty()) {
            int j = d.level[begin + i];
            if (j > 1) EvaluateBoundary(dist, alpha, j - 1, eta[i], need, v);
            if (j < K) EvaluateBoundary(dist, alpha, j, eta[i], need, v);
            lost = !add(j, 1.0);
        } else if (!lost) {
            const double* c = &d.counts[(begin + i) * K];
            EvaluateBoundaries(dist, alpha, K, eta[i], c, need, v);
            for (int j = 1; j <= K && !lost; ++j)
                if (c[j - 1] != 0) lost = !add(j, c[j - 1]);
        }
        if (!derivatives) continue;
        w[i] = t.eta2;
        s[i] = t.eta1;
        for (int k = 1; k <= thresholds; ++k) {
            s[k * kBlockUnits + i] = t.cross[k];
            t.cross[k] = 0;
        }
    }
    sums[kLogLikelihood] = l;
    sums[kLost] = lost ? 1 : 0;
    for (int k = 2; k < at.Count(); ++k) sums[k] += block[k];
}

}  // namespace

// The units for the kernel: without a list when they are 1..n (positions are in unit order),
// so that the kernel reads the design's vectors straight.
models::detail::UnitList KernelUnits(const OrdinalData& d) {
    size_t n = d.units.size();
    bool everyUnit = n > 0 && d.units.back() == static_cast<int32_t>(n);
    return {everyUnit ? nullptr : &d.units, n};
}

// One pass of the cross-product kernel. The design's part of the derivatives comes from the
// kernel: X'DX with d2l_i / d eta_i^2 as D, the score of eta as the first score vector and
// d2l_i / d eta_i d alpha_m as score vector m; the thresholds' own sums from OrdinalBlock.
double Evaluate(const OrdinalData& d, const Distribution& dist, const std::vector<double>& params,
                std::vector<double>* gradient, std::vector<double>* hessian) {
    using models::detail::Packed;
    int p = d.Parameters(), c = d.columns, thresholds = d.categories - 2;
    bool derivatives = gradient != nullptr && hessian != nullptr;
    std::vector<double> alpha = Thresholds(d, params);
    SumLayout at{thresholds};
    std::vector<double> sums(at.Count());
    int scores = 1 + thresholds;
    std::vector<double> m;
    if (derivatives) m.assign(Packed(c + scores, 0), 0.0);
    models::detail::PassAt(
        d.design, KernelUnits(d), params, nullptr,
        [&](size_t begin, size_t count, const double* eta, double* w, double* s, double* out) {
            OrdinalBlock(d, dist, alpha.data(), begin, count, eta, w, s, out);
        },
        at.Count(), sums.data(), scores, derivatives ? &m : nullptr);
    if (!derivatives) return sums[kLost] != 0 ? -HUGE_VAL : sums[kLogLikelihood];
    gradient->assign(p, 0.0);
    hessian->assign(static_cast<size_t>(p) * p, 0.0);
    if (sums[kLost] != 0) return -HUGE_VAL;
    std::vector<double>& g = *gradient;
    std::vector<double>& h = *hessian;
    for (int k = 0; k < thresholds; ++k) {
        int a = c + k;
        g[a] = sums[at.Gradient(k)];
        h[a * p + a] = sums[at.Diagonal(k)];
        if (k + 1 < thresholds) h[(a + 1) * p + a] = sums[at.Between(k)];
    }
    for (int a = 0; a < c; ++a) {
        g[a] = m[Packed(c, a)];
        for (int b = 0; b <= a; ++b) h[a * p + b] = m[Packed(a, b)];
        for (int k = 1; k <= thresholds; ++k) h[(c + k - 1) * p + a] = m[Packed(c + k, a)];
    }
    MirrorLower(h, p);
    return sums[kLogLikelihood];
}

void FittedCounts(const OrdinalData& d, const Distribution& dist, const std::vector<double>& params,
                  std::vector<double>& fitted) {
    int K = d.categories;
    std::vector<double> alpha = Thresholds(d, params);
    fitted.assign(static_cast<size_t>(d.Units()) * K, 0.0);
    double unused = 0;  // the pass sums nothing
    models::detail::PassAt(
        d.design, KernelUnits(d), params, nullptr,
        [&](size_t begin, size_t count, const double* eta, double*, double*, double*) {
            Boundaries v(K);
            for (size_t i = 0; i < count; ++i) {
                EvaluateBoundaries(dist, alpha.data(), K, eta[i], nullptr, Need::Distribution, v);
                double* out = &fitted[(begin + i) * K];
                for (int j = 1; j <= K; ++j)
                    out[j - 1] = d.Total(begin + i) * (v.F[j] - v.F[j - 1]);
            }
        },
        1, &unused, 0, nullptr);
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
