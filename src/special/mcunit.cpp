// McCullagh's model for grouped ordinal data on FitUserDefined: the response checks, the
// likelihood functions handed to the engine, and the table of observed and fitted counts with
// the goodness-of-fit tests.
//
// The engine asks for the log-likelihood, then for every first derivative and every pair of
// second derivatives at the same estimates. The derivatives of one parameter vector are
// computed in one pass over the units and served from a cache keyed by those estimates.
#include "special/mcunit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::special {

using data::Entry;
using data::ReportError;
using data::WriteLine;

namespace {

constexpr const char* kProcedure = "McUnit.FitMcCullaghModel";
// The unit column and the two fields of a category in the observation table.
constexpr int kUnitWidth = 6;
constexpr int kCountWidth = 6;
constexpr int kFittedWidth = 7;
constexpr int kFittedDecimals = 3;
constexpr int kContinuationIndent = 4;
// Counts below this are written as whole numbers when they are whole, fitted counts with three
// decimals; larger ones in scientific notation of this width.
constexpr double kLargestWholeCount = 1.0E9;
constexpr int kScientificWidth = 11;

std::string heading;

// Everything the likelihood functions of one fit use.
struct McFit {
    mcunit::Distribution dist;
    mcunit::OrdinalData data;
    std::vector<std::string> responseNames;
    int32_t length = 0;
    bool firstCall = true;
    // The values at the estimates `at`: the log-likelihood, and the derivatives when
    // haveDerivatives.
    std::vector<double> at;
    bool haveValues = false, haveDerivatives = false;
    double logLikelihood = 0;
    std::vector<double> gradient, hessian;
};

std::vector<std::string> Names(std::string text) {
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::vector<std::string> names;
    for (std::string name; in >> name;) names.push_back(name);
    return names;
}

// The estimates of the fit in progress (what models::CurrentEstimate returns one by one).
const std::vector<double>& CurrentEstimates() {
    return models::detail::Fit().estimates;
}

// Reports a message of this module from inside the engine and ends its iterations.
double Stop(const std::string& message) {
    data::ProcedureName = kProcedure;
    ReportError(message);
    models::StopIterations = true;
    return 0;
}

bool CheckCategoryTotals(const McFit& s) {
    int K = s.data.categories;
    std::vector<double> total(K + 1, 0.0);
    if (!s.data.level.empty()) {
        for (uint8_t level : s.data.level) total[level] += 1;
    } else {
        for (size_t cell = 0; cell < s.data.counts.size(); cell += K)
            for (int j = 1; j <= K; ++j) total[j] += s.data.counts[cell + j - 1];
    }
    for (int j = 1; j <= K; ++j) {
        if (total[j] == 0) {
            ReportError("Empty response category - collapse and try again");
            return false;
        }
    }
    return true;
}

// A factor response: one observation per included unit, in the category of its level.
bool ReadFactorResponse(std::string name, McFit& s) {
    int index = data::LookUpFactor(name);
    if (index == 0) return false;
    const data::Vector& v = Entry(index);
    s.responseNames = {v.name};
    s.length = v.length;
    int K = v.levels;
    if (K < 2) {
        ReportError("The response factor must have at least 2 levels");
        return false;
    }
    s.data.categories = K;
    s.data.units.reserve(v.length);
    s.data.level.reserve(v.length);
    for (int32_t u = 1; u <= v.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        int level = v.factor[u];
        // A level above the factor's count (written through FactorPointer) is no level either.
        if (level == 0 || level > K) {
            ReportError("The response factor has a level 0");
            return false;
        }
        s.data.units.push_back(u);
        s.data.level.push_back(static_cast<uint8_t>(level));
    }
    // An unused level would put a threshold at infinity; it gets the count variates' message.
    return CheckCategoryTotals(s);
}

// Count variates: one category each. Missing and negative counts are refused, as the weights
// of the other fits are.
bool ReadCountResponse(const std::vector<std::string>& names, McFit& s) {
    std::vector<int> indices;
    for (std::string name : names) {
        int index = data::LookUpVariate(name);
        if (index == 0) return false;
        const data::Vector& v = Entry(index);
        double total = 0;
        for (int32_t u = 1; u <= v.length; ++u) {
            if (!data::UnitIncluded(u)) continue;
            float c = v.variate[u];
            if (c == data::MissingValue) {
                ReportError("Variate " + v.name + " has a missing value at unit " +
                            std::to_string(u));
                return false;
            }
            if (c < 0) {
                ReportError(v.name + " has a negative value at unit " + std::to_string(u));
                return false;
            }
            total += c;
        }
        if (total == 0) {
            ReportError("Empty response category - collapse and try again");
            return false;
        }
        indices.push_back(index);
        s.responseNames.push_back(v.name);
    }
    s.length = Entry(indices[0]).length;
    for (int index : indices) {
        if (Entry(index).length != s.length) {
            ReportError("Multinomial count variates of unequal lengths");
            return false;
        }
    }
    int K = static_cast<int>(indices.size());
    s.data.categories = K;
    s.data.units.reserve(s.length);
    s.data.totals.reserve(s.length);
    s.data.counts.reserve(static_cast<size_t>(s.length) * K);
    for (int32_t u = 1; u <= s.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        double total = 0;
        for (int index : indices) total += Entry(index).variate[u];
        if (total == 0) {
            ReportError("Units without responses should be excluded");
            return false;
        }
        s.data.units.push_back(u);
        s.data.totals.push_back(total);
        for (int index : indices) s.data.counts.push_back(Entry(index).variate[u]);
    }
    return true;
}

// Splits "response = formula" and reads the response.
bool ReadResponse(const std::string& specification, McFit& s, std::string& formula) {
    size_t eq = specification.find('=');
    if (eq == std::string::npos) {
        ReportError("Missing '=' in model specification");
        return false;
    }
    std::vector<std::string> names = Names(specification.substr(0, eq));
    if (names.empty()) {
        ReportError("Missing response");
        return false;
    }
    formula = specification.substr(eq + 1);
    if (names.size() == 1) return ReadFactorResponse(names[0], s);
    return ReadCountResponse(names, s);
}

// ALPHA1..ALPHA(K-2): the thresholds P(Y <= j) = F(eta + ALPHAj).
std::string ThresholdNames(int K) {
    std::string names;
    for (int j = 1; j <= K - 2; ++j) names += " ALPHA" + std::to_string(j);
    return names;
}

// The design of the fit for the cross-product kernel, checking that its first term is the
// constant: a column of ones at every included unit.
bool ReadDesign(McFit& s) {
    const models::detail::FitRecord& fit = models::detail::Fit();
    mcunit::OrdinalData& d = s.data;
    d.columns = static_cast<int>(fit.columns.size());
    if (!models::detail::MakeDesign(fit.terms, d.design)) {
        models::StopIterations = true;  // no derivative may be asked of a partial design
        return false;
    }
    bool constant = !d.design.terms.empty() && d.design.terms[0].firstColumn == 0 &&
                    d.design.terms[0].factors.empty();
    if (constant) {
        for (int32_t u : d.units) {
            double value = 1.0;
            for (const float* x : d.design.terms[0].variates) value *= x[u];
            if (value != 1.0) {
                constant = false;
                break;
            }
        }
    }
    if (!constant) {
        Stop("The model formula must have a constant term as its first term");
        return false;
    }
    return true;
}

// The fit of the model without covariates: the constant and the thresholds from the cumulative
// proportions of the categories through the inverse of F. That is where the likelihood of the
// constant-only model has its maximum, so ordinary data converge in a few steps from there.
void SetStartingValues(const McFit& s, std::vector<double>& beta) {
    const mcunit::OrdinalData& d = s.data;
    int K = d.categories;
    std::vector<double> cumulative(K, 0.0);
    double all = 0;
    for (int i = 0; i < d.Units(); ++i) {
        double running = 0;
        for (int j = 0; j < K; ++j) {
            running += d.Count(i, j + 1);
            cumulative[j] += running;
        }
        all += d.Total(i);
    }
    std::fill(beta.begin(), beta.end(), 0.0);
    double constant = mcunit::InverseDistribution(s.dist, cumulative[K - 2] / all);
    beta[0] = constant;
    for (int j = 1; j <= K - 2; ++j)
        beta[d.columns + j - 1] =
            mcunit::InverseDistribution(s.dist, cumulative[j - 1] / all) - constant;
}

bool AllZero(const std::vector<double>& beta) {
    return std::all_of(beta.begin(), beta.end(), [](double b) { return b == 0; });
}

bool ThresholdsInterchanged(const McFit& s, const std::vector<double>& beta) {
    const mcunit::OrdinalData& d = s.data;
    for (int j = 2; j <= d.categories - 2; ++j)
        if (beta[d.columns + j - 1] < beta[d.columns + j - 2]) return true;
    return false;
}

// Whether a request for the log-likelihood computes the derivatives as well (see Evaluate).
constexpr bool kSpeculativeDerivatives = true;

// The values at beta, from one pass over the units unless they are known already. A request
// for the log-likelihood alone computes the derivatives as well: it comes at the estimates of a
// new step, where the engine asks for the derivatives next unless it halves the step, and the
// kernel's part of the pass costs much less than a second pass for them would.
void Evaluate(McFit& s, const std::vector<double>& beta, bool derivatives) {
    if (s.haveValues && s.at == beta && (s.haveDerivatives || !derivatives)) return;
    bool both = derivatives || kSpeculativeDerivatives;
    s.logLikelihood = mcunit::Evaluate(s.data, s.dist, beta, both ? &s.gradient : nullptr,
                                       both ? &s.hessian : nullptr);
    s.at = beta;
    s.haveValues = true;
    s.haveDerivatives = both;
}

double Evaluate(McFit& s, const std::vector<double>& beta) {
    Evaluate(s, beta, false);
    return s.logLikelihood;
}

// The log-likelihood handed to the engine. Its first call reads the design and, when no
// starting value was given, sets ours; starting values that leave an observed category
// without probability are replaced by ours as well, since no step could leave such a point.
double LogLikelihoodCall(McFit& s) {
    std::vector<double>& beta = models::detail::Fit().estimates;
    bool first = s.firstCall;
    if (first) {
        s.firstCall = false;
        if (!ReadDesign(s)) return 0;
        if (AllZero(beta)) SetStartingValues(s, beta);
    }
    if (ThresholdsInterchanged(s, beta))
        return Stop("Threshold parameters have interchanged - collapse responses");
    double l = Evaluate(s, beta);
    if (first && std::isinf(l)) {
        SetStartingValues(s, beta);
        l = Evaluate(s, beta);
    }
    return l;
}

void UpdateDerivatives(McFit& s) {
    Evaluate(s, CurrentEstimates(), true);
}

// A number as printf's "%.*f" writes it: std::to_chars gives the same characters at a fraction
// of printf's cost, which a table of a line per unit notices.
void AppendFixed(std::string& out, double value, int decimals) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error == std::errc())
        out.append(buffer, end);
    else
        out += data::Fixed(value, 0, decimals);
}

