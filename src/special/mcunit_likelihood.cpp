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

#include "data/long_work.h"

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

// Spreads a unit's eta terms over its design entries: x dl/d eta into the score, x x' d2l/d eta2
// into the column block, x d2l/d eta d alpha_m into the rows of the thresholds.
void AddDesign(const OrdinalData& d, int i, const UnitTerms& t, std::vector<double>& cross,
               std::vector<double>& gradient, std::vector<double>& h) {
    int p = d.Parameters();
    const DesignEntry* row = d.design.data() + d.rowStart[i];
    int entries = d.rowStart[i + 1] - d.rowStart[i];
    for (int a = 0; a < entries; ++a) {
        gradient[row[a].column] += row[a].value * t.eta1;
        double xa = t.eta2 * row[a].value;
        double* line = &h[static_cast<size_t>(row[a].column) * p];
        for (int b = 0; b <= a; ++b) line[row[b].column] += xa * row[b].value;
    }
    for (int m = t.lowest; m <= t.highest; ++m) {
        double* line = &h[static_cast<size_t>(d.columns + m - 1) * p];
        for (int a = 0; a < entries; ++a) line[row[a].column] += cross[m] * row[a].value;
        cross[m] = 0;
    }
}

}  // namespace

void ComputeEta(const OrdinalData& d, const std::vector<double>& params, std::vector<double>& eta) {
    int n = d.Units();
    eta.assign(n, 0.0);
    for (int i = 0; i < n; ++i) {
        data::PollAt(i);
        double e = 0;
        for (int k = d.rowStart[i]; k < d.rowStart[i + 1]; ++k)
            e += params[d.design[k].column] * d.design[k].value;
        eta[i] = e;
    }
}

double LogLikelihood(const OrdinalData& d, const Distribution& dist, const std::vector<double>& eta,
                     const std::vector<double>& params) {
    int K = d.categories;
    std::vector<double> alpha = Thresholds(d, params);
    Boundaries v(K);
    double l = 0;
    for (int i = 0; i < d.Units(); ++i) {
        const double* c = &d.counts[static_cast<size_t>(i) * K];
        EvaluateBoundaries(dist, alpha, eta[i], c, Need::Distribution, v);
        for (int j = 1; j <= K; ++j) {
            if (c[j - 1] == 0) continue;
            double P = v.F[j] - v.F[j - 1];
            if (!(P > 0)) return -HUGE_VAL;
            l += c[j - 1] * std::log(P);
        }
    }
    return l;
}

bool Derivatives(const OrdinalData& d, const Distribution& dist, const std::vector<double>& eta,
                 const std::vector<double>& params, std::vector<double>& gradient,
                 std::vector<double>& hessian) {
    int K = d.categories, p = d.Parameters();
    gradient.assign(p, 0.0);
    hessian.assign(static_cast<size_t>(p) * p, 0.0);
    std::vector<double> alpha = Thresholds(d, params);
    std::vector<double> cross(K, 0.0);
    Boundaries v(K);
    for (int i = 0; i < d.Units(); ++i) {
        const double* c = &d.counts[static_cast<size_t>(i) * K];
        EvaluateBoundaries(dist, alpha, eta[i], c, Need::Derivatives, v);
        UnitTerms t;
        t.lowest = K;
        for (int j = 1; j <= K; ++j) {
            if (c[j - 1] == 0) continue;
            double P = v.F[j] - v.F[j - 1];
            if (!(P > 0)) {
                gradient.assign(p, 0.0);
                hessian.assign(static_cast<size_t>(p) * p, 0.0);
                return false;
            }
            AddCategory(d, v, j, c[j - 1], P, gradient, hessian, cross, t);
        }
        AddDesign(d, i, t, cross, gradient, hessian);
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
