// The likelihood of McCullagh's model for grouped ordinal data, apart from the vector table and
// the fit record: counts, design rows and parameters in plain arrays, so that the fit and the
// tests evaluate the same code.
//
// Unit i has c_ij observations in category j = 1..K. With the linear predictor eta_i and the
// thresholds alpha_1 <= ... <= alpha_(K-2), alpha_(K-1) = 0 (the constant term takes its place),
// P(Y_i <= j) = F(eta_i + alpha_j), and l = sum_i sum_j c_ij ln P(Y_i = j).
#pragma once

#include <cstdint>
#include <vector>

#include "models/cross_product.h"

namespace korw::special::mcunit {

using DistributionFunction = double (*)(double);
// F(x), f(x) and f'(x) at once, the same values as the three functions give.
using DistributionValues = void (*)(double x, double& F, double& f, double& fPrime);

// The underlying continuous distribution: F, its density f and the density's derivative f',
// and optionally all three at once (for a distribution whose three share their costly part).
struct Distribution {
    DistributionFunction F = nullptr;
    DistributionFunction f = nullptr;
    DistributionFunction fPrime = nullptr;
    DistributionValues values = nullptr;
};

// The units of one fit. Parameters are numbered 0-based: the design columns, then the
// thresholds alpha_1..alpha_(K-2). The design is read from the vector table by the blocked
// cross-product kernel, unit i (0-based position) being table unit units[i]; its first term
// must be the constant. A factor response keeps each unit's category (one observation) instead
// of K counts: a byte instead of K + 1 doubles per unit.
struct OrdinalData {
    int categories = 0;          // K
    int columns = 0;             // design columns
    std::vector<uint8_t> level;  // a factor response: the category 1..K of unit i
    std::vector<double> counts;  // else c_ij at i * K + j - 1
    std::vector<double> totals;  // and n_i
    std::vector<int32_t> units;  // the table's unit at every position
    models::detail::Design design;

    int Units() const { return static_cast<int>(units.size()); }
    int Parameters() const { return columns + categories - 2; }
    // c_ij (j = 1..K) and n_i, whichever form the response has.
    double Count(size_t i, int j) const {
        return level.empty() ? counts[i * categories + j - 1] : level[i] == j ? 1.0 : 0.0;
    }
    double Total(size_t i) const { return level.empty() ? totals[i] : 1.0; }
};

// The log-likelihood; -infinity when a category with observations has no positive probability
// (thresholds out of order, or a probability lost to rounding). With `gradient` and `hessian`
// the score and the matrix of second derivatives (p x p, row-major, both triangles) as well,
// from the same pass over the units; both are left at 0 where the log-likelihood is -infinity.
// The log-likelihood is the same either way, to the bit.
double Evaluate(const OrdinalData& d, const Distribution& dist, const std::vector<double>& params,
                std::vector<double>* gradient = nullptr, std::vector<double>* hessian = nullptr);

// Fitted counts n_i P(Y_i = j) at i * K + j - 1.
void FittedCounts(const OrdinalData& d, const Distribution& dist, const std::vector<double>& params,
                  std::vector<double>& fitted);

// The x with F(x) = p, 0 < p < 1, by bisection (F is increasing; only F is needed).
double InverseDistribution(const Distribution& dist, double p);

}  // namespace korw::special::mcunit
