// The linear normal fit: the streamed weighted cross-product matrix, the sweep with aliasing,
// the analysis-of-variance table, and the comparison of two fits.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models {

using data::Entry;
using data::ReportError;
using data::WriteLine;
using namespace detail;

namespace {

// A later column whose diagonal has fallen below this fraction of its diagonal before any
// sweep is a linear combination of the swept columns (to working precision): aliased.
constexpr double kAliasTolerance = 1.0E-10;
// F statistics from here on do not fit their fixed format and are written in exponent form.
constexpr double kLargeF = 9999999.9999;

struct Split {
    std::string response, formula, weight;
};

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool SplitModel(const std::string& model, Split& split) {
    size_t eq = model.find('=');
    if (eq == std::string::npos) {
        ReportError("Missing = in model specification");
        return false;
    }
    split.response = Trim(model.substr(0, eq));
    split.formula = model.substr(eq + 1);
    size_t slash = split.formula.rfind('/');
    if (slash != std::string::npos) {
        split.weight = Trim(split.formula.substr(slash + 1));
        split.formula.erase(slash);
    }
    return true;
}

VectorCopy CopyOf(int index) {
    const data::Vector& v = Entry(index);
    return {v.name, index, v.kind, v.length};
}

// Checks the response and weights over the present units; counts the observations.
bool CheckResponseAndWeights(const Split& split, int32_t& observations) {
    FitRecord& fit = Fit();
    std::string name = split.response;
    int r = data::LookUpVariate(name);
    if (r == 0) return false;
    fit.response = CopyOf(r);
    int32_t n = Entry(r).length;
    fit.weighted = !split.weight.empty();
    const float* w = nullptr;
    if (fit.weighted) {
        std::string wname = split.weight;
        int wi = data::LookUpVariate(wname);
        if (wi == 0) return false;
        if (Entry(wi).length != n) {
            ReportError("Weight variate " + wname + " of incorrect length");
            return false;
        }
        fit.weight = CopyOf(wi);
        w = Entry(wi).variate.data();
    }
    const float* y = Entry(r).variate.data();
    int32_t present = 0;
    observations = 0;
    for (int32_t u = 1; u <= n; ++u) {
        if (!data::UnitIncluded(u)) continue;
        if (y[u] == data::MissingValue) {
            ReportError("Variate " + fit.response.name + " has a missing value at unit " +
                        std::to_string(u));
            return false;
        }
        ++present;
        if (w == nullptr) continue;
        if (w[u] == data::MissingValue) {
            ReportError("Variate " + fit.weight.name + " has a missing value at unit " +
                        std::to_string(u));
            return false;
        }
        if (w[u] < 0) {
            ReportError(fit.weight.name + " has a negative value at unit " + std::to_string(u));
            return false;
        }
        if (w[u] > 0) ++observations;
    }
    if (present == 0) {
        ReportError("no units present in " + fit.response.name);
        return false;
    }
    if (w == nullptr) {
        observations = present;
    } else if (observations == 0) {
        ReportError("no units with " + fit.weight.name + " >0 present in " + fit.response.name);
        return false;
    }
    return true;
}

// M += w x x' over the present units with a weight other than 0, x the unit's design row with
// the response last.
bool Accumulate(std::vector<double>& m) {
    FitRecord& fit = Fit();
    const float* w = fit.weighted ? Entry(fit.weight.index).variate.data() : nullptr;
    Design design;
    if (!MakeDesign(fit.terms, design)) return false;
    // Without restrictions or weights every unit takes part, and no list of them is made.
    std::vector<int32_t> list;
    UnitList units{nullptr, static_cast<size_t>(fit.nUnits)};
    if (w != nullptr || data::RestrictionsPresent()) {
        for (int32_t u = 1; u <= fit.nUnits; ++u)
            if (data::UnitIncluded(u) && (w == nullptr || w[u] != 0)) list.push_back(u);
        units = {&list, list.size()};
    }
    AccumulateCrossProducts(
        design, units,
        [&](size_t begin, size_t count, double* d, double*) {
            for (size_t i = 0; i < count; ++i) d[i] = w != nullptr ? w[list[begin + i]] : 1.0;
        },
        0, m);
    return true;
}

struct TermLine {
    std::string name;
    int df = 0;
    double ss = 0;
};

// Sweeps the model columns in order; returns each term's sequential sum of squares.
std::vector<TermLine> SweepColumns(std::vector<double>& m, int q, bool& responseAliased) {
    FitRecord& fit = Fit();
    int p = q - 1;
    std::vector<double> diagonal(q);
    for (int k = 0; k < q; ++k) diagonal[k] = At(m, k, k);
    fit.aliased.assign(p, 0);
    std::vector<uint8_t> flagged(q, 0);
    for (int k = 0; k < q; ++k) flagged[k] = diagonal[k] == 0;
    fit.rank = 0;
    std::vector<TermLine> lines;
    double before = At(m, p, p);
    for (const Term& term : fit.terms) {
        TermLine line{term.name, 0, 0};
        for (int k = term.firstColumn; k <= term.lastColumn; ++k) {
            if (flagged[k]) continue;
            Sweep(m, q, k);
            ++fit.rank;
            ++line.df;
            for (int j = k + 1; j < q; ++j)
                if (!flagged[j] && At(m, j, j) < kAliasTolerance * diagonal[j]) flagged[j] = 1;
        }
        line.ss = before - At(m, p, p);
        before = At(m, p, p);
        lines.push_back(line);
    }
    for (int k = 0; k < p; ++k) fit.aliased[k] = flagged[k];
    responseAliased = flagged[p] != 0;
    return lines;
}

void StoreResults(std::vector<double>& m, int q) {
    FitRecord& fit = Fit();
    int p = q - 1;
    // A sum of squares; a value below 0 is rounding left over from a model that fits exactly.
    fit.residualSS = At(m, p, p) > 0 ? At(m, p, p) : 0.0;
    fit.residualDF = fit.observations - fit.rank;
    fit.variance = fit.residualDF > 0 ? fit.residualSS / fit.residualDF : 0;
    fit.estimates.assign(p, 0);
    fit.sds.assign(p, 0);
    for (int k = 0; k < p; ++k) {
        if (fit.aliased[k]) continue;
        fit.estimates[k] = At(m, p, k);
        double v = -At(m, k, k) * fit.variance;
        fit.sds[k] = v > 0 ? std::sqrt(v) : 0;
    }
    fit.numberOfParameters = p;
}

std::string Hyphens(int n) {
    return std::string(n, '-');
}

// The analysis-of-variance table; the term name gets a line of its own when the table is
// too wide for the output line.
void WriteTable(const std::vector<TermLine>& lines, double totalSS) {
    const FitRecord& fit = Fit();
    int nameWidth = 8;
    for (const TermLine& l : lines) nameWidth = std::max<int>(nameWidth, l.name.size());
    data::NumberFormat format = data::ChooseNumberFormat(20, 10, totalSS);
    int w = format.width;
    int numbersWidth = 4 + 2 + w + 2 + w + 2 + 12 + 2 + 9;
    bool narrow = nameWidth + 2 + numbersWidth > data::LineWidth();
    auto ss = [&](double x) { return data::FormatNumber(format, w, x); };
    auto row = [&](const std::string& name, int df, double s, double ms, bool test, double f,
                   double p) {
        std::string text = data::Int(df, 4) + "  " + ss(s) + "  " + ss(ms);
        if (test) {
            text += "  " + (f >= kLargeF ? data::Scientific(f, 12) : data::Fixed(f, 12, 4));
            text += "  " + data::Fixed(p, 9, 6);
        }
        if (narrow) {
            WriteLine(name);
            WriteLine(text);
        } else {
            std::string padded = name + std::string(nameWidth - name.size(), ' ');
            WriteLine(padded + "  " + text);
        }
    };
    WriteLine("ANALYSIS OF VARIANCE TABLE");
    WriteLine("Square sums and F-tests for removal of terms, last first.");
    WriteLine();
    std::string header = data::Right("D.F.", 4) + "  " + data::Right("S.S.", w) + "  " +
                         data::Right("M.S.", w) + "  " + data::Right("F", 12) + "  " +
                         data::Right("P", 9);
    int tableWidth = narrow ? numbersWidth : nameWidth + 2 + numbersWidth;
    if (narrow) {
        WriteLine("Effect");
        WriteLine(header);
    } else {
        WriteLine(data::Right("Effect", nameWidth) + "  " + header);
    }
    WriteLine(Hyphens(tableWidth));
    for (const TermLine& l : lines) {
        double ms = l.df > 0 ? l.ss / l.df : 0;
        bool test = l.df > 0 && fit.variance > 0;
        double f = test ? ms / fit.variance : 0;
        double p = test ? static_cast<double>(distr::FUpperTail(f, l.df, fit.residualDF)) : 0;
        row(l.name, l.df, l.ss, ms, test, f, p);
    }
    row("RESIDUAL", fit.residualDF, fit.residualSS, fit.variance, false, 0, 0);
    WriteLine(Hyphens(tableWidth));
    if (narrow) {
        WriteLine("TOTAL");
        WriteLine(data::Int(fit.observations, 4) + "  " + ss(totalSS));
    } else {
        WriteLine("TOTAL" + std::string(nameWidth - 5, ' ') + "  " +
                  data::Int(fit.observations, 4) + "  " + ss(totalSS));
    }
    WriteLine();
}

void WriteSummary(const std::vector<TermLine>& lines, bool responseAliased) {
    const FitRecord& fit = Fit();
    if (responseAliased)
        WriteLine("Computations not reliable - data constructed or strongly linearly dependent.");
    if (fit.residualDF == 0) WriteLine("No residual - variance not estimable.");
    WriteLine(std::to_string(fit.observations) + " observations, " + std::to_string(fit.rank) +
              " parameters estimated.");
    if (fit.variance <= 0) return;
    WriteLine("Estimated variance and standard deviation for " + fit.response.name +
              (fit.weighted ? "*sqrt(" + fit.weight.name + ")." : "."));
    WriteLine(data::NumberText(18, 6, fit.variance) + "       " +
              data::NumberText(16, 6, std::sqrt(fit.variance)));
    if (fit.terms.empty() || fit.terms.front().name != "CONSTANT") return;
    double s = 0;
    for (size_t t = 1; t < lines.size(); ++t) s += lines[t].ss;
    WriteLine("R-square = " + data::Fixed(s / (s + fit.residualSS), 6, 4));
}

// Everything after the record was saved; false on an error.
bool RunFit(const std::string& model) {
    FitRecord& fit = Fit();
    Split split;
    if (!SplitModel(model, split)) return false;
    int32_t observations = 0;
    if (!CheckResponseAndWeights(split, observations)) return false;
    std::string formula = split.formula + "+" + split.response;
    ParseFormula(formula);
    if (!data::ErrorFree) return false;
    BuildColumns(formula, fit.response.length);
    if (!data::ErrorFree) return false;
    // The response is the last term; it leaves the term list, its column stays last in M.
    fit.terms.pop_back();
    fit.columns.pop_back();
    fit.fitType.clear();
    // BuildColumns has checked the terms' variates for missing values at every present unit.
    int q = static_cast<int>(fit.columns.size()) + 1;
    if (q > MaxColumns) {
        ReportError("Attempt to create a symmetric matrix more than 1000x1000");
        return false;
    }
    fit.order = q;
    fit.observations = observations;
    fit.extraNames.clear();
    fit.mean = fit.varianceFunction = nullptr;
    fit.deviance = 0;
    std::vector<double> m(Packed(q, 0), 0.0);
    Term responseTerm;
    responseTerm.variates.push_back(fit.response.index);
    responseTerm.firstColumn = responseTerm.lastColumn = q - 1;
    fit.terms.push_back(responseTerm);
    bool accumulated = Accumulate(m);
    fit.terms.pop_back();
    if (!accumulated) return false;
    double totalSS = At(m, q - 1, q - 1);
    bool responseAliased = false;
    std::vector<TermLine> lines = SweepColumns(m, q, responseAliased);
    StoreResults(m, q);
    fit.matrix = std::move(m);
    WriteTable(lines, totalSS);
    WriteSummary(lines, responseAliased);
    return true;
}

}  // namespace

