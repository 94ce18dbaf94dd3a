// Likelihood fits: the logit-linear and log-linear models on one Newton-Raphson engine, the
// user-defined likelihood engine, and the results they leave for the interpreter.
#include <string>

#include "data/errors.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models {

using data::ReportError;
using namespace detail;

bool StopIterations = false;
bool HoldMatrix = false;

void FitLogitLinear(const std::string&) {
    if (!data::Enter("FitLogitLinear")) return;
    ReportError("Not yet available");
}

void FitLogLinear(const std::string&) {
    if (!data::Enter("FitLogLinear")) return;
    ReportError("Not yet available");
}

void FitUserDefined(const std::string&, const std::string&, int32_t, const UserLikelihood&) {
    if (!data::Enter("FitUserDefined")) return;
    ReportError("Not yet available");
}

double Deviance() {
    if (!data::Enter("Deviance")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    return Fit().deviance;
}

int ResDF() {
    if (!data::Enter("ResDF")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    return Fit().residualDF;
}

void InitParameter(int, double) {
    if (!data::Enter("InitParameter")) return;
}

}  // namespace korw::models
