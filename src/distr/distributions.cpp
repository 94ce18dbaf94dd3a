#include "distr/distributions.h"

#include <cmath>
#include <utility>

#include "data/vectors.h"

namespace korw::distr {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// ln Gamma(n/2) is summed exactly up to this doubled argument. Above it Stirling's series with
// two correction terms is used; its first omitted term, 1/(1260 x^5), is below 1e-15 there, and
// this is the accuracy limit of every tail whose degrees of freedom add up to more than 500.
constexpr int kExactLnGammaLimit = 500;

// A series whose first term has a smaller exponent is taken as 0: e^-1000 is far below any
// probability that is printed, and stays clear of the long double underflow near e^-11355.
constexpr long double kExponentFloor = -1000;

// The gamma tail sums the lower power series while t < a or t < 42 and the asymptotic series of
// the upper function beyond; the asymptotic series only converges fast once t is well past a.
constexpr long double kGammaSeriesSwitch = 42;
// The power series stops once the geometric bound of its remaining terms is below this.
constexpr long double kLowerSeriesLimit = 1.0E-20L;
// The asymptotic series stops once its next term (scaled by the same geometric bound) is below
// this; the limit is absolute, so tails below about 1e-20 keep only their leading terms.
constexpr long double kUpperSeriesLimit = 5.0E-21L;

// The incomplete beta function sums the power series in x while p + q < 41 and the series in
// x/(1 - x) beyond; the alternating power series loses digits to cancellation for larger
// parameters.
constexpr int kBetaSeriesSwitch = 41;
// The alternating power series stops at the first term below this (its error is smaller).
constexpr long double kBetaSeriesLimit = 1.0E-20L;
// The series in x/(1 - x) stops at the first term below this once the terms decrease.
constexpr long double kBetaRatioLimit = 1.0E-25L;
// A first term below this means x lies so far out that the result is 0 or 1 to all printed
// digits, and the series is not summed.
constexpr long double kNegligibleFirstTerm = 1.0E-35L;

// The normal quantile is missing for tails below this or above 1 minus this: Newton's method on
// the tail is started at 0 and only tails this far out are reached reliably.
constexpr long double kQuantileTailLimit = 1.0E-9L;
// Newton's method for the normal quantile stops when a step is below this.
constexpr long double kNormalQuantileStep = 1.0E-10L;
// Newton's method for the gamma quantile stops when a step is below this.
constexpr long double kGammaQuantileStep = 1.0E-7L;
// Near 0 the normal Newton step on the log scale divides by z, so below this it is linear.
constexpr long double kSmallZ = 0.01L;
// Below this the gamma Newton step on the log scale equals the linear step to rounding.
constexpr long double kSmallStep = 1.0E-5L;
// Above this many degrees of freedom the gamma quantile starts from the normal approximation
// of sqrt(2 chi2), which is close there; below it from the mean n/2.
constexpr int kGammaNormalStart = 100;

// From this t on (the normal tail beyond 3, below 1.4e-3) the tail of one degree of freedom is
// taken from the continued fraction of the normal tail: one minus the power series loses the
// tail's relative accuracy as the tail falls (1e-15 at x = 3.5, 1e-12 just below 5, and Q(9)
// would be 1e-18 instead of 1.1e-19), and the asymptotic series of one degree of freedom ends
// after its first term (Q(10) 1 percent too large). The fraction's first kNormalFractionTerms
// terms are exact to long double precision from x = 3.
constexpr long double kNormalFractionFrom = 4.5L;
constexpr int kNormalFractionTerms = 60;

// Guards against endless loops. Every series converges long before the first, even for
// arguments no caller passes (degrees of freedom in the millions). Newton's method on a gamma
// tail far below 1e-20 gains only a constant factor per step, because the asymptotic series
// keeps only its leading terms there: 100000 degrees of freedom need about 6500 steps for a
// tail of 1e-300. Near a tail of 1e-20 with a few hundred degrees of freedom or more it can
// cycle for ever between two points on either side of a jump of the computed tail (where the
// series gains or loses a term at its absolute limit); the second guard ends that cycle, at a
// point within 1 percent of the quantile.
constexpr int kMaxSeriesTerms = 10000000;
constexpr int kMaxNewtonSteps = 10000;

long double ExpOrZero(long double exponent) {
    return exponent <= kExponentFloor ? 0.0L : std::exp(exponent);
}

// The power series of the lower regularised gamma function P(a, t), a = n/2:
// e^-t t^a / Gamma(a+1) * sum_j t^j / ((a+1)...(a+j)); the result is 1 - P.
long double LowerGammaSeries(int n, long double t) {
    long double term = ExpOrZero((n / 2.0L) * std::log(t) - t - LnGammaHalf(n + 2));
    long double sum = 0;
    int k = 0;
    for (int i = 0; i < kMaxSeriesTerms && term != 0; ++i) {
        sum += term;
        term *= 2 * t / (n + k + 2);
        k += 2;
        if (term * (n + k) <= kLowerSeriesLimit * ((n + k) - 2 * t)) break;
    }
    return std::fabs(1 - sum);
}

// The asymptotic series of the upper function Gamma(a, t) / Gamma(a):
// e^-t t^(a-1) / Gamma(a) * (1 + (a-1)/t + (a-1)(a-2)/t^2 + ...). It is finite for even n; for
// odd n it stops at the last term whose factors are all positive (for the normal tail that is
// the first term, Q(x) ~ phi(x)/x, where x is past 9 and the tail below 1e-19).
long double UpperGammaSeries(int n, long double t) {
    long double term = ExpOrZero((n / 2.0L - 1) * std::log(t) - t - LnGammaHalf(n));
    long double sum = 0;
    int k = 0;
    for (int i = 0; i < kMaxSeriesTerms; ++i) {
        sum += term;
        k += 2;
        term = term * (n - k) / 2 / t;
        if (term * t <= kUpperSeriesLimit * (2 * t - n + k) || n - k <= 1) break;
    }
    return std::fabs(sum);
}

// P[chi2(1) > 2t] = 2 Q(x) with x = sqrt(2t), by Laplace's continued fraction
// Q(x) = phi(x) / (x + 1/(x + 2/(x + 3/(x + ...)))), evaluated from its tail. The leading factor
// 2 phi(x) / x is the first term of the asymptotic series, with the same exponent floor.
long double NormalTailFraction(long double t) {
    long double term = ExpOrZero(-0.5L * std::log(t) - t - LnGammaHalf(1));
    if (term == 0) return 0;
    long double x = std::sqrt(2 * t), f = x;
    for (int k = kNormalFractionTerms; k >= 1; --k) f = x + k / f;
    return term * x / f;
}

// I_x(a, b) = Gamma(a+b) / (Gamma(a+1) Gamma(b)) x^a sum_j (1-b)_j / j! x^j a/(a+j).
long double BetaPowerSeries(long double x, int p, int q) {
    long double term = std::exp((p / 2.0L) * std::log(x) + LnGammaHalf(p + q) - LnGammaHalf(q) -
                                LnGammaHalf(p + 2));
    long double sum = term;
    int k = 0;
    for (int i = 0; i < kMaxSeriesTerms; ++i) {
        k += 2;
        term = -term * x * (q - k) * (k + p - 2) / (static_cast<long double>(k) * (k + p));
        sum += term;
        if (!(q > k || std::fabs(term) > kBetaSeriesLimit)) break;
    }
    return sum;
}

// I_x(a, b) = x^a (1-x)^(b-1) Gamma(a+b) / (Gamma(a+1) Gamma(b)) sum_j prod (b-j)/(a+j)
// (x/(1-x))^j.
long double BetaRatioSeries(long double x, int p, int q) {
    long double term = ExpOrZero((q / 2.0L - 1) * std::log(1 - x) + (p / 2.0L) * std::log(x) +
                                 LnGammaHalf(p + q) - LnGammaHalf(p + 2) - LnGammaHalf(q));
    long double mean = static_cast<long double>(p) / (p + q);
    if (term < kNegligibleFirstTerm) return x < mean ? 0.0L : 1.0L;
    long double sum = term;
    int k = 0;
    for (int i = 0; i < kMaxSeriesTerms; ++i) {
        k += 2;
        term = term * x * (q - k) / ((1 - x) * (k + p));
        sum += term;
        bool growing = x * (q - k) > (1 - x) * (k + p);
        if (!(std::fabs(term) > kBetaRatioLimit || growing)) break;
    }
    return sum;
}

}  // namespace

