// Describing and reshaping single vectors: the summary block, grouping a variate into a factor
// at cutpoints, and copying the present units into a vector of their own.
#pragma once

#include <cstdint>
#include <string>

namespace korw::tools {

// Counts of present, excluded and missing units, and for a variate Min, Mean, Max and S.D.
void Summary(const std::string& name);

// Fills (or declares) the factor with the class of each present unit of the variate. levels 0
// means not given; cutpoints is empty (equal intervals), a cutpoint variate, or a list of
// increasing numbers.
void Group(const std::string& variate, const std::string& factor, int32_t levels,
           const std::string& cutpoints);

// Copies the present units of source, in unit order, into units 1..k of target (declared when
// it does not exist).
void TransferPresent(const std::string& source, const std::string& target);

// The format widening rule for s significant digits: widens width and decimals (never narrows)
// so that x shows with s significant digits in fixed notation.
void WidenFormat(int digits, double x, int& width, int& decimals);

// A probability as the tests write it: 6 decimals in width 10.
std::string ProbabilityText(double p);

// The notice frame around a block of output, written only when ContinueOnError is false.
void OpenFrame(const char* procedure);
void CloseFrame();

}  // namespace korw::tools
