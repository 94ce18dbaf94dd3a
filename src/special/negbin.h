// NegBin: the log-linear model for counts with negative binomial variation.
//
// P(Y = y) = Gamma(y + k) / (Gamma(k) y!) p^y (1 - p)^k with p = e^eta / (1 + e^eta), eta the
// linear predictor of the formula and k = alpha (alpha * w with weights); the mean is
// k e^eta. The fit is FitUserDefined with one extra parameter ALPHA after the formula's
// columns; this module supplies the likelihood and its derivatives, and stores fitted values
// and residuals of its last fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "models/cross_product.h"

namespace korw::special {

inline constexpr double MaxNegBinCount = 65535;

// Fits y = formula [/ w]. An initial alpha that is not positive means: the alpha of the last
// negative binomial fit when there is one, else 1.
void FitNegBin(const std::string& specification, double initialAlpha = 0);

// Fitted values, residuals and normed residuals of the last negative binomial fit; an empty
// name skips that output.
void SaveFittedNegBin(const std::string& fittedName, const std::string& residualName,
                      const std::string& normedResidualName);

namespace detail {

// Sums over j = 0 .. y-1 for a count y and a shape k: of ln((j + k) / (j + 1)), of 1 / (j + k)
// and of 1 / (j + k)^2 (log-gamma, digamma and trigamma differences).
struct CountSums {
    double logRatio = 0;
    double inverse = 0;
    double inverseSquare = 0;
};
CountSums SumsOverCount(int y, double k);

// The included units of a fit (positions in the data), their counts and weights (1 without),
// and the design of the formula over the data. `everyUnit`: the units are 1..n, and the kernel
// reads the design's vectors straight instead of through the list.
struct NegBinData {
    int columns = 0;
    bool weighted = false;
    bool everyUnit = false;
    std::vector<int32_t> units;
    std::vector<double> y;
    std::vector<double> weight;
    std::vector<uint8_t> countOccurs;  // at each count up to the largest (NoteCounts)
    models::detail::Design design;
};

// Fills countOccurs from y, once per fit: the sums by count are then made for the counts that
// occur without looking at the units again.
void NoteCounts(NegBinData& data);

// Log-likelihood, first derivatives and packed lower triangle of the second derivatives
// (element (i, j), j <= i, at i (i + 1) / 2 + j) over columns + 1 parameters, ALPHA last.
struct NegBinDerivatives {
    double logLikelihood = 0;
    std::vector<double> first;
    std::vector<double> second;
};

// The log-likelihood and, unless `logLikelihoodOnly`, the derivatives (else left empty) in one
// pass over the units at the parameters (formula columns, then alpha); alpha must be positive.
// The log-likelihood is the same either way, to the bit.
void Evaluate(const NegBinData& data, const std::vector<double>& parameters,
              NegBinDerivatives& result, bool logLikelihoodOnly = false);

}  // namespace detail

}  // namespace korw::special
