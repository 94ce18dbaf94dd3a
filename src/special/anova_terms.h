// Terms of the mixed-model analysis of variance: products of factors, the levels that occur,
// how two terms relate (coarser, minimum, orthogonality), and the coefficients that turn
// stratum mean squares into variance components. Shared by anova.cpp and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korw::special::anova {

inline constexpr int MaxFactorsInTerm = 8;
// A product of factors may have up to this many combinations of levels (2049 itself passes).
inline constexpr int MaxTermLevels = 2049;

// A product of factors. The levels of a term are the combinations of its factors' levels that
// occur, numbered 1..levels in the order of the combination index (first factor slowest).
struct Term {
    std::string name;                     // "CONSTANT", or the factor names joined by "*"
    std::vector<int> factorIndex;         // table entries of the factors
    std::vector<const uint8_t*> factors;  // their stored levels (units 1..n)
    std::vector<int> radix;               // declared number of levels of each factor
    std::vector<int32_t> level;           // combination index -> level, 0 when absent
    int levels = 1;
    bool random = false;
    std::vector<int64_t> counts;  // units per level (index 0 unused)
    std::vector<double> sums;     // sums of the dependent variate per level
};

// Text without blanks at either end.
std::string Trimmed(const std::string& text);

// The names of a product "A*B*C", each trimmed.
std::vector<std::string> FactorNames(const std::string& text);

// Combination index of a unit: the factors' levels read as digits, first factor slowest.
inline int Combination(const Term& t, int32_t unit) {
    int index = 0;
    for (size_t i = 0; i < t.factors.size(); ++i)
        index = index * t.radix[i] + t.factors[i][unit] - 1;
    return index;
}

inline int LevelOf(const Term& t, int32_t unit) {
    return t.factors.empty() ? 1 : t.level[Combination(t, unit)];
}

// Parses "1" or "A*B*C" into a term over the factors of the table, with at most
// MaxFactorsInTerm factors and MaxTermLevels combinations. Errors are reported in the current
// procedure's name; false after an error.
bool ParseTerm(const std::string& text, Term& term);

// Each factor of the term must have nUnits units and no level 0; on success the term can read
// its factors' levels.
bool CheckTermFactors(Term& term, int32_t nUnits);

// One streaming pass over units 1..n: the levels that occur, their counts and, when y is not
// null, the level sums of y.
void CountLevels(Term& term, const float* y, int32_t n);

// How two terms A and B relate over units 1..n.
struct PairRelation {
    bool aCoarser = false;    // every level of B lies within one level of A
    bool bCoarser = false;    // every level of A lies within one level of B
    int minimumLevels = 0;    // classes of units linked by a shared level of A or B
    bool orthogonal = false;  // counts of A x B proportional within each class
    std::vector<int> aClass;  // class (1..minimumLevels) of each level of A
    std::vector<int> bClass;  // class of each level of B
};
PairRelation Relate(const Term& a, const Term& b, int32_t n);

// Coefficients of the variance components. Strata 0..s-1 are listed from coarse to fine (the
// last is UNITS); coarser[i][j] says stratum i is strictly coarser than stratum j; levels[i]
// is the number of levels of stratum i's term (n for UNITS). Row F holds the coefficient of
// each stratum's mean square in the component of F: (levels_F / n) * mu(F, k), mu the Moebius
// function of the coarser-than order.
std::vector<std::vector<double>> ComponentCoefficients(
    const std::vector<std::vector<bool>>& coarser, const std::vector<int>& levels, int32_t n);

}  // namespace korw::special::anova
