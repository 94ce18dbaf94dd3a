// Unit restrictions: the one set of present units shared by all vectors.
#pragma once

#include <cstdint>
#include <string>

#include "data/vectors.h"

namespace korw::data {

void Include(int32_t unit);
void Exclude(int32_t unit);
void IncludeAll();
void FocusOnLevel(const std::string& factor, int32_t level);
void ExcludeLevel(const std::string& factor, int32_t level);
void ExcludeMissing(const std::string& names);

// True when 1 <= unit <= MaxLength and the unit is present; never an error.
inline bool UnitIncluded(int32_t unit) {
    return unit >= 1 && unit <= MaxLength() && RestrictList()[unit] != 0;
}

// True when some unit 1..MaxLength is excluded.
bool RestrictionsPresent();

}  // namespace korw::data
