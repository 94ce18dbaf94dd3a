// The elementary symmetric functions of the conditional logit and Rasch likelihoods and their
// derivatives.
//
// gamma_r of the numbers w_i = e^eta_i is the sum over all sets of r units of the products of
// their w. Adding a unit multiplies the generating polynomial sum_r gamma_r z^r by (1 + w z),
// a unit of t trials by (1 + w z)^t; every sum holds only positive terms, so the recursion is
// stable in long double. Before summing, eta is centred on its mean over the units: gamma_r
// of eta - c is e^(-r c) gamma_r of eta, and the centred numbers keep gamma_r inside the range
// of long double for every eta the fits allow.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "special/clogit.h"

namespace korw::special::detail {

namespace {

size_t Packed(int i, int j) {
    return static_cast<size_t>(i) * (i + 1) / 2 + j;
}

long double Mean(const std::vector<double>& values) {
    long double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0.0L : sum / static_cast<long double>(values.size());
}

// gamma := gamma * (1 + w z), orders 1 .. top.
void AddUnit(std::vector<long double>& gamma, int top, long double w) {
    for (int r = top; r >= 1; --r) gamma[r] += w * gamma[r - 1];
}

// The tables of one conditional logit group: gamma_r and its first and second derivatives
// with respect to the parameters, order after order.
struct GroupTables {
    int p = 0;
    size_t pairs = 0;
    std::vector<long double> gamma, first, second;
    std::vector<long double> binomial, scaledRow;  // AddTrials' scratch
    long double* First(int r) { return &first[static_cast<size_t>(r) * p]; }
    long double* Second(int r) { return &second[static_cast<size_t>(r) * pairs]; }
};

// Multiplies the tables by (1 + w z)^t for a unit of t trials with (centred) design row x:
// order r gains C(t, k) w^k times order r - k, for k = 1 .. t. Orders below `bottom` are not
// needed for gamma_s any more and are left as they are; the order-r derivatives take the
// derivative of w^k (k x w^k) into account:
//   d_r += a (d_q + k x g_q),  H_r += a H_q + a k x d_q' + (a (d_q + k x g_q)) (k x)',
// the last two terms written so that each element of H costs three products.
// A unit of one trial, the usual case: the same sums with C(1, 1) w^1 = w and k = 1 written out.
void AddTrial(GroupTables& g, const double* x, long double w, int bottom, int top,
              bool derivatives) {
    const int p = g.p;
    for (int r = top; r >= bottom; --r) {
        const int q = r - 1;
        const long double gq = g.gamma[q];
        g.gamma[r] += w * gq;
        if (!derivatives) continue;
        const long double* dq = g.First(q);
        const long double* hq = g.Second(q);
        long double* dr = g.First(r);
        long double* hr = g.Second(r);
        for (int i = 0; i < p; ++i) {
            const long double xi = x[i];
            const long double toD = w * (dq[i] + xi * gq), timesD = w * xi;
            dr[i] += toD;
            const long double* hqi = hq + Packed(i, 0);
            long double* hri = hr + Packed(i, 0);
            for (int j = 0; j <= i; ++j)
                hri[j] += w * hqi[j] + timesD * dq[j] + toD * static_cast<long double>(x[j]);
        }
    }
}

void AddTrials(GroupTables& g, const double* x, long double w, double trials, int bottom, int top,
               bool derivatives) {
    if (trials == 1) {
        AddTrial(g, x, w, bottom, top, derivatives);
        return;
    }
    const int kMax = static_cast<int>(std::min<double>(trials, top));
    std::vector<long double>& a = g.binomial;  // C(t, k) w^k
    a.resize(kMax + 1);
    a[0] = 1;
    for (int k = 1; k <= kMax; ++k)
        a[k] = a[k - 1] * w * static_cast<long double>(trials - k + 1) / k;
    const int p = g.p;
    std::vector<long double>& kx = g.scaledRow;
    kx.resize(p);
    for (int r = top; r >= bottom; --r) {
        for (int k = 1; k <= std::min(kMax, r); ++k) {
            const int q = r - k;
            const long double ak = a[k], gq = g.gamma[q];
            g.gamma[r] += ak * gq;
            if (!derivatives) continue;
            for (int i = 0; i < p; ++i) kx[i] = k * x[i];
            const long double* dq = g.First(q);
            const long double* hq = g.Second(q);
            long double* dr = g.First(r);
            long double* hr = g.Second(r);
            for (int i = 0; i < p; ++i) {
                const long double toD = ak * (dq[i] + kx[i] * gq), timesD = ak * kx[i];
                dr[i] += toD;
                const long double* hqi = hq + Packed(i, 0);
                long double* hri = hr + Packed(i, 0);
                for (int j = 0; j <= i; ++j) hri[j] += ak * hqi[j] + timesD * dq[j] + toD * kx[j];
            }
        }
    }
}

}  // namespace

std::vector<long double> ElementarySymmetric(const std::vector<double>& eta) {
    std::vector<long double> gamma(eta.size() + 1, 0.0L);
    gamma[0] = 1;
    for (size_t i = 0; i < eta.size(); ++i)
        AddUnit(gamma, static_cast<int>(i) + 1, std::exp(static_cast<long double>(eta[i])));
    return gamma;
}

long double GroupWeights(size_t n, const double* eta, const double* positives, long double* w) {
    long double centre = 0;
    for (size_t i = 0; i < n; ++i) centre += eta[i];
    if (n > 0) centre /= static_cast<long double>(n);
    long double linear = 0;
    for (size_t i = 0; i < n; ++i) {
        const long double etaCentred = eta[i] - centre;
        linear += positives[i] * etaCentred;
        w[i] = std::exp(etaCentred);
    }
    return linear;
}

// The design rows centred on their means: the likelihood does not change when the same vector
// is added to every row of a group, and the second derivatives, differences of products, lose
// fewer digits.
void CentreRows(size_t n, int p, double* x) {
    std::vector<double> mean(p, 0.0);
    for (size_t i = 0; i < n; ++i)
        for (int j = 0; j < p; ++j) mean[j] += x[i * p + j] / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i)
        for (int j = 0; j < p; ++j) x[i * p + j] -= mean[j];
}

