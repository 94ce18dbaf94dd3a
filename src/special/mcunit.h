// McCullagh's model for grouped ordinal data (FITMCLOGIT, FITMCPROBIT, FITMCCLOGLOG).
//
// An ordered response with K categories depends on a linear predictor through an underlying
// continuous distribution F: P(Y_i <= j) = F(eta_i + alpha_j). The fit is a likelihood on
// FitUserDefined, with the K - 2 thresholds ALPHA1..ALPHA(K-2) after the formula's parameters.
#pragma once

#include <string>

#include "special/mcunit_likelihood.h"

namespace korw::special {

// The heading line of the underlying distribution, written by the next FitMcCullaghModel.
void StoreMcCullaghHeading(const std::string& line);

// Fits "response = formula", the response a factor or a list of count variates (blank or comma
// separated), with the distribution F, its density f and the density's derivative fPrime; writes
// the fit, the observed and fitted counts and the goodness-of-fit tests.
void FitMcCullaghModel(const std::string& specification, mcunit::DistributionFunction F,
                       mcunit::DistributionFunction f, mcunit::DistributionFunction fPrime);

namespace mcunit {

// The three underlying distributions: logistic (logit link), normal (probit link) and Gompertz
// (complementary log-log link), each as F, f and f'.
double LogisticF(double x);
double LogisticDensity(double x);
double LogisticSlope(double x);
double NormalF(double x);
double NormalDensity(double x);
double NormalSlope(double x);
double GompertzF(double x);
double GompertzDensity(double x);
double GompertzSlope(double x);
// F, f and f' of each at once, from one exponential (the normal's F apart): the same values.
void LogisticValues(double x, double& F, double& f, double& fPrime);
void NormalValues(double x, double& F, double& f, double& fPrime);
void GompertzValues(double x, double& F, double& f, double& fPrime);

}  // namespace mcunit

}  // namespace korw::special
