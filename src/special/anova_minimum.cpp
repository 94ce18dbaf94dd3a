// CONSTRUCTMINIMUM: the minimum of two terms, the classes of units linked by a shared level of
// either.
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/errors.h"
#include "data/vectors.h"
#include "special/anova.h"
#include "special/anova_terms.h"

namespace korw::special {

using data::ReportError;

namespace {

constexpr int kMaxMinimumLevels = data::MaxLevels;

// A term of CONSTRUCTMINIMUM: its factors' stored levels; none for the constant.
struct MinimumTerm {
    std::vector<const uint8_t*> factors;
};

bool ParseMinimumTerm(const std::string& text, MinimumTerm& term, int32_t& length) {
    std::string trimmed = anova::Trimmed(text);
    if (trimmed == "1") return true;
    // Products of any size are allowed here: the classes are found by hashing.
    std::vector<std::string> names = anova::FactorNames(trimmed);
    for (const std::string& name : names)
        if (name == "1") {
            ReportError("Constant as factor in term " + data::UpperName(trimmed));
            return false;
        }
    for (std::string name : names) {
        if (term.factors.size() == anova::MaxFactorsInTerm) {
            ReportError("Too many factors in term");
            return false;
        }
        int index = data::LookUpFactor(name);
        if (index == 0) return false;
        const data::Vector& v = data::Entry(index);
        if (length == 0) length = v.length;
        if (v.length != length) {
            ReportError(v.name + " is of incorrect length");
            return false;
        }
        term.factors.push_back(v.factor.data());
    }
    return true;
}

// The unit's combination of levels packed one byte per factor (at most 8 factors fill the 64
// bits), false where a factor has no level.
bool MinimumKey(const MinimumTerm& term, int32_t unit, uint64_t& key) {
    key = 0;
    for (const uint8_t* f : term.factors) {
        if (f[unit] == 0) return false;
        key = key << 8 | f[unit];
    }
    return true;
}

// Node of a term's level in the union-find forest, made on first sight.
int Node(std::unordered_map<uint64_t, int>& nodes, std::vector<int>& parent, uint64_t key) {
    auto [it, added] = nodes.emplace(key, static_cast<int>(parent.size()));
    if (added) parent.push_back(it->second);
    return it->second;
}

int RootOf(std::vector<int>& parent, int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

}  // namespace

void ConstructMinimum(const std::string& newName, const std::string& termA,
                      const std::string& termB) {
    if (!data::Enter("ConstructMinimum")) return;
    std::string name = newName;
    if (!data::CheckIdentifier(name)) return;
    if (data::FindVector(name) != 0)
        return ReportError(name + " exists - a NEW name must be specified");
    MinimumTerm a, b;
    int32_t length = 0;
    if (!ParseMinimumTerm(termA, a, length) || !ParseMinimumTerm(termB, b, length)) return;
    if (length == 0) return ReportError("Both factors are trivial - unspecified length");

    // Units sharing a level of A or of B are linked; the constant links every unit. The classes
    // are formed in memory rather than in a working factor of the table, and the new factor is
    // declared only once they are known, so a refused minimum leaves the table as it was.
    std::unordered_map<uint64_t, int> nodesA, nodesB;
    std::vector<int> parent;
    std::vector<int> unitNode(length + 1, -1);
    for (int32_t u = 1; u <= length; ++u) {
        uint64_t ka = 0, kb = 0;
        int na = MinimumKey(a, u, ka) ? Node(nodesA, parent, ka) : -1;
        int nb = MinimumKey(b, u, kb) ? Node(nodesB, parent, kb) : -1;
        if (na >= 0 && nb >= 0) {
            int x = RootOf(parent, na), z = RootOf(parent, nb);
            if (x != z) parent[std::max(x, z)] = std::min(x, z);
        }
        unitNode[u] = na >= 0 ? na : nb;
    }
    // Classes numbered from 1 in the order of their first unit.
    std::vector<int> classOfRoot(parent.size(), 0);
    std::vector<uint8_t> levels(length + 1, 0);
    int classes = 0;
    for (int32_t u = 1; u <= length; ++u) {
        if (unitNode[u] < 0) continue;
        int& c = classOfRoot[RootOf(parent, unitNode[u])];
        if (c == 0) {
            if (classes == kMaxMinimumLevels) return ReportError("Too many levels of minimum");
            c = ++classes;
        }
        levels[u] = static_cast<uint8_t>(c);
    }
    data::DeclareFactor(name, length, std::max(classes, 1));
    if (!data::ErrorFree) return;
    data::Entry(data::FindVector(name)).factor = std::move(levels);
}

}  // namespace korw::special
