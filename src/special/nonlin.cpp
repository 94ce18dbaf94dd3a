// NonLin: the generalised non-linear model mu = m(eta), var(y) proportional to v(mu), fitted by
// iteratively reweighted least squares over COMPUTE expressions and weighted linear fits.
#include "special/nonlin.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "compute/compute.h"
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

namespace korw::special {

namespace {

using data::ReportError;
using data::WriteLine;
using models::detail::FitRecord;

constexpr const char* kFitProcedure = "FitNonLinear1";
constexpr const char* kTestProcedure = "NLTestModelChange";

// The iterations stop after this many weighted fits even when they have not converged.
constexpr int kMaxIterations = 100;
// A step that fails the step control is halved at most this many times; by then it is far
// below the resolution of the single-precision working vectors, so the fit stands still.
constexpr int kMaxHalvings = 100;
// Converged when the change of the means, weighted as in the fit and scaled by the residual
// variance and degrees of freedom, falls below this.
constexpr double kConvergence = 1.0E-12;
// Added to the residual degrees of freedom in the convergence measure, as a margin against a
// denominator that is nearly zero.
constexpr double kDFMargin = 0.1;
// The means are single-precision variates, so near a fit with a tiny residual variance the
// iteration can end in a cycle of rounding errors that the measure above never passes. A full
// (unhalved) step that moves the means by no more than kRoundingUnits units in their last
// place belongs to that cycle; after kStalledSteps such steps in a row the fit has converged.
// A halved step is small because it was cut, not because the fit has arrived.
constexpr double kRoundingUnits = 4.0;
constexpr int kStalledSteps = 3;
constexpr double kSingleEpsilon = std::numeric_limits<float>::epsilon();
// A step whose weighted residual sum of squares exceeds this multiple of the last accepted
// one overshoots: it is halved.
constexpr double kOvershoot = 2.0;
// Widest statistic of the test for no over-dispersion in fixed notation.
constexpr size_t kStatisticWidth = 16;
// Working values beyond single precision cannot be stored in the working variates.
constexpr double kSingleRange = 3.3E38;

// The names the next fit leaves its working vectors under, and its starting values.
std::string workingResponse = DefaultWorkingResponse;
std::string workingWeight = DefaultWorkingWeight;
std::string startName;

// What a later NLTestModelChange compares of one fit.
struct Summary {
    std::string response;
    int32_t units = 0;
    int32_t observations = 0;
    int rank = 0;
    int residualDF = 0;
    double residualSS = 0;  // weighted residual sum of squares of the last weighted fit
};

bool haveLast = false, havePrevious = false;
Summary lastFit, previousFit;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool IsNameChar(unsigned char c) {
    return std::isalnum(c) != 0 || c == '#' || c == '$' || c == '%' || c == '&' || c == '@' ||
           c == '_' || c >= 128;
}

// The names that a text mentions: runs of identifier characters that do not start with a
// digit, in upper case.
std::vector<std::string> NamesIn(const std::string& text) {
    std::vector<std::string> names;
    size_t i = 0;
    while (i < text.size()) {
        if (!IsNameChar(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && IsNameChar(text[i])) ++i;
        if (std::isdigit(static_cast<unsigned char>(text[start])) == 0)
            names.push_back(data::UpperName(text.substr(start, i - start)));
    }
    return names;
}

// ---- The model text --------------------------------------------------------------------

// "response [- offset] = formula [/ weight]"; "*" for an optional name means none.
struct Specification {
    std::string response, offset, formula, weight;
};

std::string OptionalName(const std::string& text) {
    std::string name = Trim(text);
    return name == "*" ? "" : name;
}

bool SplitSpecification(const std::string& text, Specification& spec) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        ReportError("No \"=\" in model specification");
        return false;
    }
    std::string left = text.substr(0, eq);
    size_t minus = left.find('-');
    spec.response = Trim(left.substr(0, minus));
    if (minus != std::string::npos) spec.offset = OptionalName(left.substr(minus + 1));
    spec.formula = text.substr(eq + 1);
    size_t slash = spec.formula.rfind('/');
    if (slash != std::string::npos) {
        spec.weight = OptionalName(spec.formula.substr(slash + 1));
        spec.formula.erase(slash);
    }
    return true;
}

// The data of the fit that stay fixed while it iterates, looked up and checked.
struct FitData {
    std::string response, weight, offset, start;  // normalised names; empty when not given
    int32_t n = 0;
    std::vector<int32_t> units;  // present units with a positive prior weight
};

const float* DataOf(const std::string& name) {
    return name.empty() ? nullptr : data::Entry(data::FindVector(name)).variate.data();
}

float* MutableDataOf(const std::string& name) {
    return data::Entry(data::FindVector(name)).variate.data();
}

// Looks up an optional variate of the response's length; the name is normalised in place.
bool CheckGivenVariate(std::string& name, int32_t n) {
    if (name.empty()) return true;
    int index = data::LookUpVariate(name);
    if (index == 0) return false;
    if (data::Entry(index).length != n) {
        ReportError("Invalid length of " + name);
        return false;
    }
    return true;
}

bool CheckResponse(FitData& fit) {
    int index = data::LookUpVariate(fit.response);
    if (index == 0) return false;
    fit.n = data::Entry(index).length;
    const float* y = DataOf(fit.response);
    for (int32_t u = 1; u <= fit.n; ++u) {
        if (data::UnitIncluded(u) && y[u] == data::MissingValue) {
            ReportError(fit.response + " has a missing value");
            return false;
        }
    }
    return true;
}

// Prior weights must be usable numbers and the offset present wherever a unit takes part;
// collects the units of the fit.
bool CheckWeightAndOffset(FitData& fit) {
    const float* w = DataOf(fit.weight);
    const float* offset = DataOf(fit.offset);
    int32_t present = 0;
    for (int32_t u = 1; u <= fit.n; ++u) {
        if (!data::UnitIncluded(u)) continue;
        ++present;
        if (w != nullptr) {
            if (w[u] == data::MissingValue) {
                ReportError(fit.weight + " has a missing value");
                return false;
            }
            if (w[u] < 0) {
                ReportError(fit.weight + " has a negative value at unit " + std::to_string(u));
                return false;
            }
            if (w[u] == 0) continue;
        }
        if (offset != nullptr && offset[u] == data::MissingValue) {
            ReportError(fit.offset + " has a missing value");
            return false;
        }
        fit.units.push_back(u);
    }
    if (present == 0) {
        ReportError("no units present in " + fit.response);
        return false;
    }
    if (fit.units.empty()) {
        ReportError("no units with " + fit.weight + " >0 present in " + fit.response);
        return false;
    }
    return true;
}

// The working vectors replace whatever carries their names, so they must not name a vector
// that the fit itself reads.
bool CheckWorkingNames(const FitData& fit, const Specification& spec) {
    std::string names[2] = {workingResponse, workingWeight};
    for (std::string& name : names)
        if (!data::CheckIdentifier(name)) return false;
    if (names[0] == names[1]) {
        ReportError("The working response and weight need different names");
        return false;
    }
    std::vector<std::string> used = NamesIn(spec.formula);
    for (const std::string* s : {&fit.response, &fit.weight, &fit.offset, &fit.start})
        if (!s->empty()) used.push_back(*s);
    for (const std::string& name : names) {
        for (const std::string& u : used) {
            if (u == name) {
                ReportError(name + " is used in the model specification");
                return false;
            }
        }
    }
    return true;
}

bool CheckSpecification(const Specification& spec, const std::string& start, FitData& fit) {
    fit.response = spec.response;
    fit.weight = spec.weight;
    fit.offset = spec.offset;
    fit.start = start;
    if (!CheckResponse(fit)) return false;
    for (std::string* name : {&fit.weight, &fit.offset, &fit.start})
        if (!CheckGivenVariate(*name, fit.n)) return false;
    return CheckWeightAndOffset(fit);
}

void WriteDependentLine(const FitData& fit) {
    std::string line = "Dependent variate " + fit.response;
    if (!fit.weight.empty()) line += ", weights " + fit.weight;
    if (!fit.offset.empty()) line += ", offset " + fit.offset;
    WriteLine(line);
}

// ---- Scratch state: temporary vectors, the quiet output and the saved fit record -------

// Everything a fit must undo on leaving: its temporary vectors, the output switched to the
// null device, and (unless the fit succeeded) the fit record of before. The error state that ends
// the fit survives the clean-up.
struct Scratch {
    std::vector<std::string> temporaries;
    std::string savedOutput;
    bool quiet = false;
    bool restoreRecord = true;
    FitRecord savedRecord;