// Counts and fitted counts from kLargestWholeCount on are written in scientific notation, so
// that no piece of a line is wider than the line.
void AppendCount(std::string& out, double c) {
    if (std::fabs(c) >= kLargestWholeCount) {
        out += data::Scientific(c, kScientificWidth);
    } else if (c == std::floor(c)) {
        char buffer[24];
        out.append(buffer,
                   std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(c)).ptr);
    } else {
        AppendFixed(out, c, 2);
    }
}

void AppendFitted(std::string& out, double fitted) {
    if (std::fabs(fitted) >= kLargestWholeCount)
        out += data::Scientific(fitted, kScientificWidth);
    else
        AppendFixed(out, fitted, kFittedDecimals);
}

// Writes one line of the table, `head` and then the pieces, continued on lines indented by four
// blanks where the next piece would pass the line width. `line` is room for the line.
void WriteWrapped(std::string_view head, const std::vector<std::string>& pieces,
                  std::string& line) {
    size_t width = static_cast<size_t>(data::LineWidth());
    line.assign(head);
    for (const std::string& piece : pieces) {
        if (line.size() + piece.size() > width &&
            line.size() > static_cast<size_t>(kContinuationIndent)) {
            WriteLine(line);
            line.assign(kContinuationIndent, ' ');
        }
        line += piece;
    }
    WriteLine(line);
}

