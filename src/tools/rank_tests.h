// The goodness-of-fit test of the last model fit and the two rank tests.
#pragma once

#include <cstdint>
#include <string>

namespace korw::tools {

// Pearson's X^2 of the variate y against the fitted values of the last fit, with ResDF degrees
// of freedom.
void PearsonChiSquare(const std::string& y);

// Rank sum of the values of y at level l1 of f against those at level l2, with the normal
// approximation; tied values are handled through the two extreme rankings.
void WilcoxonTwoSampleTest(const std::string& y, const std::string& f, uint8_t l1, uint8_t l2);

// Rank correlation of two variates over the present units; with ties, the midpoint of the two
// extreme rank correlations consistent with the data.
void Spearman(const std::string& x, const std::string& y);

}  // namespace korw::tools
