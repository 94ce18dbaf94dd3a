// Conditional logit and conditional Rasch models: likelihoods conditioned on the number of
// positive responses in each group of units (the persons' total scores for the Rasch model),
// maximised by FitUserDefined. Both rest on the elementary symmetric functions of the numbers
// e^eta, summed in extended precision.
#pragma once

#include <string>
#include <vector>

namespace korw::special {

// FITCLOGIT: "y = formula / g" for a binary response y, or "y / n = formula / g" for relative
// frequencies y with binomial totals n; the data sorted by the grouping factor or variate g.
void FitConditionalLogitLinear(const std::string& specification);

// FITCRASCH: "itemTotals = formula / scoreGroupSizes", both variates over the k items; the
// formula gives the item parameters.
void FitConditionalRasch(const std::string& specification);

// The likelihood pieces, for the unit tests.
namespace detail {

// gamma_0 .. gamma_k of the numbers e^eta_1 .. e^eta_k.
std::vector<long double> ElementarySymmetric(const std::vector<double>& eta);

// One group of the conditional logit: per unit its linear predictor, its number of trials and
// of positive responses, and (for the derivatives) its design row of p values in `x`, unit
// after unit.
struct Group {
    int p = 0;
    std::vector<double> eta, trials, positives, x;
};

// Log-likelihood of a group, the sum of positives times eta less ln gamma_s (s the sum of the
// positives, every unit counted once per trial). With `gradient` (p values) and `hessian` (the
// packed lower triangle, element (i, j), j <= i, at i (i + 1) / 2 + j) the group's derivatives
// with respect to the parameters are added to them. Not finite when gamma_s overflows.
long double GroupLogLikelihood(const Group& group, std::vector<long double>* gradient,
                               std::vector<long double>* hessian);

// The same in two steps, for a pass over many groups that keeps what does not change between
// its calls. GroupWeights centres the group's eta on its mean, writes w_i = e^(eta_i - mean)
// and returns the sum of positives times the centred eta; CentreRows centres the design rows
// (n x p) on their means; GroupTerms adds ln gamma_s's part and, with `gradient` and `hessian`
// (arrays of p and p (p + 1) / 2 values), the derivatives, given the centred rows.
long double GroupWeights(size_t n, const double* eta, const double* positives, long double* w);
void CentreRows(size_t n, int p, double* x);
long double GroupTerms(size_t n, int p, const double* trials, const double* positives,
                       const long double* w, long double linear, const double* centredX,
                       long double* gradient, long double* hessian);

// Conditional Rasch log-likelihood of items with linear predictors eta, item totals (a
// negative total is left out of the first sum) and score group sizes, sizes[r - 1] = N_r for
// r = 1 .. k (k the number of items, sizes beyond it ignored). With `gradient` (k values) and
// `hessian` (k x k, row after row) its derivatives with respect to the eta replace their
// contents.
long double RaschLogLikelihood(const std::vector<double>& eta, const std::vector<double>& totals,
                               const std::vector<double>& sizes, std::vector<long double>* gradient,
                               std::vector<long double>* hessian);

}  // namespace detail

}  // namespace korw::special