long double GroupTerms(size_t n, int p, const double* trials, const double* positives,
                       const long double* w, long double linear, const double* x,
                       long double* gradient, long double* hessian) {
    const bool derivatives = gradient != nullptr && hessian != nullptr;
    if (!derivatives) p = 0;
    double s = 0, total = 0;
    for (size_t i = 0; i < n; ++i) {
        s += positives[i];
        total += trials[i];
    }
    const int orders = static_cast<int>(s);
    // Kept from group to group, so that a pass over many small groups allocates nothing.
    thread_local GroupTables g;
    g.p = p;
    g.pairs = Packed(p, 0);
    g.gamma.assign(orders + 1, 0.0L);
    g.gamma[0] = 1;
    if (derivatives) {
        g.first.assign(static_cast<size_t>(orders + 1) * p, 0.0L);
        g.second.assign(static_cast<size_t>(orders + 1) * g.pairs, 0.0L);
    }
    double processed = 0;
    for (size_t i = 0; i < n; ++i) {
        if (trials[i] < 1) continue;
        processed += trials[i];
        // Only orders r with (trials processed - r) <= (trials in group - s) reach gamma_s.
        const int top = static_cast<int>(std::min(processed, s));
        const int bottom = static_cast<int>(std::max(1.0, processed - (total - s)));
        AddTrials(g, derivatives ? x + i * p : nullptr, w[i], trials[i], bottom, top, derivatives);
    }
    const long double gammaS = g.gamma[orders];
    const long double value = linear - std::log(gammaS);
    if (!derivatives || !std::isfinite(value)) return value;
    const long double* d = g.First(orders);
    const long double* h = g.Second(orders);
    g.binomial.resize(p);
    long double* expected = g.binomial.data();
    for (int j = 0; j < p; ++j) expected[j] = d[j] / gammaS;
    for (int j = 0; j < p; ++j) {
        long double observed = 0;
        for (size_t i = 0; i < n; ++i) observed += positives[i] * x[i * p + j];
        gradient[j] += observed - expected[j];
        for (int l = 0; l <= j; ++l)
            hessian[Packed(j, l)] -= h[Packed(j, l)] / gammaS - expected[j] * expected[l];
    }
    return value;
}