    Scratch() : savedRecord(models::detail::Fit()) {}
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    ~Scratch() {
        bool errorFree = data::ErrorFree;
        std::string message = data::ErrorMessage;
        try {
            Release();
            if (quiet) Loud();
        } catch (const data::Fault&) {
            // Already leaving; the error that ended the fit is the one to report.
        }
        if (restoreRecord) models::detail::Fit() = std::move(savedRecord);
        data::ErrorFree = errorFree;
        data::ErrorMessage = message;
        data::ProcedureName = kFitProcedure;
    }

    // A new variate of n units (all 0) named like a temporary; its name, "" after an error.
    std::string Declare(int32_t n) {
        std::string name = data::FreeTemporaryName();
        data::DeclareVariate(name, n);
        data::ProcedureName = kFitProcedure;
        if (!data::ErrorFree) return "";
        temporaries.push_back(name);
        return name;
    }

    void Release() {
        for (const std::string& name : temporaries)
            if (data::FindVector(name) != 0) data::Delete(name);
        temporaries.clear();
    }

    // While the fit iterates its output (and the warnings of COMPUTE) goes to the null device.
    void Quiet() {
        savedOutput = data::OutFileName();
        data::NewOutFile("nul");
        quiet = true;
    }

    void Loud() {
        quiet = false;
        if (savedOutput.empty())
            data::CloseOutFile();
        else
            data::OldOutFile(savedOutput);
    }
};

// ---- The iteration --------------------------------------------------------------------

// The temporary variates of one fit and the state of its iteration; vectors indexed by the
// position of a unit in FitData::units.
struct Iteration {
    const FitData* fit = nullptr;
    std::string eta, mu, dm, v, wy, ww;  // names of the temporary variates
    std::string muLine, dmLine, vLine;   // the COMPUTE lines of the three functions
    std::string model;                   // the weighted linear fit
    std::vector<double> current;         // accepted linear predictor
    std::vector<double> fitted;          // linear predictor of the last weighted fit
    std::vector<double> trial;
    std::vector<float> muBefore;
    double rss = 0;        // weighted residual sum of squares at the accepted predictor
    int count = 0;         // weighted fits made
    int stalled = 0;       // full steps in a row that only moved the means by rounding
    bool fullStep = true;  // the last step was taken without halving
};

// Units at which the functions failed at the last evaluation.
struct Failures {
    int32_t missing = 0;  // a function value missing, or working values out of range
    int32_t dmZero = 0;
    int32_t vZero = 0;
};

// The stored data of one pass over the units, looked up once per pass.
struct Arrays {
    const float* y;
    const float* prior;   // nullptr: weight 1
    const float* offset;  // nullptr: offset 0
    const float* mu;
    const float* dm;
    const float* v;