namespace detail {

double& At(std::vector<double>& m, int i, int j) {
    return i >= j ? m[Packed(i, j)] : m[Packed(j, i)];
}

// Sweep on k: M[i][j] -= M[i][k] M[k][j] / M[k][k] for i, j other than k; row and column k
// divided by |M[k][k]|; the diagonal becomes -1 / M[k][k].
void Sweep(std::vector<double>& m, int q, int k) {
    double pivot = At(m, k, k);
    for (int i = 0; i < q; ++i) {
        if (i == k) continue;
        double mik = At(m, i, k) / pivot;
        if (mik == 0) continue;
        for (int j = 0; j <= i; ++j)
            if (j != k) m[Packed(i, j)] -= mik * At(m, k, j);
    }
    double scale = std::fabs(pivot);
    for (int i = 0; i < q; ++i)
        if (i != k) At(m, i, k) /= scale;
    At(m, k, k) = -1.0 / pivot;
}

}  // namespace detail

void FitLinearNormal(const std::string& model) {
    if (!data::Enter("FitLinearNormal")) return;
    FitRecord saved = Fit();
    std::vector<Column> previousColumns = Fit().columns;
    if (!RunFit(model) || !data::ErrorFree) {
        Fit() = std::move(saved);
        return;
    }
    FitRecord& fit = Fit();
    fit.fitType = "FitLinearNormal";
    fit.previousColumns = std::move(previousColumns);
    fit.hasOffset = false;
    fit.offset = VectorCopy();
    if (!fit.weighted) fit.weight = VectorCopy();
    fit.previous = fit.current;
    fit.current = {fit.fitType, fit.response.name, fit.observations,
                   fit.rank,    fit.residualDF,    fit.residualSS};
}

