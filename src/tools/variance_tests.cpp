#include "tools/variance_tests.h"

#include <cmath>
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/summaries.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "tools/describe.h"
#include "tools/grouped.h"

namespace korw::tools {

namespace {

constexpr double kZeroVariance = 1.0E-100;  // a variance at or below it cannot enter the test

// The sums are taken of the deviations from the group's first value: a group of equal values
// then has a sum of squares of exactly 0, where sum(y^2) - sum(y)^2/n of the values leaves
// a rounding residue that would pass for a variance and enter the test.
struct LevelGroup {
    int level = 0;
    long n = 0;
    double shift = 0;
    double sum = 0, sumSquares = 0;
    double variance = 0;
};

// n, sums and sums of squares of the present non-missing values at each level 0..L.
std::vector<LevelGroup> GroupSums(const data::Vector& y, const data::Vector& f) {
    std::vector<LevelGroup> groups(f.levels + 1);
    for (int k = 0; k <= f.levels; ++k) groups[k].level = k;
    for (int32_t u = 1; u <= y.length; ++u) {
        float v = y.variate[u];
        if (!data::UnitIncluded(u) || v == data::MissingValue) continue;
        LevelGroup& g = groups[f.factor[u]];
        if (g.n++ == 0) g.shift = v;
        double d = v - g.shift;
        g.sum += d;
        g.sumSquares += d * d;
    }
    return groups;
}

int VarianceDecimals(double pooled) {
    if (pooled < 1) return 15;
    if (pooled < 99999999) return 8;
    return 0;
}

}  // namespace

void Bartlett(const std::string& yName, const std::string& fName) {
    if (!data::Enter("Bartlett")) return;
    Grouped pair = LookUpGrouped(yName, fName);
    if (pair.y == nullptr) return;
    const data::Vector& y = *pair.y;
    const data::Vector& f = *pair.f;

    std::vector<LevelGroup> groups = GroupSums(y, f);
    OpenFrame("Bartlett");
    data::WriteLine("TEST FOR EQUAL VARIANCES");
    data::WriteLine();
    data::WriteLine("Variate " + y.name + ", grouped by factor " + f.name + ".");
    data::WriteLine();

    std::vector<LevelGroup*> used;
    long totalN = 0;
    double totalSS = 0;
    int g = 0;
    bool possible = true;
    for (LevelGroup& group : groups) {
        if (group.n <= 1) continue;
        double ss = group.sumSquares - group.sum * group.sum / group.n;
        group.variance = ss / (group.n - 1);
        totalN += group.n;
        totalSS += ss;
        if (group.variance > kZeroVariance)
            ++g;
        else
            possible = false;
        used.push_back(&group);
    }
    if (g <= 1) possible = false;
    // The groups that enter the pooled variance are those with n > 1; g counts those with a
    // variance above zero, as the degrees of freedom N - g do.
    double pooled = g > 0 ? totalSS / static_cast<double>(totalN - g) : 0;
    if (g > 0) {
        data::WriteLine(data::Right(f.name, 8) + "     OBS            Variance");
        int decimals = VarianceDecimals(pooled);
        for (const LevelGroup* group : used)
            data::WriteLine(data::Int(group->level, 8) + data::Int(group->n, 8) +
                            data::Fixed(group->variance, 20, decimals));
    } else {
        data::WriteLine("*** No group with valid variance estimate ***");
    }
    if (!possible) {
        data::WriteLine("*** No test possible ***");
        return CloseFrame();
    }

    double b = static_cast<double>(totalN - g) * std::log(pooled);
    double inverseSum = 0;
    for (const LevelGroup* group : used) {
        b -= static_cast<double>(group->n - 1) * std::log(group->variance);
        inverseSum += 1.0 / static_cast<double>(group->n - 1);
    }
    double c = 1 + (inverseSum - 1.0 / static_cast<double>(totalN - g)) / (3.0 * (g - 1));
    double chi = b / c;
    double p = static_cast<double>(distr::ChiSquareUpperTail(chi, g - 1));
    data::WriteLine();
    data::WriteLine("Bartlett's test with correction for bias:");
    data::WriteLine("P[ Chi2(" + std::to_string(g - 1) + ") > " + data::Fixed(chi, 12, 4) +
                    " ] =" + ProbabilityText(p));
    if (g != 2) return CloseFrame();
    const LevelGroup* a = used[0];
    const LevelGroup* d = used[1];
    if (d->variance > a->variance) std::swap(a, d);
    double ratio = a->variance / d->variance;
    int df1 = static_cast<int>(a->n - 1), df2 = static_cast<int>(d->n - 1);
    double pf = static_cast<double>(distr::FUpperTail(ratio, df1, df2));
    data::WriteLine();
    data::WriteLine("One-sided F-test on the proportion between variances:");
    data::WriteLine("P[ F(" + std::to_string(df1) + "," + std::to_string(df2) + ") > " +
                    data::Fixed(ratio, 12, 4) + " ] =" + ProbabilityText(pf));
    CloseFrame();
}

namespace {

// Present units where both variates are non-missing.
long PairsPresent(const data::Vector& x, const data::Vector& y) {
    long m = 0;
    int32_t n = std::min(x.length, y.length);
    for (int32_t u = 1; u <= n; ++u)
        if (data::UnitIncluded(u) && x.variate[u] != data::MissingValue &&
            y.variate[u] != data::MissingValue)
            ++m;
    return m;
}

double CorrelationP(double r, long m) {
    if (m < 3) return 1;
    if (std::fabs(r) >= 1) return 0;
    double t = std::sqrt(static_cast<double>(m - 2)) * r / std::sqrt(1 - r * r);
    return 2 * static_cast<double>(distr::TUpperTail(std::fabs(t), static_cast<int>(m - 2)));
}

std::string Marks(double p, int marks) {
    std::string s;
    if (marks >= 1) s += p < 0.05 ? '*' : ' ';
    if (marks >= 2) s += p < 0.01 ? '*' : ' ';
    if (marks >= 3) s += p < 0.001 ? '*' : ' ';
    return s;
}

// One table (coefficients, or p-values when `pValues`), in blocks of columns; false after a
// failing Correlation.
bool WriteTable(const std::vector<std::string>& names, int marks, bool pValues) {
    int columns = (data::LineWidth() + 1) / 9 - 1;
    int count = static_cast<int>(names.size());
    for (int first = 0; first < count - 1; first += columns) {
        int last = std::min(first + columns, count - 1);
        data::WriteLine();
        std::string header(8 - marks, ' ');
        for (int j = first; j < last; ++j) header += data::Right(names[j], 9);
        data::WriteLine(header);
        for (int i = first + 1; i < count; ++i) {
            std::string line = data::Right(names[i], 8);
            for (int j = first; j < std::min(last, i); ++j) {
                double r = data::Correlation(names[j], names[i]);
                if (!data::ErrorFree) return false;
                if (!pValues && marks == 0) {
                    line += data::Fixed(r, 9, 5);
                    continue;
                }
                std::string xj = names[j], xi = names[i];
                long m = PairsPresent(data::Entry(data::FindVector(xj)),
                                      data::Entry(data::FindVector(xi)));
                double p = CorrelationP(r, m);
                if (pValues)
                    line += data::Fixed(p, 9, 6);
                else
                    line += data::Fixed(r, 9 - marks, 5 - marks) + Marks(p, marks);
            }
            data::WriteLine(line);
        }
    }
    return true;
}

}  // namespace

void CorMat(const std::string& list, int marks) {
    if (!data::Enter("CorMat")) return;
    bool pTable = marks > 3;
    if (pTable || marks < 0) marks = 0;
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string w; words >> w;) {
        std::string name = w;
        int index = data::LookUpVariate(name);
        if (index == 0) return;
        names.push_back(data::Entry(index).name);
    }
    OpenFrame("CorMat");
    data::WriteLine();
    data::WriteLine("Table of empirical correlation coefficients.");
    if (!WriteTable(names, marks, false)) return;
    if (marks > 0) {
        data::WriteLine();
        data::WriteLine("*   indicates two-sided significance on level 5.0 percent.");
        if (marks >= 2)
            data::WriteLine("**  indicates two-sided significance on level 1.0 percent.");
        if (marks >= 3)
            data::WriteLine("*** indicates two-sided significance on level 0.1 percent.");
    }
    if (pTable) {
        data::WriteLine();
        data::WriteLine("P-values in the tests for correlation = 0.");
        if (!WriteTable(names, 0, true)) return;
    }
    CloseFrame();
}

}  // namespace korw::tools