// ln Gamma(n/2): the sum of ln of the factors n/2 - 1, n/2 - 2, ... down to 1 or 1/2 (with
// ln sqrt(pi) for odd n), and Stirling's series for large n.
long double LnGammaHalf(int n) {
    if (n > kExactLnGammaLimit) {
        long double x = n / 2.0L;
        return (x - 0.5L) * std::log(x) - x + std::log(2 * kPi) / 2 + 1 / (12 * x) -
               1 / (360 * x * x * x);
    }
    long double s = 0;
    int k = n;
    while (k > 2) {
        k -= 2;
        s += std::log(k / 2.0L);
    }
    if (k == 1) s += std::log(kPi) / 2;
    return s;
}

// P[G > t] for G gamma with shape n/2: one minus the power series of the lower function, or
// the asymptotic series of the upper function for t past both a and 42.
long double GammaUpperTail(int n, long double t) {
    if (t <= 0) return 1;
    if (std::isnan(t)) return t;
    if (std::isinf(t)) return 0;
    long double a = n / 2.0L;
    if (n == 1 && t >= kNormalFractionFrom) return NormalTailFraction(t);
    if (t < a || t < kGammaSeriesSwitch) return LowerGammaSeries(n, t);
    return UpperGammaSeries(n, t);
}

long double ChiSquareUpperTail(long double x, int n) {
    return GammaUpperTail(n, x / 2);
}

