// Rearranging units inside the table: sorting by key vectors and copying runs of units.
#pragma once

#include <cstdint>
#include <string>

namespace korw::data {

// Sorts units 1..L of the listed vectors (blank- or comma-separated, all of length L) in
// ascending order of the vectors taken as keys in list order. A final "+" moves every other
// vector of length L along; without it they are named in a warning.
void Sort(const std::string& names);

// Copies units first..last of source into units targetFirst..targetLast of target; a range runs
// downwards when its first unit is above its last.
void Transfer(const std::string& source, int32_t first, int32_t last, const std::string& target,
              int32_t targetFirst, int32_t targetLast);

}  // namespace korw::data