// Appends `text` right-aligned in `width` characters.
void AppendRight(std::string& out, std::string_view text, int width) {
    if (static_cast<int>(text.size()) < width) out.append(width - text.size(), ' ');
    out += text;
}

// Appends a blank and `text` right-aligned in width - 1: every field begins with a blank, so
// that a number wider than its field still stands apart.
void AppendField(std::string& out, std::string_view text, int width) {
    out += ' ';
    AppendRight(out, text, width - 1);
}

// The table polls once a block of lines: a million units take a while to write.
void WriteObservations(const McFit& s, const std::vector<double>& fitted) {
    int K = s.data.categories;
    WriteLine("Observations and fitted values.");
    std::vector<std::string> pieces(K, " count fitted");
    std::string line, number;
    WriteWrapped(data::Right("Unit", kUnitWidth), pieces, line);
    for (int i = 0; i < s.data.Units(); ++i) {
        data::PollAt(i);
        for (int j = 0; j < K; ++j) {
            size_t cell = static_cast<size_t>(i) * K + j;
            pieces[j].clear();
            number.clear();
            AppendCount(number, s.data.Count(i, j + 1));
            AppendField(pieces[j], number, kCountWidth);
            number.clear();
            AppendFitted(number, fitted[cell]);
            AppendField(pieces[j], number, kFittedWidth);
        }
        number.clear();
        AppendRight(number, std::to_string(s.data.units[i]), kUnitWidth);
        WriteWrapped(number, pieces, line);
    }
}

