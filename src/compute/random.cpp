// The library-wide random generator: a 32-bit linear congruential generator, normal numbers by
// the sine form of Box and Muller, and Poisson counts by waiting times.

#include <climits>
#include <cmath>

#include "compute/compute.h"
#include "compute/internal.h"
#include "data/errors.h"
#include "data/session.h"
#include "distr/distributions.h"

namespace korw::compute {

namespace {

// seed := seed * Multiplier + 1 (mod 2^32).
constexpr uint32_t Multiplier = 134775813u;
constexpr double TwoTo32 = 4294967296.0;
constexpr double TwoPi = 6.283185307179586;
// Above this mean a count is one normal number scaled to the Poisson's mean and spread.
constexpr double NormalApproximationAbove = 999999;
// Means above this are worked down in chunks of m events drawn as one chi-square waiting time.
constexpr double ChunkedAbove = 100;

uint32_t seed = 0;

int32_t RoundToCount(double x) {
    if (!(x > 0)) return 0;  // also a NaN from a degenerate draw
    if (x >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(std::nearbyint(x));
}

}  // namespace

void SetRandomSeed(uint32_t s) {
    seed = s;
}
uint32_t RandomSeed() {
    return seed;
}

// The seed is the time of day in universal time, in milliseconds since midnight.
void SeedRandomFromClock() {
    data::ClockReading now = data::Now();
    uint32_t h = static_cast<uint32_t>(now.utc.tm_hour);
    uint32_t m = static_cast<uint32_t>(now.utc.tm_min);
    uint32_t s = static_cast<uint32_t>(now.utc.tm_sec);
    SetRandomSeed(((h * 60 + m) * 60 + s) * 1000 + static_cast<uint32_t>(now.milliseconds));
}

double Random() {
    seed = seed * Multiplier + 1u;
    return static_cast<double>(seed) / TwoTo32;
}

double Normal() {
    double u1 = Random();
    double u2 = Random();
    return std::sin(TwoPi * u1) * std::sqrt(-2.0 * std::log(u2));
}

namespace detail {

int32_t PoissonDraw(double lambda) {
    if (lambda <= 0) return 0;
    if (lambda > NormalApproximationAbove) {
        double z = Normal();
        while (!std::isfinite(z)) z = Normal();  // u2 = 0 exactly: ln 0
        return RoundToCount(lambda + std::sqrt(lambda) * z);
    }
    int32_t k = -1;
    while (lambda > ChunkedAbove) {
        int32_t m = static_cast<int32_t>(std::nearbyint(lambda - 7.0 * std::sqrt(lambda)));
        double waiting = static_cast<double>(distr::ChiSquareQuantile(Random(), 2 * m));
        // A uniform number within 1E-9 of 0 or 1 has no quantile (missing): draw again rather
        // than count m events that took no time.
        if (!(waiting > 0)) continue;
        lambda -= waiting / 2.0;
        k += m;
    }
    while (lambda > 0) {
        ++k;
        lambda += std::log(Random());
    }
    return k;
}

}  // namespace detail

int32_t Poisson(double lambda) {
    if (!data::Enter("Poisson")) return 0;
    if (lambda > detail::PoissonLimit) {
        data::ReportError("Poisson parameter too large");
        return 0;
    }
    return detail::PoissonDraw(lambda);
}

}  // namespace korw::compute
