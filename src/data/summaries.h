// One-number summaries over the present units (and, for variates, non-missing values).
#pragma once

#include <cstdint>
#include <string>

namespace korw::data {

int32_t UnitsPresent(const std::string& name);
double Sum(const std::string& variate);
double Mean(const std::string& variate);
double Max(const std::string& variate);
double Min(const std::string& variate);
double Variance(const std::string& variate);
double Correlation(const std::string& x, const std::string& y);

}  // namespace korw::data