void TestModelChange() {
    if (!data::Enter("TestModelChange")) return;
    const FitRecord& fit = Fit();
    if (fit.current.type.empty()) return ReportError("No models to compare");
    if (fit.previous.type.empty()) return ReportError("No model to compare with");
    if (fit.current.type != fit.previous.type)
        return ReportError("Two latest models are of different types");
    if (fit.current.response != fit.previous.response ||
        fit.current.observations != fit.previous.observations)
        return ReportError("Latest two models fitted for different data sets");
    bool added = fit.current.rank > fit.previous.rank;
    const FitCounters& large = added ? fit.current : fit.previous;
    const FitCounters& small = added ? fit.previous : fit.current;
    int change = large.rank - small.rank;
    WriteLine(std::to_string(change) + " parameters " + (added ? "added" : "removed"));
    if (fit.current.type != "FitLinearNormal") {
        double q = small.deviance - large.deviance;
        WriteLine("-2log(Q) = " + data::Fixed(q, 0, 4));
        if (change == 0) return;
        double p = static_cast<double>(distr::ChiSquareUpperTail(q, change));
        WriteLine("P[ ChiSquare(" + std::to_string(change) +
                  ") > -2log(Q) ] = " + data::Fixed(p, 0, 6));
        return;
    }
    double denominator = large.residualDF > 0 ? large.residualSS / large.residualDF : 0;
    if (change == 0 || denominator <= 0) {
        WriteLine("*** Denominator of variance-ratio is zero ***");
        return;
    }
    double f = ((small.residualSS - large.residualSS) / change) / denominator;
    double p = static_cast<double>(distr::FUpperTail(f, change, large.residualDF));
    WriteLine("variance-ratio = " + data::Fixed(f, 0, 6));
    WriteLine("P[ F(" + std::to_string(change) + "," + std::to_string(large.residualDF) +
              ") > variance-ratio ] = " + data::Fixed(p, 0, 6));
}

}  // namespace korw::models
