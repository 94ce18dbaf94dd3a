// Access to the fitted model: the parameter listing, single results, fitted values and
// residuals, and contrasts of estimates.
#include <cfloat>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models {

using data::Entry;
using data::ReportError;
using data::WriteLine;
using namespace detail;

namespace {

// Statistics from here on do not fit their fixed format and are written in exponent form.
constexpr double kLargeT = 9999999.999;
// Terms with more parameters than this get no table of pairwise contrasts.
constexpr int kMaxContrastParameters = 20;

bool LinearFit() {
    return Fit().fitType == "FitLinearNormal";
}

int Columns() {
    return static_cast<int>(Fit().columns.size());
}

// Design columns, then the extra parameters of a user-defined fit.
int Parameters() {
    return static_cast<int>(Fit().estimates.size());
}

// Covariance of estimates a and b (0-based) from the held swept matrix.
double Covariance(int a, int b) {
    const FitRecord& fit = Fit();
    if (fit.aliased[a] || fit.aliased[b]) return 0;
    double c = -fit.matrix[a >= b ? Packed(a, b) : Packed(b, a)];
    return LinearFit() ? c * fit.variance : c;
}

// Estimate, standard deviation, test statistic and two-sided P value, as the listings write
// them.
// The estimate right-aligned in its field of 20, with the decimals (and the exponent) that give
// its standard deviation 3 significant digits. Only the decimals come from the standard
// deviation's format, not its width: an estimate wider than its standard deviation (-10.56
// beside 7.294) must not push the later columns to the right. An estimate that does not fit
// the field at all is written in scientific notation.
std::string EstimateField(double estimate, double sd) {
    std::string text = data::FormatNumber(data::ChooseNumberFormat(20, 3, sd), 0, estimate);
    return text.size() <= 20 ? data::Right(text, 20) : data::Scientific(estimate, 20);
}

std::string EstimateLine(double estimate, double sd, const std::string& separator) {
    if (sd == 0)
        return data::NumberText(20, 6, estimate) + separator + data::Right("undefined", 14);
    double t = estimate / sd;
    long double p = LinearFit() ? 2 * distr::TUpperTail(std::fabs(t), Fit().residualDF)
                                : 2 * distr::NormalUpperTail(std::fabs(t));
    return EstimateField(estimate, sd) + separator + data::NumberText(14, 4, sd) + separator +
           (std::fabs(t) >= kLargeT ? data::Scientific(t, 11) : data::Fixed(t, 11, 3)) + separator +
           data::Fixed(static_cast<double>(p), 9, 6);
}

std::string StatisticHeader(const std::string& estimate, const std::string& sd,
                            const std::string& separator) {
    return data::Right(estimate, 20) + separator + data::Right(sd, 14) + separator +
           data::Right(LinearFit() ? "T" : "U", 11) + separator + data::Right("P", 9);
}

// Declares a missing variate of length n; checks an existing one. A wrong length is reported
// as prefix + name + suffix, the name in its normalised form. The procedure name of the caller
// is kept.
bool PrepareVariate(std::string& name, int32_t n, const std::string& prefix,
                    const std::string& suffix) {
    std::string procedure = data::ProcedureName;
    if (!data::CheckIdentifier(name)) return false;
    if (data::FindVector(name) == 0) {
        data::DeclareVariate(name, n);
        data::ProcedureName = procedure;
        if (!data::ErrorFree) return false;
    }
    int index = data::LookUpVariate(name);
    if (index == 0) return false;
    if (Entry(index).length != n) {
        ReportError(prefix + name + suffix);
        return false;
    }
    return true;
}

bool Deleted(const VectorCopy& copy) {
    const data::Vector& v = Entry(copy.index);
    return copy.kind == 0 || v.kind != copy.kind || v.name != copy.name;
}

// The linear predictor at the unit; MissingValue where a value it needs is missing.
double Predictor(int32_t unit, std::vector<TermValue>& row) {
    bool missing = false;
    if (!DesignRow(unit, row, missing)) return 0;
    double offset = OffsetValue(unit);
    if (missing || offset == data::MissingValue) return data::MissingValue;
    double eta = offset;
    for (const TermValue& x : row) eta += Fit().estimates[x.column] * x.value;
    return eta;
}

// x' C x for the design row of a unit.
double Quadratic(const std::vector<TermValue>& row) {
    double q = 0;
    for (size_t a = 0; a < row.size(); ++a) {
        for (size_t b = 0; b < a; ++b)
            q += 2 * row[a].value * row[b].value * Covariance(row[a].column, row[b].column);
        q += row[a].value * row[a].value * Covariance(row[a].column, row[a].column);
    }
    return q;
}

double WeightAt(int32_t unit) {
    const FitRecord& fit = Fit();
    return fit.weighted ? Entry(fit.weight.index).variate[unit] : 1.0;
}

// Checks of one SaveFitted item before anything is stored in it: 0 fitted, 1 residuals,
// 2 normed residuals.
bool CheckSaveItem(int item) {
    const FitRecord& fit = Fit();
    if (fit.columns.empty()) {
        ReportError("No linear parameters - fitted values are all zero");
        return false;
    }
    if (fit.hasOffset && Deleted(fit.offset)) {
        ReportError("The offset variate has been deleted");
        return false;
    }
    if (item >= 1 && fit.fitType != "FitUserDefined" && Deleted(fit.response)) {
        ReportError("The response variate has been deleted");
        return false;
    }
    if (item == 2 && fit.weighted && Deleted(fit.weight)) {
        ReportError("The weight variate has been deleted");
        return false;
    }
    if (fit.fitType == "FitUserDefined" && item >= 1) {
        ReportError(item == 1 ? "Residuals are not available for userdefined models"
                              : "Normed residuals are not available for userdefined models");
        return false;
    }
    if (item == 2 && fit.matrix.empty()) {
        ReportError("The covariance matrix is not available");
        return false;
    }
    return true;
}

// Value of one SaveFitted item at the unit (the missing value where it has none).
double SaveValue(int item, int32_t unit, std::vector<TermValue>& row) {
    const FitRecord& fit = Fit();
    double eta = Predictor(unit, row);
    if (eta == data::MissingValue) return data::MissingValue;
    double mean = fit.mean != nullptr ? fit.mean(eta) : eta;
    if (item == 0) return mean;
    float y = Entry(fit.response.index).variate[unit];
    if (y == data::MissingValue) return data::MissingValue;
    double e = y - mean;
    if (item == 1) return e;
    if (fit.varianceFunction != nullptr) {
        // After a likelihood fit: the Pearson residual over sqrt(1 - h), h the leverage
        // w V x'Cx of the unit.
        double w = WeightAt(unit);
        double v = fit.varianceFunction(eta);
        if (!data::UnitIncluded(unit) || w <= 0 || v <= 0) return data::MissingValue;
        double left = 1 - w * v * Quadratic(row);
        if (left <= 0) return data::MissingValue;
        return e * std::sqrt(w) / std::sqrt(v * left);
    }
    // The residual standardised by its own standard deviation sigma*sqrt((1 - h)/w); missing
    // where that is not positive or the unit took no part in the fit.
    double w = WeightAt(unit);
    if (!data::UnitIncluded(unit) || w <= 0 || fit.variance <= 0) return data::MissingValue;
    double v = fit.variance - Quadratic(row) * w;
    if (v <= 0) return data::MissingValue;
    return e * std::sqrt(w) / std::sqrt(v);
}

void SaveItem(int item, std::string name) {
    int32_t n = Fit().nUnits;
    if (!PrepareVariate(name, n, "", " is of incorrect length")) return;
    if (!CheckSaveItem(item)) return;
    std::vector<float> values(n + 1, 0);
    std::vector<TermValue> row;
    for (int32_t u = 1; u <= n; ++u) {
        // A value beyond single precision (the mean at a unit far from the fitted ones, or
        // undefined) is stored as missing, not as an infinity later fits would take for data.
        double value = SaveValue(item, u, row);
        values[u] = std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : data::MissingValue;
        if (!data::ErrorFree) return;
    }
    float* target = Entry(data::FindVector(name)).variate.data();
    for (int32_t u = 1; u <= n; ++u) target[u] = values[u];
}

void WriteContrasts(const Term& term) {
    const FitRecord& fit = Fit();
    int count = term.lastColumn - term.firstColumn + 1;
    if (count > kMaxContrastParameters) {
        WriteLine("No output - too many contrasts to estimate.");
        WriteLine("Notice that ESTIMATE can also estimate single contrasts.");
        return;
    }
    WriteLine("Contrasts between the parameters of " + term.name);
    WriteLine();
    WriteLine("  Parameter");
    for (int k = term.firstColumn; k <= term.lastColumn; ++k)
        WriteLine(data::Int(k - term.firstColumn + 1, 5) + "  " + ParameterName(k + 1));
    WriteLine();
    WriteLine(data::Right("  Contrast", 12) + StatisticHeader("Estimate", "S.D.", "  "));
    double varianceSum = 0;
    int pairs = 0;
    for (int i = term.firstColumn; i <= term.lastColumn; ++i) {
        for (int j = i + 1; j <= term.lastColumn; ++j) {
            double v = Covariance(i, i) + Covariance(j, j) - 2 * Covariance(i, j);
            double sd = v > 0 ? std::sqrt(v) : 0;
            varianceSum += v > 0 ? v : 0;
            ++pairs;
            std::string label = data::Int(i - term.firstColumn + 1, 5) + " -" +
                                data::Int(j - term.firstColumn + 1, 3);
            WriteLine(data::Right(label, 12) +
                      EstimateLine(fit.estimates[i] - fit.estimates[j], sd, "  "));
        }
    }
    if (pairs == 0) return;
    WriteLine();
    WriteLine("2*sqrt(average contrast variance):" +
              data::NumberText(14, 4, 2 * std::sqrt(varianceSum / pairs)));
    WriteLine("Estimates:");
    for (int k = term.firstColumn; k <= term.lastColumn; ++k)
        WriteLine(data::Int(k - term.firstColumn + 1, 5) +
                  data::NumberText(20, 6, fit.estimates[k]));
}

void WriteSingleContrast(const std::string& name, const float* c) {
    const FitRecord& fit = Fit();
    int p = Parameters();
    double estimate = 0, variance = 0;
    for (int i = 0; i < p; ++i) {
        estimate += c[i + 1] * fit.estimates[i];
        for (int j = 0; j < p; ++j) variance += c[i + 1] * c[j + 1] * Covariance(i, j);
    }
    WriteLine("Contrast with the coefficients of " + name);
    WriteLine(StatisticHeader("Estimate", "S.D.", "  "));
    WriteLine(EstimateLine(estimate, variance > 0 ? std::sqrt(variance) : 0, "  "));
}

}  // namespace

