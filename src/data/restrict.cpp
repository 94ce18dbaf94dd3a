#include "data/restrict.h"

#include <algorithm>

#include "data/errors.h"

namespace korw::data {

namespace {

void SetUnit(int32_t unit, uint8_t flag) {
    if (unit < 1 || unit > MaxLength())
        return ReportError("Invalid unit index " + std::to_string(unit));
    RestrictList()[unit] = flag;
}

// Clears the flag of every unit of the factor whose level does (or does not) equal `level`.
void ExcludeByLevel(const std::string& factor, int32_t level, bool excludeEqual) {
    std::string name = factor;
    int index = LookUpFactor(name);
    if (index == 0) return;
    const Vector& f = Entry(index);
    if (level < 0 || level > f.levels)
        return ReportError("Invalid level " + std::to_string(level) + " of factor " + name);
    auto& flags = RestrictList();
    for (int32_t u = 1; u <= f.length; ++u)
        if ((f.factor[u] == level) == excludeEqual) flags[u] = 0;
}

}  // namespace

void Include(int32_t unit) {
    if (Enter("Include")) SetUnit(unit, 1);
}

void Exclude(int32_t unit) {
    if (Enter("Exclude")) SetUnit(unit, 0);
}

void IncludeAll() {
    auto& flags = RestrictList();
    std::fill(flags.begin() + 1, flags.end(), 1);
}

void FocusOnLevel(const std::string& factor, int32_t level) {
    if (Enter("FocusOnLevel")) ExcludeByLevel(factor, level, false);
}

void ExcludeLevel(const std::string& factor, int32_t level) {
    if (Enter("ExcludeLevel")) ExcludeByLevel(factor, level, true);
}

void ExcludeMissing(const std::string& names) {
    if (!Enter("ExcludeMissing")) return;
    size_t i = 0;
    while (i < names.size()) {
        size_t j = names.find(' ', i);
        if (j == std::string::npos) j = names.size();
        if (j > i) {
            std::string name = names.substr(i, j - i);
            int index = LookUpVariate(name);
            if (index == 0) return;
            const Vector& v = Entry(index);
            auto& flags = RestrictList();
            for (int32_t u = 1; u <= v.length; ++u)
                if (v.variate[u] == MissingValue) flags[u] = 0;
        }
        i = j + 1;
    }
}

bool RestrictionsPresent() {
    const auto& flags = RestrictList();
    return std::find(flags.begin() + 1, flags.end(), 0) != flags.end();
}

}  // namespace korw::data