long double GroupLogLikelihood(const Group& group, std::vector<long double>* gradient,
                               std::vector<long double>* hessian) {
    const size_t n = group.eta.size();
    const bool derivatives = gradient != nullptr && hessian != nullptr;
    std::vector<long double> w(n);
    const long double linear = GroupWeights(n, group.eta.data(), group.positives.data(), w.data());
    std::vector<double> x;
    if (derivatives) {
        x.assign(group.x.begin(), group.x.begin() + static_cast<std::ptrdiff_t>(n * group.p));
        CentreRows(n, group.p, x.data());
    }
    return GroupTerms(n, derivatives ? group.p : 0, group.trials.data(), group.positives.data(),
                      w.data(), linear, x.data(), derivatives ? gradient->data() : nullptr,
                      derivatives ? hessian->data() : nullptr);
}

namespace {

// The Rasch tables: the functions of the first m items (prefix), of the items from m on
// (suffix), and D_m(a) = sum_b c_(a+b+2) suffix_m(b), with c_r = N_r / gamma_r, from which the
// second derivatives follow without a table per pair of items.
struct RaschTables {
    int k = 0;
    std::vector<long double> w;  // e^(eta - centre) per item
    std::vector<std::vector<long double>> prefix, suffix, d;
    std::vector<long double> gamma, c;
};

// prefix[m] for items 1..m, suffix[m] for items m..k (m = 1 .. k + 1), items numbered from 1.
void FillPrefixSuffix(RaschTables& t) {
    const int k = t.k;
    t.prefix.assign(k + 1, std::vector<long double>(k + 1, 0.0L));
    t.prefix[0][0] = 1;
    for (int m = 1; m <= k; ++m) {
        t.prefix[m] = t.prefix[m - 1];
        AddUnit(t.prefix[m], m, t.w[m - 1]);
    }
    t.suffix.assign(k + 2, std::vector<long double>(k + 1, 0.0L));
    t.suffix[k + 1][0] = 1;
    for (int m = k; m >= 1; --m) {
        t.suffix[m] = t.suffix[m + 1];
        AddUnit(t.suffix[m], k - m + 1, t.w[m - 1]);
    }
    t.gamma = t.prefix[k];
}

// D_(k+1)(a) = c_(a+2); D_m(a) = D_(m+1)(a) + w_m D_(m+1)(a+1), as suffix_m = suffix_(m+1)
// (1 + w_m z).
void FillD(RaschTables& t) {
    const int k = t.k;
    auto cAt = [&](int r) { return r >= 1 && r <= k ? t.c[r] : 0.0L; };
    t.d.assign(k + 2, std::vector<long double>(k + 2, 0.0L));
    for (int a = 0; a <= k; ++a) t.d[k + 1][a] = cAt(a + 2);
    for (int m = k; m >= 1; --m)
        for (int a = 0; a <= k; ++a)
            t.d[m][a] = t.d[m + 1][a] + t.w[m - 1] * (a + 1 <= k ? t.d[m + 1][a + 1] : 0.0L);
}

// pi(i, r) = w_i gamma_(r-1) of the other items / gamma_r: the probability that item i is
// positive in score group r. Row i - 1 of the result, orders 1 .. k.
std::vector<long double> ItemProbabilities(const RaschTables& t) {
    const int k = t.k;
    std::vector<long double> pi(static_cast<size_t>(k) * (k + 1), 0.0L);
    for (int i = 1; i <= k; ++i) {
        const std::vector<long double>& before = t.prefix[i - 1];
        const std::vector<long double>& after = t.suffix[i + 1];
        for (int r = 1; r <= k; ++r) {
            long double others = 0;  // gamma_(r-1) without item i
            for (int a = 0; a <= std::min(r - 1, i - 1); ++a) {
                int b = r - 1 - a;
                if (b <= k - i) others += before[a] * after[b];
            }
            pi[static_cast<size_t>(i - 1) * (k + 1) + r] = t.w[i - 1] * others / t.gamma[r];
        }
    }
    return pi;
}

}  // namespace