std::string TestLine(const char* label, int df, double statistic) {
    double p = static_cast<double>(distr::ChiSquareUpperTail(statistic, df));
    return std::string(label) + "P[ Chi2(" + std::to_string(df) + ") > " +
           data::Fixed(statistic, 0, 4) + " ] = " + data::Fixed(p, 0, 6);
}

// The likelihood-ratio and Pearson tests against the saturated model, which has a probability
// of its own for every cell.
void WriteGoodnessOfFit(const McFit& s, const std::vector<double>& fitted) {
    const mcunit::OrdinalData& d = s.data;
    int K = d.categories;
    double saturated = 0, pearson = 0;
    for (int i = 0; i < d.Units(); ++i) {
        for (int j = 0; j < K; ++j) {
            size_t cell = static_cast<size_t>(i) * K + j;
            double c = d.Count(i, j + 1), e = fitted[cell], n = d.Total(i);
            // A unit whose observations all fall in one category (every unit of a factor
            // response) adds ln 1 = 0: no logarithm is taken for it.
            if (c > 0 && c != n) saturated -= 2 * c * std::log(c / n);
            if (e > 0)
                pearson += (c - e) * (c - e) / e;
            else if (c > 0)
                pearson = HUGE_VAL;
        }
    }
    double deviance = models::Deviance();
    int resDF = models::ResDF();
    data::ProcedureName = kProcedure;
    int df = d.Units() * (K - 2) + resDF;
    WriteLine("Goodness of fit tests.");
    if (df < 1) {
        WriteLine("No degrees of freedom left for goodness of fit tests.");
        return;
    }
    // A saturated fit can leave a rounding error of either sign.
    double lr = std::max(0.0, deviance - saturated);
    WriteLine(TestLine("-2log(Q) : ", df, lr));
    WriteLine(TestLine("Pearson  : ", df, pearson));
}

void RunFit(const std::string& specification, McFit& s) {
    std::string formula;
    if (!ReadResponse(specification, s, formula)) return;
    WriteLine("MCCULLAGH'S MODEL FOR GROUPED ORDINAL DATA.");
    WriteLine(heading);
    std::string response = "Response:";
    for (const std::string& name : s.responseNames) response += " " + name;
    WriteLine(response);

    models::UserLikelihood likelihood;
    likelihood.logLikelihood = [&s] { return LogLikelihoodCall(s); };
    likelihood.first = [&s](int i) {
        UpdateDerivatives(s);
        return s.gradient[i - 1];
    };
    likelihood.second = [&s](int i, int j) {
        UpdateDerivatives(s);
        return s.hessian[static_cast<size_t>(i - 1) * s.data.Parameters() + j - 1];
    };
    // The covariance matrix stays for ESTIMATE and the parameter covariances.
    bool hold = models::HoldMatrix;
    models::HoldMatrix = true;
    models::FitUserDefined(formula, ThresholdNames(s.data.categories), s.length, likelihood);
    models::HoldMatrix = hold;
    if (!data::ErrorFree) return;
    // The engine knows no response; TESTMODELCHANGE must not compare fits of other data, nor
    // fits with another underlying distribution, whose likelihoods are not nested.
    models::detail::Fit().current.response = heading + " " + response;

    const std::vector<double>& beta = models::detail::Fit().estimates;
    std::vector<double> fitted;
    mcunit::FittedCounts(s.data, s.dist, beta, fitted);
    WriteObservations(s, fitted);
    WriteGoodnessOfFit(s, fitted);
}