    double Prior(int32_t u) const { return prior != nullptr ? prior[u] : 1.0; }
    double Offset(int32_t u) const { return offset != nullptr ? offset[u] : 0.0; }
};

Arrays ArraysOf(const Iteration& it) {
    const FitData& fit = *it.fit;
    return {DataOf(fit.response), DataOf(fit.weight), DataOf(fit.offset),
            DataOf(it.mu),        DataOf(it.dm),      DataOf(it.v)};
}

bool RunCompute(const std::string& line) {
    compute::Compute(line);
    data::ProcedureName = kFitProcedure;
    return data::ErrorFree;
}

// m, Dm and v at the linear predictor `eta`; counts the units where they fail.
bool Evaluate(Iteration& it, const std::vector<double>& eta, Failures& failures) {
    const FitData& fit = *it.fit;
    float* e = MutableDataOf(it.eta);
    for (size_t i = 0; i < fit.units.size(); ++i) e[fit.units[i]] = static_cast<float>(eta[i]);
    if (!RunCompute(it.muLine) || !RunCompute(it.dmLine) || !RunCompute(it.vLine)) return false;
    Arrays a = ArraysOf(it);
    failures = Failures();
    for (int32_t u : fit.units) {
        if (a.mu[u] == data::MissingValue || a.dm[u] == data::MissingValue ||
            a.v[u] == data::MissingValue) {
            ++failures.missing;
            continue;
        }
        if (a.dm[u] == 0) ++failures.dmZero;
        if (a.v[u] == 0) ++failures.vZero;
        if (a.dm[u] == 0 || a.v[u] == 0) continue;
        // A negative variance, or working values that a variate cannot hold, count as a
        // function without a value: the weighted fit could not use the unit.
        double step = (a.y[u] - a.mu[u]) / a.dm[u];
        double weight = a.Prior(u) * a.dm[u] * a.dm[u] / a.v[u];
        if (!(std::fabs(step) < kSingleRange) || !(weight >= 0 && weight < kSingleRange))
            ++failures.missing;
    }
    return true;
}

// The quantity the fit minimises: sum of prior (y - mu)^2 / v(mu) over the units of the fit.
double WeightedRSS(const Iteration& it) {
    Arrays a = ArraysOf(it);
    double sum = 0;
    for (int32_t u : it.fit->units) {
        double e = a.y[u] - a.mu[u];
        sum += a.Prior(u) * e * e / a.v[u];
    }
    return sum;
}

// Working response z = eta - offset + (y - mu) / Dm(eta) and working weight
// w = prior Dm(eta)^2 / v(mu) at the units of the fit; other present units get weight 0.
void StoreWorkingValues(const Iteration& it) {
    const FitData& fit = *it.fit;
    Arrays a = ArraysOf(it);
    float* z = MutableDataOf(it.wy);
    float* w = MutableDataOf(it.ww);
    for (int32_t u = 1; u <= fit.n; ++u) z[u] = w[u] = 0;
    for (size_t i = 0; i < fit.units.size(); ++i) {
        int32_t u = fit.units[i];
        z[u] = static_cast<float>(it.current[i] - a.Offset(u) + (a.y[u] - a.mu[u]) / a.dm[u]);
        w[u] = static_cast<float>(a.Prior(u) * a.dm[u] * a.dm[u] / a.v[u]);
    }
}

// The linear predictor of the weighted fit just made, offset included.
bool FittedPredictor(Iteration& it) {
    const FitData& fit = *it.fit;
    const FitRecord& record = models::detail::Fit();
    models::detail::Design design;
    if (!models::detail::MakeDesign(record.terms, design)) return false;
    models::detail::LinearPredictor(design, {&fit.units, fit.units.size()}, record.estimates,
                                    ArraysOf(it).offset, it.fitted);
    return true;
}

// One weighted fit of the formula to the working response.
bool WeightedFit(Iteration& it) {
    StoreWorkingValues(it);
    models::FitLinearNormal(it.model);
    data::ProcedureName = kFitProcedure;
    if (!data::ErrorFree) return false;
    ++it.count;
    if (models::detail::Fit().residualDF <= 0) {
        ReportError("No degrees of freedom for the residual");
        return false;
    }
    return FittedPredictor(it);
}

// Moves the predictor towards the weighted fit's, halving the step while it makes more
// functions fail or overshoots: its weighted residual sum of squares exceeds twice the
// previous one, the larger of the sum at the last accepted predictor and the residual sum of
// squares of the weighted fit (the sum the linearised model predicts for the full step). A
// start at the data themselves, where the sum is 0, can so still move.
bool TakeStep(Iteration& it) {
    double lambda = 1.0;
    Failures failures;
    for (int halvings = 0;; ++halvings, lambda /= 2) {
        for (size_t i = 0; i < it.trial.size(); ++i)
            it.trial[i] = it.current[i] + lambda * (it.fitted[i] - it.current[i]);
        if (!Evaluate(it, it.trial, failures)) return false;
        bool last = halvings == kMaxHalvings;
        if (failures.missing + failures.dmZero > 0) {
            if (last) {
                ReportError("Function returns missing value - initialize");
                return false;
            }
            continue;
        }
        if (failures.vZero > 0) {
            ReportError("v(.) has a value zero - degenerate data?");
            return false;
        }
        double rss = WeightedRSS(it);
        if (rss > kOvershoot * std::max(it.rss, models::detail::Fit().residualSS) && !last)
            continue;
        it.rss = rss;
        it.current.swap(it.trial);
        it.fullStep = halvings == 0;
        return true;
    }
}

// Change of the means over the step, weighted as in the fit, relative to the residual
// variance of the weighted fit. Counts a full step in `it.stalled` when it changed the means
// by no more than their rounding.
double ConvergenceMeasure(Iteration& it) {
    const FitData& fit = *it.fit;
    Arrays a = ArraysOf(it);
    double change = 0, rounding = 0;
    for (size_t i = 0; i < fit.units.size(); ++i) {
        int32_t u = fit.units[i];
        double d = a.mu[u] - it.muBefore[i];
        double ulp = kRoundingUnits * kSingleEpsilon * std::fabs(a.mu[u]);
        change += d * d * a.Prior(u) / a.v[u];
        rounding += ulp * ulp * a.Prior(u) / a.v[u];
    }
    it.stalled = it.fullStep && change <= rounding ? it.stalled + 1 : 0;
    const FitRecord& record = models::detail::Fit();
    double scale = std::fabs(record.variance) * (record.residualDF + kDFMargin);
    if (scale > 0) return change / scale;
    return change == 0 ? 0 : std::numeric_limits<double>::infinity();
}

void RememberMeans(Iteration& it) {
    const float* mu = DataOf(it.mu);
    for (size_t i = 0; i < it.fit->units.size(); ++i) it.muBefore[i] = mu[it.fit->units[i]];
}

// The starting predictor (the start variate, or 0) must give every function a usable value.
bool Initialize(Iteration& it) {
    const FitData& fit = *it.fit;
    const float* start = DataOf(fit.start);
    for (size_t i = 0; i < fit.units.size(); ++i)
        it.current[i] = start != nullptr ? start[fit.units[i]] : 0.0;
    Failures failures;
    if (!Evaluate(it, it.current, failures)) return false;
    if (failures.dmZero > 0) {
        ReportError("Dm(.) has a value zero - initialize");
        return false;
    }
    if (failures.vZero > 0) {
        ReportError("v(.) has a value zero - initialize");
        return false;
    }
    if (failures.missing > 0) {
        ReportError("Function returns missing value - initialize");
        return false;
    }
    it.rss = WeightedRSS(it);
    return true;
}

// Iterates until convergence or the iteration limit; true in `converged` when it converged.
bool Iterate(Iteration& it, bool& converged) {
    converged = false;
    if (!Initialize(it)) return false;
    while (it.count < kMaxIterations) {
        data::ReportProgress("iteration " + std::to_string(it.count + 1));
        data::Poll();
        RememberMeans(it);
        if (!WeightedFit(it) || !TakeStep(it)) return false;
        if (ConvergenceMeasure(it) < kConvergence || it.stalled == kStalledSteps) {
            converged = true;
            return true;
        }
    }
    return true;
}

bool DeclareWorkspace(Scratch& scratch, Iteration& it, const Specification& spec,
                      const std::string& m, const std::string& dm, const std::string& v) {
    int32_t n = it.fit->n;
    for (std::string* name : {&it.eta, &it.mu, &it.dm, &it.v, &it.wy, &it.ww}) {
        *name = scratch.Declare(n);
        if (name->empty()) return false;
    }
    if (!it.fit->start.empty()) {
        // The start variate's values at units outside the fit feed the functions there too.
        const float* start = DataOf(it.fit->start);
        float* e = MutableDataOf(it.eta);
        for (int32_t u = 1; u <= n; ++u) e[u] = start[u] == data::MissingValue ? 0 : start[u];
    }
    it.muLine = it.mu + "=" + ReplaceArgument(m, it.eta);
    it.dmLine = it.dm + "=" + ReplaceArgument(dm, it.eta);
    it.vLine = it.v + "=" + ReplaceArgument(v, it.mu);
    it.model = it.wy + "=" + spec.formula + "/" + it.ww;
    size_t units = it.fit->units.size();
    it.current.assign(units, 0);
    it.fitted.assign(units, 0);
    it.trial.assign(units, 0);
    it.muBefore.assign(units, 0);
    return true;
}

// The working vectors leave the fit under their own names, replacing older vectors of those
// names; the temporaries are gone by then, so no name can clash with one of them.
bool KeepWorkingVectors(Scratch& scratch, const Iteration& it) {
    int32_t n = it.fit->n;
    const float* z = DataOf(it.wy);
    const float* w = DataOf(it.ww);
    std::vector<float> zCopy(z, z + n + 1), wCopy(w, w + n + 1);
    scratch.Release();
    for (const std::string* name : {&workingResponse, &workingWeight}) {
        std::string normalised = data::UpperName(Trim(*name));
        if (data::FindVector(normalised) != 0) data::Delete(normalised);
        if (!data::ErrorFree) return false;
        data::DeclareVariate(normalised, n);
        if (!data::ErrorFree) return false;
        scratch.temporaries.push_back(normalised);
    }
    std::copy(zCopy.begin(), zCopy.end(), MutableDataOf(data::UpperName(Trim(workingResponse))));
    std::copy(wCopy.begin(), wCopy.end(), MutableDataOf(data::UpperName(Trim(workingWeight))));
    data::ProcedureName = kFitProcedure;
    return true;
}

void WriteOverDispersionTest() {
    const FitRecord& record = models::detail::Fit();
    double statistic = record.residualDF * record.variance;
    double p = static_cast<double>(distr::ChiSquareUpperTail(statistic, record.residualDF));
    WriteLine("Test for no over-dispersion:");
    // Four decimals while the number stays short; a huge statistic (data near the top of the
    // single-precision range) in scientific notation, so the line keeps its width.
    std::string text = data::Fixed(statistic, 0, 4);
    if (text.size() > kStatisticWidth) text = Trim(data::Scientific(statistic, kStatisticWidth));
    WriteLine("P[ ChiSquare(" + std::to_string(record.residualDF) + ") > " + text +
              " ] = " + data::Fixed(p, 0, 6));
}

void RememberFit(const FitData& fit) {
    const FitRecord& record = models::detail::Fit();
    previousFit = lastFit;
    havePrevious = haveLast;
    lastFit = {fit.response,        fit.n,
               record.observations, record.rank,
               record.residualDF,   record.residualDF * record.variance};
    haveLast = true;
}

// The last weighted fit again, on the kept working vectors and with its output shown.
bool WriteLastIteration(Scratch& scratch, const Iteration& it, const Specification& spec,
                        bool converged) {
    scratch.Loud();
    if (!data::ErrorFree) return false;
    if (converged)
        WriteLine("Convergence after " + std::to_string(it.count) + " iterations.");
    else
        WriteLine("Warning: maximum of 100 iterations performed.");
    WriteLine("Output from last iteration:");
    if (!KeepWorkingVectors(scratch, it)) return false;
    models::FitLinearNormal(workingResponse + "=" + spec.formula + "/" + workingWeight);
    data::ProcedureName = kFitProcedure;
    if (!data::ErrorFree) return false;
    scratch.temporaries.clear();
    return true;
}

bool RunFit(Scratch& scratch, const std::string& specification, const std::string& m,
            const std::string& dm, const std::string& v, const std::string& start) {
    WriteLine("NON-LINEAR REGRESSION BY ITERATIVELY REWEIGHTED LEAST SQUARES");
    WriteLine("Mean function  mu = m(eta) = " + ReplaceArgument(m, "eta"));
    WriteLine("Variance function  v(mu) = " + ReplaceArgument(v, "mu"));
    Specification spec;
    if (!SplitSpecification(specification, spec)) return false;
    FitData fit;
    if (!CheckSpecification(spec, start, fit)) return false;
    WriteDependentLine(fit);
    if (!CheckWorkingNames(fit, spec)) return false;
    data::ProcedureName = kFitProcedure;
    Iteration it;
    it.fit = &fit;
    if (!DeclareWorkspace(scratch, it, spec, m, dm, v)) return false;
    scratch.Quiet();
    bool converged = false;
    if (!Iterate(it, converged)) return false;
    // The working vectors replace the user's vectors of their names: no stop after this point.
    data::HoldStops hold;
    if (!WriteLastIteration(scratch, it, spec, converged)) return false;
    WriteOverDispersionTest();
    RememberFit(fit);
    return true;
}

bool IsDigitAt(const std::string& text, size_t i) {
    return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0;
}

}  // namespace

