// NonLin: generalised non-linear regression by iteratively reweighted least squares.
//
// The mean of the response is mu = m(eta), eta a linear predictor given by a model formula,
// and its variance is proportional to v(mu). The user writes m, its derivative Dm and v as
// COMPUTE expressions in which "." stands for the argument; each iteration evaluates them on
// temporary variates and fits the formula to the working response by a weighted linear normal
// fit. The last weighted fit stays in the model-fit record for the parameter listings.
#pragma once

#include <cstdint>
#include <string>

namespace korw::special {

inline constexpr const char* DefaultWorkingResponse = "#NL_WY";
inline constexpr const char* DefaultWorkingWeight = "#NL_WW";

// Names under which the next fit leaves its working response and working weight (each cut to
// 8 characters).
void SetWorkingNames(const std::string& response, const std::string& weight);

// A variate whose values start the linear predictor of the next fit; empty for none. The
// start applies to the next fit only.
void SetStartingValues(const std::string& name);

// Fits "response [- offset] = formula [/ weight]" with the mean function m, its derivative
// dm and the variance function v, and writes the iterations' outcome, the last weighted fit
// and the test for no over-dispersion.
void FitNonLinear1(const std::string& specification, const std::string& m, const std::string& dm,
                   const std::string& v);

// Compares the last non-linear fit with the one before it by a variance ratio. Every vector
// named in `comparison` must exist with the fits' number of units.
void NLTestModelChange(const std::string& comparison);

// The function text with every "." that stands for the argument replaced by `argument`; a
// "." next to a digit belongs to a number and stays.
std::string ReplaceArgument(const std::string& text, const std::string& argument);

// Forgets both remembered fits (a new library session).
void ForgetNonLinearFits();

}  // namespace korw::special