constexpr double kSqrtTwoPi = 2.50662827463100050242;

// The function giving F, f and f' at once for one of our three distributions; none for others.
mcunit::DistributionValues ValuesOf(mcunit::DistributionFunction F, mcunit::DistributionFunction f,
                                    mcunit::DistributionFunction fPrime) {
    using namespace mcunit;
    if (F == LogisticF && f == LogisticDensity && fPrime == LogisticSlope) return LogisticValues;
    if (F == NormalF && f == NormalDensity && fPrime == NormalSlope) return NormalValues;
    if (F == GompertzF && f == GompertzDensity && fPrime == GompertzSlope) return GompertzValues;
    return nullptr;
}

}  // namespace

void StoreMcCullaghHeading(const std::string& line) {
    heading = line;
}

void FitMcCullaghModel(const std::string& specification, mcunit::DistributionFunction F,
                       mcunit::DistributionFunction f, mcunit::DistributionFunction fPrime) {
    if (!data::Enter(kProcedure)) return;
    McFit s;
    s.dist = {F, f, fPrime, ValuesOf(F, f, fPrime)};
    RunFit(specification, s);
}

namespace mcunit {

// e^x / (1 + e^x) and its derivatives, written with e^-|x| so that nothing overflows.
double LogisticF(double x) {
    double e = std::exp(-std::fabs(x));
    return x >= 0 ? 1 / (1 + e) : e / (1 + e);
}
double LogisticDensity(double x) {
    double e = std::exp(-std::fabs(x));
    return e / ((1 + e) * (1 + e));
}
// (e^x - e^3x) / (1 + e^x)^4, odd in x.
double LogisticSlope(double x) {
    double e = std::exp(-std::fabs(x));
    double q = (1 + e) * (1 + e);
    double v = (e - e * e * e) / (q * q);
    return x >= 0 ? -v : v;
}

// 1 - Q(x) taken as Q(-x), which keeps its precision far in the lower tail.
double NormalF(double x) {
    return static_cast<double>(distr::NormalUpperTail(-static_cast<long double>(x)));
}
double NormalDensity(double x) {
    return std::exp(-x * x / 2) / kSqrtTwoPi;
}
double NormalSlope(double x) {
    return -x * NormalDensity(x);
}

// 1 - exp(-e^x); where e^x overflows the density is 0 and so is its slope.
double GompertzF(double x) {
    return -std::expm1(-std::exp(x));
}
double GompertzDensity(double x) {
    return std::exp(x - std::exp(x));
}
double GompertzSlope(double x) {
    double density = GompertzDensity(x);
    return density == 0 ? 0 : density * (1 - std::exp(x));
}

void LogisticValues(double x, double& F, double& f, double& fPrime) {
    double e = std::exp(-std::fabs(x));
    double q = (1 + e) * (1 + e);
    F = x >= 0 ? 1 / (1 + e) : e / (1 + e);
    f = e / q;
    double v = (e - e * e * e) / (q * q);
    fPrime = x >= 0 ? -v : v;
}

void NormalValues(double x, double& F, double& f, double& fPrime) {
    F = NormalF(x);
    f = NormalDensity(x);
    fPrime = -x * f;
}

void GompertzValues(double x, double& F, double& f, double& fPrime) {
    double e = std::exp(x);
    F = -std::expm1(-e);
    f = std::exp(x - e);
    fPrime = f == 0 ? 0 : f * (1 - e);
}

}  // namespace mcunit

}  // namespace korw::special