void ListParameters() {
    if (!data::Enter("ListParameters")) return;
    if (!HaveFit("No model fit information available")) return;
    const FitRecord& fit = Fit();
    int p = Parameters();
    std::vector<std::string> names;
    size_t nameWidth = 0;
    for (int k = 1; k <= p; ++k) {
        names.push_back(ParameterName(k));
        nameWidth = std::max(nameWidth, names.back().size());
    }
    int n = static_cast<int>(nameWidth);
    bool ownLine = n + 58 > data::LineWidth();
    std::string sep = !ownLine && n + 62 > data::LineWidth() ? " " : "  ";
    std::string lead = ownLine ? "" : std::string(n, ' ') + sep;
    WriteLine(lead + StatisticHeader("Estimate", "Std.dev.", sep));
    for (int k = 0; k < p; ++k) {
        std::string line;
        if (ownLine) {
            WriteLine(names[k]);
        } else {
            line = names[k] + std::string(nameWidth - names[k].size(), ' ') + sep;
        }
        if (fit.aliased[k]) {
            line += data::Right("set to zero", 20);
        } else {
            line += EstimateLine(fit.estimates[k], fit.sds[k], sep);
        }
        WriteLine(line);
    }
}

double Parameter(int k) {
    if (!data::Enter("Parameter")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    if (k < 1 || k > Parameters()) {
        ReportError("Argument " + std::to_string(k) + " out of range");
        return 0;
    }
    return Fit().estimates[k - 1];
}

double ParameterSD(int k) {
    if (!data::Enter("ParameterSD")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    if (k < 1 || k > Parameters()) {
        ReportError("Argument " + std::to_string(k) + " out of range");
        return 0;
    }
    return Fit().sds[k - 1];
}

double ParameterCov(int i, int j) {
    if (!data::Enter("ParameterCov")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    if (i < 1 || i > Parameters() || j < 1 || j > Parameters()) {
        ReportError("Argument out of range");
        return 0;
    }
    if (Fit().matrix.empty()) {
        ReportError("The covariance matrix is not available");
        return 0;
    }
    return Covariance(i - 1, j - 1);
}

double ModelVariance() {
    return LinearFit() ? Fit().variance : -1.0;
}

double Xmatrix(int32_t unit, int k) {
    if (!data::Enter("Xmatrix")) return 0;
    if (!HaveFit("No model fit information available")) return 0;
    if (k < 1 || k > Columns()) {
        ReportError("Parameter index out of range");
        return 0;
    }
    if (unit < 1 || unit > Fit().nUnits) {
        ReportError("Unit index out of range");
        return 0;
    }
    return ColumnValue(unit, k);
}

double Fitted(int32_t unit) {
    if (!data::Enter("Fitted")) return 0;
    if (!HaveFit("No model fit information available")) return 0;
    if (unit < 1 || unit > Fit().nUnits) {
        ReportError("Unit index " + std::to_string(unit) + " out of range");
        return 0;
    }
    std::vector<TermValue> row;
    double eta = Predictor(unit, row);
    if (eta == data::MissingValue || Fit().mean == nullptr) return eta;
    return Fit().mean(eta);
}

void SaveFitted(const std::string& fitted, const std::string& residuals,
                const std::string& normed) {
    if (!data::Enter("SaveFitted")) return;
    if (!HaveFit("No model fit information available")) return;
    const std::string* names[] = {&fitted, &residuals, &normed};
    for (int item = 0; item < 3; ++item) {
        if (names[item]->empty()) continue;
        SaveItem(item, *names[item]);
        if (!data::ErrorFree) return;
    }
}

void SaveNormedResiduals(const std::string& rName, const std::string& pName) {
    data::ErrorFree = true;
    if (!LinearFit()) return ReportError("Only available after FITLINEARNORMAL and FITNONLINEAR");
    SaveFitted("", rName, "");
    if (!data::ErrorFree) return;
    const FitRecord& fit = Fit();
    int32_t n = fit.nUnits;
    std::string r = rName, q = pName;
    if (!q.empty() && !PrepareVariate(q, n, "Incorrect length of ", "")) return;
    if (fit.weighted && Deleted(fit.weight))
        return ReportError("The weight vector has been deleted");
    if (fit.matrix.empty()) return ReportError("The covariance matrix is not available");
    data::CheckIdentifier(r);
    float* rv = Entry(data::FindVector(r)).variate.data();
    float* qv = q.empty() ? nullptr : Entry(data::FindVector(q)).variate.data();
    int df = fit.residualDF;
    double sigma2 = fit.variance;
    std::vector<TermValue> row;
    for (int32_t u = 1; u <= n; ++u) {
        double value = data::MissingValue;
        if (!data::UnitIncluded(u)) {
            rv[u] = 0;
            if (qv != nullptr) qv[u] = 1.0f;
            continue;
        }
        double w = WeightAt(u);
        bool missing = false;
        DesignRow(u, row, missing);
        double v = sigma2 > 0 ? (sigma2 - Quadratic(row) * w) / sigma2 : 0;
        if (v > 0 && df > 1 && w > 0 && rv[u] != data::MissingValue) {
            double e = rv[u] / std::sqrt(v) * std::sqrt(w);
            if (e * e < fit.residualSS) value = e / std::sqrt((fit.residualSS - e * e) / (df - 1));
        }
        rv[u] = static_cast<float>(value);
        if (qv != nullptr) {
            qv[u] = value == data::MissingValue
                        ? data::MissingValue
                        : static_cast<float>(2 * distr::TUpperTail(std::fabs(value), df - 1));
        }
    }
}

void EstimateContrasts(const std::string& arguments) {
    if (!data::Enter("EstimateContrast")) return;
    if (!HaveFit("No model fit information available")) return;
    std::istringstream words(arguments);
    std::string argument;
    if (!(words >> argument)) return ReportError("Missing argument");
    if (Fit().matrix.empty()) return ReportError("The covariance matrix is not available");
    do {
        std::string name = data::UpperName(argument);
        std::string termName = name == "1" ? "CONSTANT" : name;
        const Term* found = nullptr;
        for (const Term& term : Fit().terms)
            if (term.name == termName) found = &term;
        int index = data::FindVector(name);
        if (found != nullptr) {
            WriteContrasts(*found);
        } else if (index != 0 && Entry(index).kind == data::VariateKind &&
                   Entry(index).length == Parameters()) {
            WriteSingleContrast(name, Entry(index).variate.data());
        } else {
            return ReportError("Invalid argument " + name);
        }
        WriteLine();
    } while (words >> argument);
}

SavedFit::SavedFit() : record_(std::make_unique<detail::FitRecord>(detail::Fit())) {}

SavedFit::~SavedFit() = default;

void SavedFit::Restore() {
    detail::Fit() = std::move(*record_);
}

}  // namespace korw::models
