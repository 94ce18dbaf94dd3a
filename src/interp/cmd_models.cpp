// Model commands: the linear normal fit and the commands that read the last fitted model.
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"
#include "models/models.h"
#include "special/clogit.h"
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
        SetCommandError("Incorrect length or type of " + name);
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

void CmdTestModelChange(const std::string&) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    models::TestModelChange();
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdSaveFitted(const std::string& params) {
    if (RefusedAfterAnova("Not available after FitANOVA")) return;
    std::vector<std::string> words = Words(params);
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
    models::EstimateContrasts(params);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// ---- Mixed-model analysis of variance ----

void CmdFitAnova(const std::string&) {
    SetCommandError("Command FITANOVA not implemented");
}

void CmdConstructMinimum(const std::string&) {
    SetCommandError("Command CONSTRUCTMINIMUM not implemented");
}

// ---- end of Mixed-model analysis of variance ----

// ---- Cox proportional hazards ----

void CmdFitCoxModel(const std::string&) {
    SetCommandError("Command FITCOXMODEL not implemented");
}

// ---- end of Cox proportional hazards ----

// ---- Non-linear regression ----

void CmdFitNonLinear(const std::string&) {
    SetCommandError("Command FITNONLINEAR not implemented");
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

void CmdFitNegBin(const std::string&) {
    SetCommandError("Command FITNEGBIN not implemented");
}

// ---- end of Negative binomial ----

// ---- Ordinal models ----

void CmdFitMcLogit(const std::string&) {
    SetCommandError("Command FITMCLOGIT not implemented");
}

void CmdFitMcProbit(const std::string&) {
    SetCommandError("Command FITMCPROBIT not implemented");
}

void CmdFitMcCLogLog(const std::string&) {
    SetCommandError("Command FITMCCLOGLOG not implemented");
}

// ---- end of Ordinal models ----

}  // namespace korw::interp
