// Mixed-model analysis of variance by the method of strata, and the estimated means of the
// fitted model.
//
// Every term (the constant, the fixed and the random terms) is a partition of the units. The
// design must be orthogonal and closed under minima, so the data space splits into one
// orthogonal piece per term (its own sum of squares) plus the units residual. Each random term
// and the units make a stratum; a fixed term lies in the stratum of the coarsest random term
// that it is coarser than, or in the units stratum.
#include "special/anova.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "special/anova_terms.h"

namespace korw::special {

using data::ReportError;
using data::WriteLine;
using namespace anova;

namespace {

constexpr int kMaxFixedTerms = 40;
constexpr int kMaxRandomTerms = 10;
// A sum of squares below this fraction of the total sum of squares about the mean is what the
// double-precision differences leave of nothing (near 1e-16 of the total); single-precision
// data cannot carry an effect that small.
constexpr double kRoundingOfTotal = 1.0E-13;
// Fields of the table: sums of squares and mean squares with 7 significant digits (what a
// single-precision variate carries), variance components with 6, F with 2 decimals, P with 4.
constexpr int kNumberWidth = 13;
constexpr int kNumberDigits = 7;
constexpr int kComponentDigits = 6;
constexpr int kFWidth = 9, kFDecimals = 2;
constexpr int kPWidth = 6, kPDecimals = 4;
const char* const kRule =
    "-------------------------------------------------------------------------------";

// One stratum: a random term or the units, its fixed terms and its residual.
struct Stratum {
    std::string name;
    int term = -1;           // its random term, -1 for UNITS
    int levels = 0;          // levels of its term; the number of units for UNITS
    double ss = 0;           // residual sum of squares
    int df = 0;              // residual degrees of freedom
    std::vector<int> fixed;  // fixed terms tested in it, coarse to fine
    bool HasMeanSquare() const { return df > 0; }
    double MeanSquare() const { return df > 0 ? ss / df : 0.0; }
};

// How a stratum's random effects enter the difference between two means of a fixed term: the
// two means differ in it only when their levels lie in different classes of the minimum of
// the fixed term and the stratum's term.
struct Share {
    std::vector<int> classOf;         // class of each level of the fixed term (index 0 unused)
    std::vector<int64_t> classCount;  // units per class (index 0 unused)
    int classes = 0;
};

struct Model {
    bool held = false;
    std::string response;
    int32_t n = 0;
    double grandMean = 0;
    std::vector<Term> terms;  // 0: the constant, then the fixed terms, then the random terms
    int fixedEnd = 1;         // terms [0, fixedEnd) are fixed
    std::vector<int> order;   // terms from coarse to fine
    std::vector<std::vector<bool>> coarser;  // non-strict: every level of j within one of i
    std::vector<std::vector<int>> minimum;   // term that is the minimum of i and j
    std::vector<std::vector<PairRelation>> relation;  // for i < j
    std::vector<double> ownSS;
    std::vector<int> ownDF;
    std::vector<Stratum> strata;  // coarse to fine, UNITS last
    std::vector<double> component, componentSD;
    std::vector<bool> estimable;
    double total = 0, totalSD = 0;
    bool totalEstimable = true;
    std::vector<std::vector<Share>> shares;  // [fixed term][stratum]
    std::vector<int> vectors;                // table entries the fit was made from
};

Model model;

std::vector<std::string> SplitAtPlus(const std::string& text) {
    std::vector<std::string> items;
    if (Trimmed(text).empty()) return items;
    size_t start = 0;
    for (size_t plus; (plus = text.find('+', start)) != std::string::npos; start = plus + 1)
        items.push_back(Trimmed(text.substr(start, plus - start)));
    items.push_back(Trimmed(text.substr(start)));
    return items;
}

// ---- the model line ----

// The dependent variate: present, no missing value, not constant, every unit included.
const float* ReadResponse(const std::string& name, Model& m) {
    std::string response = name;
    int index = data::LookUpVariate(response);
    if (index == 0) return nullptr;
    const data::Vector& v = data::Entry(index);
    const float* y = v.variate.data();
    int32_t present = 0;
    bool equal = true;
    float first = data::MissingValue;
    for (int32_t u = 1; u <= v.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        if (y[u] == data::MissingValue) {
            ReportError(v.name + " has a missing value");
            return nullptr;
        }
        if (present++ == 0) first = y[u];
        if (y[u] != first) equal = false;
    }
    if (equal) {
        ReportError("All values of " + v.name + " are equal");
        return nullptr;
    }
    // The strata need every unit: the factors are taken whole.
    if (present != v.length) {
        ReportError("Invalid number of units present in " + v.name);
        return nullptr;
    }
    m.response = v.name;
    m.n = v.length;
    m.vectors.push_back(index);
    WriteLine("Dependent variate " + v.name + ", " + std::to_string(v.length) + " units.");
    return y;
}

bool AddTerms(const std::vector<std::string>& items, bool random, Model& m) {
    int count = 0;
    for (const std::string& item : items) {
        Term term;
        if (!ParseTerm(item, term)) return false;
        if (term.factorIndex.empty()) {
            // The constant is always fitted; written among the random terms it would make a
            // stratum without degrees of freedom.
            if (!random) continue;
            ReportError("Constant as random effect not allowed");
            return false;
        }
        if (++count > (random ? kMaxRandomTerms : kMaxFixedTerms)) {
            ReportError(random ? "Too many random effects" : "Too many fixed effects");
            return false;
        }
        term.random = random;
        m.terms.push_back(std::move(term));
    }
    return true;
}

// "fixed terms [random terms]"; the constant comes first whether written or not.
bool ParseModel(const std::string& text, Model& m) {
    std::string fixedText = text, randomText;
    size_t open = text.find('[');
    if (open != std::string::npos) {
        size_t close = text.find(']', open);
        if (close == std::string::npos) {
            ReportError("Missing ] after random effects");
            return false;
        }
        if (!Trimmed(text.substr(close + 1)).empty()) {
            ReportError("Characters after ] not allowed");
            return false;
        }
        fixedText = text.substr(0, open);
        randomText = text.substr(open + 1, close - open - 1);
    }
    Term constant;
    ParseTerm("1", constant);
    m.terms.push_back(std::move(constant));
    if (!AddTerms(SplitAtPlus(fixedText), false, m)) return false;
    m.fixedEnd = static_cast<int>(m.terms.size());
    return AddTerms(SplitAtPlus(randomText), true, m);
}

bool CheckFactors(Model& m) {
    for (Term& t : m.terms) {
        if (!CheckTermFactors(t, m.n)) return false;
        m.vectors.insert(m.vectors.end(), t.factorIndex.begin(), t.factorIndex.end());
    }
    return true;
}

// ---- relations between the terms ----

// The term equal to the minimum of i and j: coarser than both, with as many levels.
int FindMinimum(const Model& m, int i, int j) {
    if (m.coarser[i][j]) return i;
    if (m.coarser[j][i]) return j;
    const PairRelation& r = m.relation[i][j];
    if (!r.orthogonal) return -1;
    for (size_t k = 0; k < m.terms.size(); ++k)
        if (m.coarser[k][i] && m.coarser[k][j] && m.terms[k].levels == r.minimumLevels)
            return static_cast<int>(k);
    return -1;
}

bool RelateTerms(Model& m) {
    const size_t t = m.terms.size();
    m.coarser.assign(t, std::vector<bool>(t, false));
    m.minimum.assign(t, std::vector<int>(t, -1));
    m.relation.assign(t, std::vector<PairRelation>(t));
    for (size_t i = 0; i < t; ++i) {
        m.coarser[i][i] = true;
        for (size_t j = i + 1; j < t; ++j) {
            m.relation[i][j] = Relate(m.terms[i], m.terms[j], m.n);
            m.coarser[i][j] = m.relation[i][j].aCoarser;
            m.coarser[j][i] = m.relation[i][j].bCoarser;
        }
    }
    for (size_t i = 0; i < t; ++i)
        for (size_t j = i + 1; j < t; ++j) {
            const Term &a = m.terms[i], &b = m.terms[j];
            int k = FindMinimum(m, static_cast<int>(i), static_cast<int>(j));
            if (k < 0) {
                ReportError("Missing minimum or nonorthogonality for " + a.name + " and " + b.name);
                return false;
            }
            if (a.random && b.random && !m.terms[k].random) {
                ReportError("Non-random minimum between random factors " + a.name + " and " +
                            b.name);
                return false;
            }
            m.minimum[i][j] = m.minimum[j][i] = k;
        }
    for (const Term& term : m.terms) {
        if (!term.random) continue;
        for (int l = 2; l <= term.levels; ++l)
            if (term.counts[l] != term.counts[1]) {
                ReportError("Unbalanced random factor " + term.name);
                return false;
            }
    }
    return true;
}

// Strictly coarser: coarser and not equal; of two terms with the same levels the earlier one
// counts as the coarser, so that the later one gets no degrees of freedom of its own.
bool StrictlyCoarser(const Model& m, int i, int j) {
    return i != j && m.coarser[i][j] && (!m.coarser[j][i] || i < j);
}

// ---- the orthogonal decomposition ----

double Square(double x) {
    return x * x;
}

// Coarse to fine, and otherwise in the order written: each time the first term whose
// strictly coarser terms are all placed.
std::vector<int> CoarseToFine(const Model& m) {
    const int t = static_cast<int>(m.terms.size());
    std::vector<int> order;
    std::vector<bool> placed(t, false);
    while (static_cast<int>(order.size()) < t) {
        for (int i = 0; i < t; ++i) {
            if (placed[i]) continue;
            bool ready = true;
            for (int g = 0; g < t && ready; ++g)
                if (!placed[g] && StrictlyCoarser(m, g, i)) ready = false;
            if (!ready) continue;
            placed[i] = true;
            order.push_back(i);
            break;
        }
    }
    return order;
}

// Own sums of squares from the coarsest term to the finest. The level sums are taken about the
// grand mean, so the large constant part does not cancel in the differences.
double Decompose(Model& m, const float* y) {
    const size_t t = m.terms.size();
    m.order = CoarseToFine(m);
    m.grandMean = m.terms[0].sums[1] / static_cast<double>(m.n);
    m.ownSS.assign(t, 0.0);
    m.ownDF.assign(t, 0);
    for (int i : m.order) {
        const Term& term = m.terms[i];
        double ss = 0;
        for (int l = 1; l <= term.levels; ++l)
            ss += Square(term.sums[l] - m.grandMean * term.counts[l]) / term.counts[l];
        int df = term.levels;
        for (int g : m.order)
            if (StrictlyCoarser(m, g, i)) {
                ss -= m.ownSS[g];
                df -= m.ownDF[g];
            }
        if (i == 0) ss = 0;  // about the grand mean the constant holds nothing
        // The pieces are orthogonal projections; what falls below zero is rounding.
        m.ownSS[i] = df > 0 ? std::max(ss, 0.0) : 0.0;
        m.ownDF[i] = df;
    }
    double total = 0;
    for (int32_t u = 1; u <= m.n; ++u) total += Square(y[u] - m.grandMean);
    double units = total;
    for (double ss : m.ownSS) units -= ss;
    // The differences above cancel to the rounding of the total when a piece is empty, as the
    // residual of data without error is; that rounding is no sum of squares to test against.
    for (double& ss : m.ownSS)
        if (ss < kRoundingOfTotal * total) ss = 0;
    if (units < kRoundingOfTotal * total) units = 0;
    m.ownSS[0] = m.n * Square(m.grandMean);
    return units;
}

void FormStrata(Model& m, double unitsSS) {
    m.strata.clear();
    int unitsDF = m.n;
    for (int df : m.ownDF) unitsDF -= df;
    for (int i : m.order) {
        if (!m.terms[i].random) continue;
        Stratum s;
        s.name = m.terms[i].name;
        s.term = i;
        s.levels = m.terms[i].levels;
        s.ss = m.ownSS[i];
        s.df = m.ownDF[i];
        m.strata.push_back(s);
    }
    Stratum units;
    units.name = "UNITS";
    units.levels = m.n;
    // Without degrees of freedom what is left of the total is rounding, not a sum of squares.
    units.ss = unitsDF > 0 ? unitsSS : 0.0;
    units.df = unitsDF;
    m.strata.push_back(units);
    // A fixed term goes to the coarsest random term it is coarser than: the first in the
    // coarse-to-fine order.
    for (int i : m.order) {
        if (m.terms[i].random) continue;
        size_t s = 0;
        while (s + 1 < m.strata.size() && !m.coarser[i][m.strata[s].term]) ++s;
        m.strata[s].fixed.push_back(i);
    }
}

// ---- variance components ----

// sqrt(sum 2 (c_k MS_k)^2 / DF_k) over the strata with degrees of freedom.
double ComponentSD(const Model& m, const std::vector<double>& c) {
    double v = 0;
    for (size_t k = 0; k < m.strata.size(); ++k)
        if (m.strata[k].HasMeanSquare())
            v += 2 * Square(c[k] * m.strata[k].MeanSquare()) / m.strata[k].df;
    return std::sqrt(v);
}

void EstimateComponents(Model& m) {
    const size_t s = m.strata.size();
    std::vector<std::vector<bool>> coarser(s, std::vector<bool>(s, false));
    std::vector<int> levels(s);
    for (size_t a = 0; a < s; ++a) {
        levels[a] = m.strata[a].levels;
        for (size_t b = a + 1; b < s; ++b)
            coarser[a][b] =
                m.strata[b].term < 0 || StrictlyCoarser(m, m.strata[a].term, m.strata[b].term);
    }
    std::vector<std::vector<double>> c = ComponentCoefficients(coarser, levels, m.n);
    std::vector<double> totalCoefficients(s, 0.0);
    m.component.assign(s, 0.0);
    m.componentSD.assign(s, 0.0);
    m.estimable.assign(s, true);
    m.totalEstimable = true;
    for (size_t f = 0; f < s; ++f) {
        for (size_t k = 0; k < s; ++k) {
            if (c[f][k] == 0) continue;
            if (!m.strata[k].HasMeanSquare()) m.estimable[f] = false;
            m.component[f] += c[f][k] * m.strata[k].MeanSquare();
            totalCoefficients[k] += c[f][k];
        }
        m.componentSD[f] = ComponentSD(m, c[f]);
        m.totalEstimable = m.totalEstimable && m.estimable[f];
    }
    m.total = std::accumulate(m.component.begin(), m.component.end(), 0.0);
    m.totalSD = ComponentSD(m, totalCoefficients);
}

// ---- what ESTIMATE needs, kept from the fit ----

Share UnitsShare(const Term& term) {
    Share share;
    share.classes = term.levels;
    share.classOf.resize(term.levels + 1);
    std::iota(share.classOf.begin(), share.classOf.end(), 0);
    share.classCount = term.counts;
    return share;
}

Share StratumShare(const Model& m, int f, int r) {
    const Term& term = m.terms[f];
    const PairRelation& rel = f < r ? m.relation[f][r] : m.relation[r][f];
    const std::vector<int>& classes = f < r ? rel.aClass : rel.bClass;
    Share share;
    share.classes = rel.minimumLevels;
    share.classOf.assign(1, 0);
    share.classOf.insert(share.classOf.end(), classes.begin(), classes.end());
    share.classCount.assign(rel.minimumLevels + 1, 0);
    for (int l = 1; l <= term.levels; ++l) share.classCount[share.classOf[l]] += term.counts[l];
    return share;
}

void PrepareEstimates(Model& m) {
    m.shares.assign(m.fixedEnd, {});
    for (int f = 0; f < m.fixedEnd; ++f)
        for (const Stratum& s : m.strata)
            m.shares[f].push_back(s.term < 0 ? UnitsShare(m.terms[f]) : StratumShare(m, f, s.term));
    // The factors' arrays may move or go; the fit keeps only counts, sums and names.
    for (Term& t : m.terms) t.factors.clear();
    m.relation.clear();
}

// ---- output of the fit ----

std::string Padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

struct TableLayout {
    size_t nameWidth = 8;  // "Residual"
    int dfWidth = 2;
};

TableLayout Layout(const Model& m) {
    TableLayout layout;
    int maxDF = 0;
    for (const Stratum& s : m.strata) {
        maxDF = std::max(maxDF, s.df);
        for (int f : s.fixed) {
            layout.nameWidth = std::max(layout.nameWidth, m.terms[f].name.size());
            maxDF = std::max(maxDF, m.ownDF[f]);
        }
    }
    layout.dfWidth = std::max(2, static_cast<int>(std::to_string(maxDF).size()));
    return layout;
}

std::string TableLine(const TableLayout& layout, const std::string& name, int df, double ss) {
    std::string line = Padded(name, layout.nameWidth) + "  " + data::Int(df, layout.dfWidth) +
                       "  " + data::NumberText(kNumberWidth, kNumberDigits, ss);
    if (df > 0) line += "  " + data::NumberText(kNumberWidth, kNumberDigits, ss / df);
    return line;
}

// F = ms / against with its upper tail; nothing when either mean square is missing or zero.
std::string FTest(double ms, int df, double against, int againstDF) {
    if (df <= 0 || againstDF <= 0 || against <= 0) return "";
    double f = ms / against;
    double p = static_cast<double>(distr::FUpperTail(f, df, againstDF));
    // An F ratio too wide for its column (a residual far smaller than the effects) is written
    // in scientific notation in the same width, so the P column stays in place.
    std::string fText = data::Fixed(f, kFWidth, kFDecimals);
    if (fText.size() > static_cast<size_t>(kFWidth)) fText = data::Scientific(f, kFWidth);
    return "  " + fText + "  " + data::Fixed(p, kPWidth, kPDecimals);
}

void PrintTable(const Model& m) {
    TableLayout layout = Layout(m);
    WriteLine();
    WriteLine("ANALYSIS OF VARIANCE TABLE.");
    WriteLine(Padded("", layout.nameWidth) + "  " + data::Right("DF", layout.dfWidth) + "  " +
              data::Right("SS", kNumberWidth) + "  " + data::Right("MS", kNumberWidth));
    for (size_t k = 0; k < m.strata.size(); ++k) {
        const Stratum& s = m.strata[k];
        WriteLine(s.name + " STRATUM");
        for (int f : s.fixed) {
            int df = m.ownDF[f];
            WriteLine(TableLine(layout, m.terms[f].name, df, m.ownSS[f]) +
                      FTest(df > 0 ? m.ownSS[f] / df : 0, df, s.MeanSquare(), s.df));
        }
        std::string line = TableLine(layout, "Residual", s.df, s.ss);
        for (size_t below = k + 1; below < m.strata.size(); ++below) {
            const Stratum& finer = m.strata[below];
            if (finer.term >= 0 && !StrictlyCoarser(m, s.term, finer.term)) continue;
            line += FTest(s.MeanSquare(), s.df, finer.MeanSquare(), finer.df);
            break;
        }
        WriteLine(line);
    }
}

std::string ComponentText(double value, bool estimable) {
    return estimable ? data::NumberText(kNumberWidth, kComponentDigits, value)
                     : data::Right("*", kNumberWidth);
}

void PrintComponents(const Model& m) {
    WriteLine();
    WriteLine("VARIANCE COMPONENT ESTIMATES and their standard deviations.");
    WriteLine(data::Right("Estimate", kNumberWidth) + "  " + data::Right("SD", kNumberWidth));
    for (size_t k = 0; k < m.strata.size(); ++k)
        WriteLine(ComponentText(m.component[k], m.estimable[k]) + "  " +
                  ComponentText(m.componentSD[k], m.estimable[k]) + "  " + m.strata[k].name);
    WriteLine(ComponentText(m.total, m.totalEstimable) + "  " +
              ComponentText(m.totalSD, m.totalEstimable) + "  Total variance");
}

// ---- ESTIMATE ----

// The levels of each factor of a term's level: the combination index read back digit by digit.
std::vector<int> FactorLevels(const Term& term, int level) {
    int combination = static_cast<int>(std::find(term.level.begin(), term.level.end(), level) -
                                       term.level.begin());
    std::vector<int> digits(term.radix.size());
    for (size_t i = term.radix.size(); i-- > 0;) {
        digits[i] = combination % term.radix[i] + 1;
        combination /= term.radix[i];
    }
    return digits;
}

std::vector<std::string> SortedFactors(const std::string& name) {
    std::vector<std::string> names = FactorNames(name);
    std::sort(names.begin(), names.end());
    return names;
}

// Units of a stratum's term per level: the weight of its component in a mean's variance.
double Replication(const Model& m, const Stratum& s) {
    return static_cast<double>(m.n) / s.levels;
}

bool EqualClassCounts(const Share& share) {
    for (int c = 2; c <= share.classes; ++c)
        if (share.classCount[c] != share.classCount[1]) return false;
    return true;
}

void EstimateGrandMean(const Model& m) {
    WriteLine("CONSTANT-means.");
    WriteLine(data::Right("mean", kNumberWidth));
    WriteLine(data::NumberText(kNumberWidth, kNumberDigits, m.grandMean));
    WriteLine();
    WriteLine("Variance of grand mean.");
    double total = 0;
    for (size_t k = 0; k < m.strata.size(); ++k) {
        double v = m.component[k] * Replication(m, m.strata[k]) / m.n;
        total += v;
        WriteLine(m.strata[k].name + " STRATUM contribution: " + ComponentText(v, m.estimable[k]));
    }
    WriteLine("Total: " + ComponentText(total, m.totalEstimable));
    WriteLine("Standard deviation: " +
              ComponentText(std::sqrt(std::max(total, 0.0)), m.totalEstimable));
}

// V-value of a level in a stratum: its half of the variance of a difference.
double VValue(const Model& m, size_t k, const Share& share, int level) {
    return m.component[k] * Replication(m, m.strata[k]) /
           static_cast<double>(share.classCount[share.classOf[level]]);
}

void EstimateTerm(const Model& m, int f) {
    const Term& term = m.terms[f];
    std::vector<size_t> contributing;  // strata in which two means can differ
    bool equalCounts = true;
    for (size_t k = 0; k < m.strata.size(); ++k) {
        if (m.shares[f][k].classes < 2) continue;
        contributing.push_back(k);
        equalCounts = equalCounts && EqualClassCounts(m.shares[f][k]);
    }
    std::vector<std::string> names = FactorNames(term.name);
    std::string heading;
    for (const std::string& name : names) heading += data::Right(name, 4) + " ";
    heading += data::Right("mean", kNumberWidth);
    if (!equalCounts)
        for (size_t v = 1; v <= contributing.size(); ++v)
            heading += data::Right("V" + std::to_string(v), kNumberWidth);
    WriteLine(term.name + "-means.");
    WriteLine(heading);
    for (int l = 1; l <= term.levels; ++l) {
        std::string line;
        std::vector<int> digits = FactorLevels(term, l);
        for (size_t i = 0; i < names.size(); ++i)
            line += data::Int(digits[i], std::max<int>(4, names[i].size())) + " ";
        line += data::NumberText(kNumberWidth, kNumberDigits,
                                 term.sums[l] / static_cast<double>(term.counts[l]));
        if (!equalCounts)
            for (size_t k : contributing)
                line += ComponentText(VValue(m, k, m.shares[f][k], l), m.estimable[k]);
        WriteLine(line);
    }
    WriteLine();
    WriteLine("Variances of differences between means.");
    double total = 0;
    bool estimable = true;
    for (size_t v = 0; v < contributing.size(); ++v) {
        size_t k = contributing[v];
        const Share& share = m.shares[f][k];
        double value = 2 * VValue(m, k, share, 1);
        total += value;
        estimable = estimable && m.estimable[k];
        std::string text = equalCounts ? ComponentText(value, m.estimable[k])
                                       : " Sum of the two V" + std::to_string(v + 1) + "-values.";
        WriteLine(m.strata[k].name + " STRATUM contribution:" + text);
        // A random stratum adds to a difference only when the two means lie in different
        // levels of its term.
        if (m.strata[k].term >= 0)
            WriteLine("(add only for contrasts across " + m.strata[k].name + " levels).");
    }
    if (!equalCounts) return;
    WriteLine("Total:" + ComponentText(total, estimable));
    WriteLine("Standard deviation of difference between means: " +
              ComponentText(std::sqrt(std::max(total, 0.0)), estimable));
}

// ---- hooks ----

data::ModelFitHooks previousHooks;

bool AnovaVectorDeleted(int index, const std::string& name) {
    bool earlier =
        previousHooks.vectorDeleted != nullptr && previousHooks.vectorDeleted(index, name);
    bool ours = model.held &&
                std::find(model.vectors.begin(), model.vectors.end(), index) != model.vectors.end();
    if (ours) ReleaseAnova();
    return earlier || ours;
}

void AnovaSessionStarted() {
    if (previousHooks.sessionStarted != nullptr) previousHooks.sessionStarted();
    ReleaseAnova();
}

// The fit itself, after the previous one was released.
void FitAnovaModel(const std::string& modelLine) {
    WriteLine(kRule);
    WriteLine("ANOVA.FitANOVA");
    WriteLine();
    Model m;
    size_t equals = modelLine.find('=');
    const float* y = ReadResponse(Trimmed(modelLine.substr(0, equals)), m);
    if (y == nullptr) return;
    std::string right = equals == std::string::npos ? "" : modelLine.substr(equals + 1);
    if (Trimmed(right).empty()) return ReportError("No model specified");
    if (!ParseModel(right, m) || !CheckFactors(m)) return;
    for (Term& t : m.terms) CountLevels(t, y, m.n);
    if (!RelateTerms(m)) return;
    double unitsSS = Decompose(m, y);
    FormStrata(m, unitsSS);
    EstimateComponents(m);
    PrepareEstimates(m);
    PrintTable(m);
    PrintComponents(m);
    model = std::move(m);
    model.held = true;
}

}  // namespace

void FitANOVA(const std::string& modelLine) {
    if (!data::Enter("FitANOVA")) return;
    // A fit that fails releases the previous one; a fit stopped by the user leaves it.
    Model previous = std::move(model);
    ReleaseAnova();
    try {
        FitAnovaModel(modelLine);
    } catch (const data::Interrupted&) {
        model = std::move(previous);
        throw;
    }
}

void AnovaEstimate(const std::string& term) {
    if (!data::Enter("ANOVA.Estimate")) return;
    if (!model.held) return ReportError("No model has been fitted");
    std::string name = data::UpperName(Trimmed(term));
    if (name == "1") name = "CONSTANT";
    // B*A names the term A*B too.
    int f = 0;
    while (f < model.fixedEnd && SortedFactors(model.terms[f].name) != SortedFactors(name)) ++f;
    if (f == model.fixedEnd) return ReportError("Fixed effect of " + name + " not present");
    if (f == 0)
        EstimateGrandMean(model);
    else
        EstimateTerm(model, f);
    WriteLine();
}

bool AnovaHeld() {
    return model.held;
}

void ReleaseAnova() {
    model = Model();
}

void InstallAnovaHooks() {
    data::ModelFitHooks hooks = data::ModelFit();
    if (hooks.vectorDeleted == AnovaVectorDeleted) return;
    previousHooks = hooks;
    hooks.vectorDeleted = AnovaVectorDeleted;
    hooks.sessionStarted = AnovaSessionStarted;
    data::SetModelFitHooks(hooks);
}

}  // namespace korw::special
