// Bartlett's test for equal variances in the groups of a factor, and the correlation matrix.
#pragma once

#include <string>

namespace korw::tools {

// Group variances of y by the levels of f (level 0 a group of its own), Bartlett's test with
// correction for bias, and for two groups the one-sided F-test.
void Bartlett(const std::string& y, const std::string& f);

// The lower triangle of correlation coefficients of the listed variates; marks 0..3 columns of
// significance stars, above 3 no marks and a second table of p-values.
void CorMat(const std::string& names, int marks);

}  // namespace korw::tools
