// Model commands: the linear normal fit and the commands that read the last fitted model.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"
#include "models/models.h"
#include "special/anova.h"
#include "special/clogit.h"
#include "special/cox.h"
#include "special/mcunit.h"
#include "special/negbin.h"
#include "special/nonlin.h"
#include "tools/rank_tests.h"

namespace korw::interp {

namespace {

// The fit record must be known to the vector table before the first session starts.
const bool kHooksInstalled = (models::InstallModelFitHooks(), true);

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool RefusedAfterAnova(const char* message) {
    if (!AnovaFitted) return false;
    SetCommandError(message);
    return true;
}

// "*" and "|" stand for a name left out.
std::string NameOrEmpty(const std::vector<std::string>& words, size_t i) {
    if (i >= words.size() || words[i] == "*" || words[i] == "|") return "";
    return words[i];
}

// Declares a missing variate of the given length; an existing name must be such a variate.
bool PrepareParameterVariate(const std::string& name, int32_t length) {
    if (data::NumberOfLevels(name) == 0 && data::LengthOf(name) == 0) {
        data::DeclareVariate(name, length);
        return !LibraryFailed();
    }
    if (data::NumberOfLevels(name) != 0 || data::LengthOf(name) != length) {
        SetCommandError("Incorrect length or type of " + data::UpperName(name));
        return false;
    }
    return true;
}

}  // namespace

void CmdFitLinearNormal(const std::string& params) {
    (void)kHooksInstalled;
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    models::FitLinearNormal(params);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdFitLogitLinear(const std::string& params) {
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    models::FitLogitLinear(params);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// FITLOGLINEAR y [- offset] = formula; with residual degrees of freedom the fit is followed by
// Pearson's goodness-of-fit test of the response y.
void CmdFitLogLinear(const std::string& params) {
    models::FitLogLinear(params);
    if (LibraryFailed()) return;
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    std::string response = SplitFirst(SplitFirst(params, "=").head, "-").head;
    int df = models::ResDF();
    if (LibraryFailed()) return;
    if (df > 0) {
        tools::PearsonChiSquare(response);
        if (LibraryFailed()) return;
    }
    ShowCommandOutput();
}

void CmdListParameters(const std::string&) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    models::ListParameters();
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdTestModelChange(const std::string& params) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    if (NonLinearFitted)
        special::NLTestModelChange(params);
    else
        models::TestModelChange();
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdSaveFitted(const std::string& params) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    std::vector<std::string> words = Words(params);
    if (NegBinFitted)
        special::SaveFittedNegBin(NameOrEmpty(words, 0), NameOrEmpty(words, 1),
                                  NameOrEmpty(words, 2));
    else
        models::SaveFitted(NameOrEmpty(words, 0), NameOrEmpty(words, 1), NameOrEmpty(words, 2));
    LibraryFailed();
}

// SAVEPARAMETERS [est [sd [var]]]: estimates and standard deviations at units 1..k, the
// residual variance (missing when the fit has none) at unit 1.
void CmdSaveParameters(const std::string& params) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    int k = models::NumberOfParameters();
    if (LibraryFailed()) return;
    std::vector<std::string> words = Words(params);
    std::string est = NameOrEmpty(words, 0), sd = NameOrEmpty(words, 1),
                var = NameOrEmpty(words, 2);
    if (!est.empty()) {
        if (!PrepareParameterVariate(est, k)) return;
        for (int i = 1; i <= k; ++i)
            data::AssignValue(est, i, static_cast<float>(models::Parameter(i)));
        if (LibraryFailed()) return;
    }
    if (!sd.empty()) {
        if (!PrepareParameterVariate(sd, k)) return;
        for (int i = 1; i <= k; ++i)
            data::AssignValue(sd, i, static_cast<float>(models::ParameterSD(i)));
        if (LibraryFailed()) return;
    }
    if (!var.empty()) {
        if (!PrepareParameterVariate(var, 1)) return;
        double v = models::ModelVariance();
        data::AssignValue(var, 1, v < 0 ? data::MissingValue : static_cast<float>(v));
        LibraryFailed();
    }
}

void CmdSaveNormedResiduals(const std::string& params) {
    if (RefusedAfterAnova("Only available after FITLINEARNORMAL and FITNONLINEAR")) return;
    std::vector<std::string> words = Words(params);
    if (words.empty()) return SetCommandError("Missing parameter");
    models::SaveNormedResiduals(words[0], NameOrEmpty(words, 1));
    LibraryFailed();
}

void CmdEstimate(const std::string& params) {
    if (Words(params).empty()) return SetCommandError("Estimate what?");
    if (AnovaFitted) {
        for (const std::string& term : Words(params)) {
            special::AnovaEstimate(term);
            if (LibraryFailed()) return;
        }
        ShowCommandOutput();
        return;
    }
    models::EstimateContrasts(params);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// ---- Mixed-model analysis of variance ----

namespace {

// The fitted analysis of variance must hear of deletions too; installed after the fit
// record's hooks above, which it keeps.
const bool kAnovaHooksInstalled = (special::InstallAnovaHooks(), true);

}  // namespace

// FITANOVA y = fixed terms [random terms]. The flags say "after FITANOVA" even when the fit
// fails, so the commands that read a linear fit keep refusing; an empty line fits nothing and
// leaves them as they were.
void CmdFitAnova(const std::string& params) {
    (void)kAnovaHooksInstalled;
    if (params.empty()) return SetCommandError("Missing model specification");
    special::FitANOVA(params);  // releases the previous analysis, unless it is stopped
    AnovaFitted = true;
    NegBinFitted = NonLinearFitted = false;
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// CONSTRUCTMINIMUM new a b
void CmdConstructMinimum(const std::string& params) {
    std::vector<std::string> words = Words(params);
    if (words.size() != 3) return SetCommandError("Three parameters required");
    special::ConstructMinimum(words[0], words[1], words[2]);
    LibraryFailed();
}

// ---- end of Mixed-model analysis of variance ----

// ---- Cox proportional hazards ----

// FITCOXMODEL T[*D][-E][/S] = formula. The fit flags are cleared once the fit record holds the
// Cox fit, even when storing its integrated intensity failed afterwards.
void CmdFitCoxModel(const std::string& params) {
    bool fitted = special::FitCoxModel(params);
    if (fitted) AnovaFitted = NegBinFitted = NonLinearFitted = false;
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// ---- end of Cox proportional hazards ----

// ---- Non-linear regression ----

// FITNONLINEAR specification m Dm v [start [response [weight]]]: the words in this order, each
// without blanks; "*" (or "0" for the start) leaves an optional word out. The working response
// and weight take the names given, else #NL_WY and #NL_WW.
void CmdFitNonLinear(const std::string& params) {
    std::vector<std::string> words = Words(params);
    if (words.size() < 4) return SetCommandError("Too few parameters");
    std::string start = words.size() > 4 && words[4] != "0" ? NameOrEmpty(words, 4) : "";
    if (!start.empty()) special::SetStartingValues(start);
    std::string response = special::DefaultWorkingResponse;
    std::string weight = special::DefaultWorkingWeight;
    if (words.size() > 5 && words[5] != "*") response = words[5];
    std::string rest;
    for (size_t i = 6; i < words.size(); ++i) rest += (rest.empty() ? "" : " ") + words[i];
    if (!rest.empty() && rest != "*") weight = rest;
    special::SetWorkingNames(response, weight);
    special::FitNonLinear1(words[0], words[1], words[2], words[3]);
    if (LibraryFailed()) return;
    AnovaFitted = NegBinFitted = false;
    NonLinearFitted = true;
    ShowCommandOutput();
}

// ---- end of Non-linear regression ----

// ---- Conditional logit and Rasch ----

void CmdFitCLogit(const std::string& params) {
    special::FitConditionalLogitLinear(params);
    if (LibraryFailed()) return;
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    ShowCommandOutput();
}

void CmdFitCRasch(const std::string& params) {
    special::FitConditionalRasch(params);
    if (LibraryFailed()) return;
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    ShowCommandOutput();
}

// ---- end of Conditional logit and Rasch ----

// ---- Negative binomial ----

namespace {

// The initial alpha: a plain decimal number (no expression), finite and at least 0.
bool InitialAlpha(const std::string& text, double& alpha) {
    if (text.find_first_not_of("+-.0123456789eE") != std::string::npos) return false;
    // from_chars takes no plus sign.
    const char* begin = text.data() + (text.starts_with('+') ? 1 : 0);
    const char* stop = text.data() + text.size();
    // Read in double precision, so that a value below the single-precision range becomes 0 (or a
    // denormal) as a conversion to single precision gives, instead of failing.
    double value = 0;
    auto [end, error] = std::from_chars(begin, stop, value);
    if (error != std::errc() || end != stop || !std::isfinite(value) || value < 0 ||
        value > FLT_MAX)
        return false;
    alpha = static_cast<float>(value);
    return true;
}

}  // namespace

// FITNEGBIN model [alpha]: the model is one word (written without blanks), a second word the
// initial alpha.
void CmdFitNegBin(const std::string& params) {
    std::vector<std::string> words = Words(params);
    double alpha = 0;
    if (words.size() > 1 && !InitialAlpha(words[1], alpha))
        return SetCommandError("Invalid Initial alpha-value " + words[1]);
    special::FitNegBin(words.empty() ? "" : words[0], alpha);
    if (LibraryFailed()) return;
    AnovaFitted = NonLinearFitted = false;
    NegBinFitted = true;
    ShowCommandOutput();
}

// ---- end of Negative binomial ----

// ---- Ordinal models ----

namespace {

// FITMCLOGIT, FITMCPROBIT and FITMCCLOGLOG differ only in the underlying distribution and its
// heading line.
void FitMcCullagh(const std::string& params, const char* heading,
                  special::mcunit::DistributionFunction F, special::mcunit::DistributionFunction f,
                  special::mcunit::DistributionFunction fPrime) {
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    special::StoreMcCullaghHeading(heading);
    special::FitMcCullaghModel(params, F, f, fPrime);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

}  // namespace

void CmdFitMcLogit(const std::string& params) {
    using namespace special::mcunit;
    FitMcCullagh(params, "Underlying continuous distribution: Logistic.", LogisticF,
                 LogisticDensity, LogisticSlope);
}

void CmdFitMcProbit(const std::string& params) {
    using namespace special::mcunit;
    FitMcCullagh(params, "Underlying distribution: Normal (probit link).", NormalF, NormalDensity,
                 NormalSlope);
}

void CmdFitMcCLogLog(const std::string& params) {
    using namespace special::mcunit;
    FitMcCullagh(params, "Underlying distribution: Gomperz (cloglog link).", GompertzF,
                 GompertzDensity, GompertzSlope);
}

// ---- end of Ordinal models ----

}  // namespace korw::interp