void SetWorkingNames(const std::string& response, const std::string& weight) {
    workingResponse = data::CutChars(response, 8);
    workingWeight = data::CutChars(weight, 8);
}

void SetStartingValues(const std::string& name) {
    startName = Trim(name);
}

std::string ReplaceArgument(const std::string& text, const std::string& argument) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        bool number = IsDigitAt(text, i + 1) || (i > 0 && IsDigitAt(text, i - 1));
        if (text[i] == '.' && !number)
            result += argument;
        else
            result += text[i];
    }
    return result;
}

void FitNonLinear1(const std::string& specification, const std::string& m, const std::string& dm,
                   const std::string& v) {
    std::string start;
    start.swap(startName);
    if (!data::Enter(kFitProcedure)) return;
    Scratch scratch;
    if (RunFit(scratch, specification, m, dm, v, start)) scratch.restoreRecord = false;
}

void NLTestModelChange(const std::string& comparison) {
    if (!data::Enter(kTestProcedure)) return;
    if (!haveLast) return ReportError("No models to compare");
    if (!havePrevious) return ReportError("No model to compare with");
    for (const std::string& name : NamesIn(comparison)) {
        int index = data::FindVector(name);
        if (index == 0 || data::Entry(index).length != lastFit.units)
            return ReportError(name + " is of incorrect length or type");
    }
    if (lastFit.response != previousFit.response || lastFit.units != previousFit.units ||
        lastFit.observations != previousFit.observations)
        return ReportError("Latest two models fitted for different data sets");
    bool added = lastFit.rank > previousFit.rank;
    const Summary& large = added ? lastFit : previousFit;
    const Summary& small = added ? previousFit : lastFit;
    int change = large.rank - small.rank;
    WriteLine(std::to_string(change) + " parameters " + (added ? "added" : "removed"));
    double denominator = large.residualDF > 0 ? large.residualSS / large.residualDF : 0;
    if (change == 0 || denominator <= 0) {
        WriteLine("*** Denominator of variance-ratio i zero ***");
        return;
    }
    double f = ((small.residualSS - large.residualSS) / change) / denominator;
    double p = static_cast<double>(distr::FUpperTail(f, change, large.residualDF));
    WriteLine("variance-ratio = " + data::Fixed(f, 20, 6));
    WriteLine("P[ F(" + std::to_string(change) + "," + std::to_string(large.residualDF) +
              ") > variance-ratio ] = " + data::Fixed(p, 9, 6));
}

void ForgetNonLinearFits() {
    haveLast = havePrevious = false;
}

}  // namespace korw::special
