#include "distr/distributions.h"

#include <cmath>

#include "data/vectors.h"

namespace korw::distr {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Up to this doubled argument ln Gamma is summed exactly; above it Stirling's series is
// accurate to far below the precision of long double.
constexpr int kExactLnGammaLimit = 500;

// Below this exponent a series term is taken as 0 (e^-1000 underflows nothing we print).
constexpr long double kExponentFloor = -1000;

// The gamma tail uses the lower power series while t < 42 (or t < a), the asymptotic upper
// series beyond.
constexpr long double kGammaSeriesSwitch = 42;
constexpr long double kLowerSeriesLimit = 1.0E-20L;  // the tail bound of the power series
constexpr long double kUpperSeriesLimit = 5.0E-21L;  // the last term of the asymptotic series

// The beta function uses the power series in x while p + q < 41, the series in x/(1-x) beyond.
constexpr int kBetaSeriesSwitch = 41;
constexpr long double kBetaSeriesLimit = 1.0E-20L;
constexpr long double kBetaRatioLimit = 1.0E-25L;
constexpr long double kNegligibleFirstTerm = 1.0E-35L;  // the whole series is 0 or 1 then

constexpr long double kQuantileTailLimit = 1.0E-9L;    // PHIINV is missing beyond
constexpr long double kNormalQuantileStep = 1.0E-10L;  // Newton stops below this step
constexpr long double kGammaQuantileStep = 1.0E-7L;
constexpr long double kSmallZ = 0.01L;       // below it the normal Newton step is linear
constexpr long double kSmallStep = 1.0E-5L;  // below it the gamma Newton step is linear

// Guards against endless loops for arguments no caller passes (degrees of freedom in the
// millions, non-finite values): every series and iteration converges long before these.
constexpr int kMaxSeriesTerms = 10000000;
constexpr int kMaxNewtonSteps = 500;

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
// e^-t t^(a-1) / Gamma(a) * (1 + (a-1)/t + (a-1)(a-2)/t^2 + ...), finite for even n.
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

long double GammaUpperTail(int n, long double t) {
    if (t <= 0) return 1;
    if (std::isnan(t)) return t;
    if (std::isinf(t)) return 0;
    long double a = n / 2.0L;
    if (t < a || t < kGammaSeriesSwitch) return LowerGammaSeries(n, t);
    return UpperGammaSeries(n, t);
}

long double ChiSquareUpperTail(long double x, int n) {
    return GammaUpperTail(n, x / 2);
}

long double NormalUpperTail(long double x) {
    long double half = GammaUpperTail(1, x * x / 2) / 2;
    return x >= 0 ? half : 1 - half;
}

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

long double FUpperTail(long double f, int m, int n) {
    return IncompleteBeta(n / (m * f + n), n, m);
}

long double TUpperTail(long double t, int n) {
    if (t == 0) return 0.5L;
    long double r = IncompleteBeta(n / (t * t + n), n, 1) / 2;
    return t > 0 ? r : 1 - r;
}

long double NormalUpperQuantile(long double p) {
    if (!(p >= kQuantileTailLimit) || 1 - p < kQuantileTailLimit) return data::MissingValue;
    long double z = 0, previous = 1, q = 0.5L;
    for (int i = 0; i < kMaxNewtonSteps && std::fabs(z - previous) > kNormalQuantileStep; ++i) {
        previous = z;
        long double c = -std::log(2 * kPi) / 2 - z * z / 2;
        if (std::fabs(z) < kSmallZ)
            z += (q - p) * std::exp(-c);
        else if (long double step = (q - p) * z * std::exp(-c); step > -1)
            z += std::log1p(step) / z;
        else
            z += (q - p) * std::exp(-c);
        q = NormalUpperTail(z);
    }
    return z;
}

long double GammaUpperQuantile(long double p, int n) {
    if (n == 1) {
        long double z = NormalUpperQuantile(p / 2);
        if (z == data::MissingValue) return z;
        return z * z / 2;
    }
    long double a = n / 2.0L, lnNorm = -LnGammaHalf(n);
    long double t = n / 2.0L;
    if (n > 100) {
        long double z = NormalUpperQuantile(p);
        if (z == data::MissingValue) return z;
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
        if (std::fabs(s * d) < kSmallStep || s * d <= -1)
            t += s;
        else
            t += std::log1p(s * d) / d;
        // A step past zero (possible only far out in the tails) is halved back instead.
        if (!(t > 0)) t = previous / 2;
        q = GammaUpperTail(n, t);
    }
    return t;
}

long double ChiSquareQuantile(long double p, int n) {
    long double t = GammaUpperQuantile(p, n);
    return t == data::MissingValue ? t : 2 * t;
}

}  // namespace korw::distr