// Q(x) through the chi-square tail with one degree of freedom: Q(x) = P[chi2(1) > x^2] / 2.
long double NormalUpperTail(long double x) {
    long double half = GammaUpperTail(1, x * x / 2) / 2;
    return x >= 0 ? half : 1 - half;
}

// I_x(p/2, q/2): the power series in x for small parameters, the series in x/(1 - x) for large
// ones, both for x <= 1/2 (larger x through I_x(a, b) = 1 - I_(1-x)(b, a)).
long double IncompleteBeta(long double x, int p, int q) {
    if (p == q && x == 0.5L) return 0.5L;
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    if (std::isnan(x)) return x;
    bool exchanged = 1 - x < x;
    if (exchanged) {
        x = 1 - x;
        std::swap(p, q);
    }
    long double r = p + q < kBetaSeriesSwitch ? BetaPowerSeries(x, p, q) : BetaRatioSeries(x, p, q);
    if (exchanged) r = 1 - r;
    return std::fabs(r);
}

// P[F(m, n) > f] = I_y(n/2, m/2) with y = n / (m f + n).
long double FUpperTail(long double f, int m, int n) {
    // A variance ratio below 0 (a difference of mean squares can give one) is exceeded surely;
    // the beta argument would lie above 1 or below 0 there, and below 0 it would give 0.
    if (f <= 0) return 1;
    return IncompleteBeta(n / (m * f + n), n, m);
}

// P[T(n) > t] = I_y(n/2, 1/2) / 2 with y = n / (t^2 + n), mirrored for t < 0.
long double TUpperTail(long double t, int n) {
    if (t == 0) return 0.5L;
    long double r = IncompleteBeta(n / (t * t + n), n, 1) / 2;
    return t > 0 ? r : 1 - r;
}

// The z with Q(z) = p by Newton's method on Q from z = 0, stepping on the log scale away from 0
// so that a step into a far tail does not overshoot; missing beyond 1e-9 from 0 or 1.
long double NormalUpperQuantile(long double p) {
    if (!(p >= kQuantileTailLimit) || 1 - p < kQuantileTailLimit) return data::MissingValue;
    long double z = 0, previous = 1, q = 0.5L;
    for (int i = 0; i < kMaxNewtonSteps && std::fabs(z - previous) > kNormalQuantileStep; ++i) {
        previous = z;
        long double c = -std::log(2 * kPi) / 2 - z * z / 2;
        // The log-scale step needs 1 + step > 0; that always holds for p within the limits,
        // and the linear step stands in should it ever fail.
        long double step = (q - p) * z * std::exp(-c);
        if (std::fabs(z) < kSmallZ || step <= -1)
            z += (q - p) * std::exp(-c);
        else
            z += std::log1p(step) / z;
        q = NormalUpperTail(z);
    }
    return z;
}

// The t with GammaUpperTail(n, t) = p by Newton's method on the tail, stepping on the log scale
// of the density; for one degree of freedom directly from the normal quantile.
long double GammaUpperQuantile(long double p, int n) {
    if (n == 1) {
        // Outside the normal quantile's range the square of the missing value would pass for
        // a quantile near 0; the result is missing instead.
        long double z = NormalUpperQuantile(p / 2);
        if (z == data::MissingValue) return z;
        return z * z / 2;
    }
    long double a = n / 2.0L, lnNorm = -LnGammaHalf(n);
    long double t = n / 2.0L;
    if (n > kGammaNormalStart) {
        // Beyond the range of the normal quantile the iteration starts from the centre of the
        // distribution instead and still converges.
        long double z = NormalUpperQuantile(p);
        if (z == data::MissingValue) z = 0;
        t = (z + std::sqrt(2.0L * n - 1)) * (z + std::sqrt(2.0L * n - 1)) / 4;
    }
    // At least one Newton step: with n = 2 the starting value n/2 equals the initial "previous"
    // of 1, which would otherwise end the iteration before it began.
    long double previous = 1, q = GammaUpperTail(n, t);
    for (int i = 0; i < kMaxNewtonSteps && (i == 0 || std::fabs(t - previous) > kGammaQuantileStep);
         ++i) {
        previous = t;
        long double c = (a - 1) * std::log(t) + lnNorm - t;
        long double d = (a - 1) / t - 1;
        long double s = (q - p) * std::exp(-c);
        // As for the normal quantile, the linear step stands in where the log-scale step is
        // undefined, and a step past 0 is replaced by halving; for p strictly between 0 and 1
        // neither happens.
        if (std::fabs(s * d) < kSmallStep || s * d <= -1)
            t += s;
        else
            t += std::log1p(s * d) / d;
        if (!(t > 0)) t = previous / 2;
        q = GammaUpperTail(n, t);
    }
    return t;
}

// The x with P[chi2(n) > x] = p, twice the gamma quantile; missing where that is missing.
long double ChiSquareQuantile(long double p, int n) {
    long double t = GammaUpperQuantile(p, n);
    return t == data::MissingValue ? t : 2 * t;
}

}  // namespace korw::distr
