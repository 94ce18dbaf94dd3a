// The response and grouping factor of a test by groups (BARTLETT, WILCOXON).
#pragma once

#include <string>

#include "data/vectors.h"

namespace korw::tools {

struct Grouped {
    const data::Vector* y = nullptr;  // the variate
    const data::Vector* f = nullptr;  // the factor
};

// Looks up the variate and the factor and checks that they are of the same length; both
// pointers are null after the error is reported.
Grouped LookUpGrouped(const std::string& yName, const std::string& fName);

}  // namespace korw::tools
