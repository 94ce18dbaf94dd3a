// Terms of the mixed-model analysis of variance and the relations between them.
#include "special/anova_terms.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/vectors.h"

namespace korw::special::anova {

using data::ReportError;

namespace {

// The smallest-index representative of a class of linked levels.
int Root(std::vector<int>& parent, int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

}  // namespace

std::string Trimmed(const std::string& text) {
    size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return text.substr(a, text.find_last_not_of(' ') - a + 1);
}

std::vector<std::string> FactorNames(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t star; (star = text.find('*', start)) != std::string::npos; start = star + 1)
        names.push_back(Trimmed(text.substr(start, star - start)));
    names.push_back(Trimmed(text.substr(start)));
    return names;
}

bool ParseTerm(const std::string& text, Term& term) {
    term = Term();
    std::string trimmed = Trimmed(text);
    if (trimmed == "1") {
        term.name = "CONSTANT";
        return true;
    }
    std::vector<std::string> names = FactorNames(trimmed);
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) term.name += "*";
        term.name += data::UpperName(names[i]);
    }
    for (const std::string& name : names)
        if (name == "1") {
            ReportError("Constant as factor in term " + term.name);
            return false;
        }
    if (names.size() > MaxFactorsInTerm) {
        ReportError("Too many factors in term");
        return false;
    }
    int product = 1;
    for (std::string name : names) {
        int index = data::LookUpFactor(name);
        if (index == 0) return false;
        const data::Vector& v = data::Entry(index);
        product *= v.levels;
        if (product > MaxTermLevels) {
            ReportError("Too many levels of product factor " + term.name);
            return false;
        }
        term.factorIndex.push_back(index);
        term.radix.push_back(v.levels);
    }
    return true;
}

bool CheckTermFactors(Term& term, int32_t nUnits) {
    for (int index : term.factorIndex) {
        const data::Vector& v = data::Entry(index);
        if (v.length != nUnits) {
            ReportError(v.name + " is of incorrect length");
            return false;
        }
        // The table keeps every level within 0..levels, so 0 is the only level to refuse.
        const uint8_t* levels = v.factor.data();
        if (std::memchr(levels + 1, 0, static_cast<size_t>(nUnits)) != nullptr) {
            ReportError("Factor " + v.name + " has a level 0");
            return false;
        }
        term.factors.push_back(levels);
    }
    return true;
}

void CountLevels(Term& term, const float* y, int32_t n) {
    int combinations = 1;
    for (int r : term.radix) combinations *= r;
    std::vector<int64_t> counts(combinations, 0);
    std::vector<double> sums(combinations, 0.0);
    if (term.factors.empty()) {
        counts[0] = n;
        if (y != nullptr) sums[0] = std::accumulate(y + 1, y + n + 1, 0.0);
    } else {
        for (int32_t start = 1; start <= n; start += data::kUnitsPerPoll) {
            data::Poll();
            int32_t end = std::min<int32_t>(n, start + data::kUnitsPerPoll - 1);
            for (int32_t u = start; u <= end; ++u) {
                int c = Combination(term, u);
                ++counts[c];
                if (y != nullptr) sums[c] += y[u];
            }
        }
    }
    term.level.assign(combinations, 0);
    term.counts.assign(1, 0);
    term.sums.assign(1, 0.0);
    term.levels = 0;
    for (int c = 0; c < combinations; ++c) {
        if (counts[c] == 0) continue;
        term.level[c] = ++term.levels;
        term.counts.push_back(counts[c]);
        term.sums.push_back(sums[c]);
    }
}

PairRelation Relate(const Term& a, const Term& b, int32_t n) {
    const int la = a.levels, lb = b.levels;
    std::vector<int32_t> table(static_cast<size_t>(la) * lb, 0);
    for (int32_t start = 1; start <= n; start += data::kUnitsPerPoll) {
        data::Poll();
        int32_t end = std::min<int32_t>(n, start + data::kUnitsPerPoll - 1);
        for (int32_t u = start; u <= end; ++u)
            ++table[static_cast<size_t>(LevelOf(a, u) - 1) * lb + LevelOf(b, u) - 1];
    }

    PairRelation r;
    std::vector<int> parent(la + lb);
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<int> perRow(la, 0), perColumn(lb, 0);
    std::vector<int64_t> rowCount(la, 0), columnCount(lb, 0);
    for (int i = 0; i < la; ++i)
        for (int j = 0; j < lb; ++j) {
            int32_t count = table[static_cast<size_t>(i) * lb + j];
            if (count == 0) continue;
            ++perRow[i];
            ++perColumn[j];
            rowCount[i] += count;
            columnCount[j] += count;
            int x = Root(parent, i), y = Root(parent, la + j);
            if (x != y) parent[std::max(x, y)] = std::min(x, y);
        }
    r.aCoarser = std::all_of(perColumn.begin(), perColumn.end(), [](int k) { return k == 1; });
    r.bCoarser = std::all_of(perRow.begin(), perRow.end(), [](int k) { return k == 1; });

    std::vector<int> classOfRoot(la + lb, 0);
    std::vector<int64_t> classCount(1, 0);
    r.aClass.assign(la, 0);
    r.bClass.assign(lb, 0);
    for (int i = 0; i < la + lb; ++i) {
        int root = Root(parent, i);
        if (classOfRoot[root] == 0) {
            classOfRoot[root] = ++r.minimumLevels;
            classCount.push_back(0);
        }
        if (i < la) {
            r.aClass[i] = classOfRoot[root];
            classCount[classOfRoot[root]] += rowCount[i];
        } else {
            r.bClass[i - la] = classOfRoot[root];
        }
    }
    // Orthogonal given the minimum: within each class the counts of A x B are the products of
    // the margins divided by the class size. Exact in integers.
    r.orthogonal = true;
    for (int i = 0; i < la && r.orthogonal; ++i)
        for (int j = 0; j < lb; ++j) {
            if (r.aClass[i] != r.bClass[j]) continue;
            int64_t count = table[static_cast<size_t>(i) * lb + j];
            if (count * classCount[r.aClass[i]] != rowCount[i] * columnCount[j]) {
                r.orthogonal = false;
                break;
            }
        }
    return r;
}

std::vector<std::vector<double>> ComponentCoefficients(
    const std::vector<std::vector<bool>>& coarser, const std::vector<int>& levels, int32_t n) {
    const size_t s = levels.size();
    std::vector<std::vector<double>> mu(s, std::vector<double>(s, 0.0));
    for (size_t f = 0; f < s; ++f) {
        mu[f][f] = 1;
        // The strata are in coarse-to-fine order, so every G between F and k comes before k.
        for (size_t k = f + 1; k < s; ++k) {
            if (!coarser[f][k]) continue;
            double sum = 0;
            for (size_t g = f; g < k; ++g)
                if ((g == f || coarser[f][g]) && coarser[g][k]) sum += mu[f][g];
            mu[f][k] = -sum;
        }
        for (double& m : mu[f]) m *= static_cast<double>(levels[f]) / n;
    }
    return mu;
}

}  // namespace korw::special::anova