long double RaschLogLikelihood(const std::vector<double>& eta, const std::vector<double>& totals,
                               const std::vector<double>& sizes, std::vector<long double>* gradient,
                               std::vector<long double>* hessian) {
    RaschTables t;
    t.k = static_cast<int>(eta.size());
    const int k = t.k;
    const long double centre = Mean(eta);
    t.w.resize(k);
    // sum_i T_i eta_i - sum_r N_r ln gamma_r with eta = centred eta + centre: the centre's
    // terms, centre (sum_i T_i - sum_r r N_r), vanish when the totals match the score groups.
    long double value = 0, centreFactor = 0;
    for (int i = 0; i < k; ++i) {
        t.w[i] = std::exp(static_cast<long double>(eta[i]) - centre);
        if (totals[i] < 0) continue;
        value += totals[i] * (eta[i] - centre);
        centreFactor += totals[i];
    }
    FillPrefixSuffix(t);
    t.c.assign(k + 1, 0.0L);
    for (int r = 1; r <= k && r <= static_cast<int>(sizes.size()); ++r) {
        const double n = sizes[r - 1];
        if (n == 0) continue;
        value -= n * std::log(t.gamma[r]);
        centreFactor -= n * r;
        t.c[r] = n / t.gamma[r];
    }
    value += centre * centreFactor;
    if (gradient == nullptr || hessian == nullptr || !std::isfinite(value)) return value;

    const std::vector<long double> pi = ItemProbabilities(t);
    auto piAt = [&](int i, int r) { return pi[static_cast<size_t>(i) * (k + 1) + r]; };
    auto sizeAt = [&](int r) {
        return r <= static_cast<int>(sizes.size()) ? static_cast<long double>(sizes[r - 1]) : 0.0L;
    };
    gradient->assign(k, 0.0L);
    hessian->assign(static_cast<size_t>(k) * k, 0.0L);
    for (int i = 0; i < k; ++i) {
        long double expected = 0, variance = 0;
        for (int r = 1; r <= k; ++r) {
            expected += sizeAt(r) * piAt(i, r);
            variance += sizeAt(r) * piAt(i, r) * (1 - piAt(i, r));
        }
        (*gradient)[i] = (totals[i] >= 0 ? totals[i] : 0.0) - expected;
        (*hessian)[static_cast<size_t>(i) * k + i] = -variance;
    }
    FillD(t);
    // For i < j: sum_r c_r w_i w_j gamma_(r-2) without items i and j, the functions of the
    // items other than i and j being prefix_(i-1), then items i+1 .. j-1, then suffix_(j+1).
    for (int i = 1; i <= k; ++i) {
        std::vector<long double> a = t.prefix[i - 1];
        int degree = i - 1;
        for (int j = i + 1; j <= k; ++j) {
            long double sum = 0;
            for (int r = 0; r <= degree; ++r) sum += a[r] * t.d[j + 1][r];
            long double covariance = 0;
            for (int r = 1; r <= k; ++r) covariance += sizeAt(r) * piAt(i - 1, r) * piAt(j - 1, r);
            const long double h = -(t.w[i - 1] * t.w[j - 1] * sum - covariance);
            (*hessian)[static_cast<size_t>(i - 1) * k + (j - 1)] = h;
            (*hessian)[static_cast<size_t>(j - 1) * k + (i - 1)] = h;
            ++degree;
            AddUnit(a, degree, t.w[j - 1]);
        }
    }
    return value;
}

}  // namespace korw::special::detail
