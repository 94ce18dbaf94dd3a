// NewCox: Cox's proportional hazards model with right censoring, delayed entry and strata, as a
// partial likelihood on FitUserDefined, and the integrated (cumulative) baseline intensity with
// its standard deviation after the fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korw::special {

// At most this many units may take part in one fit.
inline constexpr int32_t MaxCoxUnits = 16379;
// Above this many parameters the standard deviation of the integrated intensity is not
// computed (it needs one working variate per parameter).
inline constexpr int MaxIntensityParameters = 50;
// Names of the variates that receive the integrated intensity at each unit's exit time and its
// standard deviation.
inline constexpr const char* IntensityName = "#COXINT";
inline constexpr const char* IntensitySDName = "#COXSD";

// Fits "T[*D][-E][/S] = formula". True when the fit record now holds the fit, even when
// storing the integrated intensity failed afterwards (the error state tells that).
bool FitCoxModel(const std::string& specification);

// The pieces of the partial likelihood, declared here for their unit tests.
namespace cox {

// The units of one fit, numbered 0..n-1: exit and entry times, death flags and strata.
struct Units {
    std::vector<double> exit;
    std::vector<double> entry;  // used only with left truncation
    std::vector<uint8_t> death;
    std::vector<int> stratum;
    bool leftTruncated = false;
};

// One distinct death time of a stratum and the deaths at it.
struct DeathTime {
    double time;
    int32_t deaths;      // tied deaths that share its risk set
    int32_t firstDeath;  // into RiskSetPlan::deaths
};

// The orders a fit sorts once: units by stratum and decreasing exit time, by stratum and
// decreasing entry time, and the death times of each stratum in decreasing order.
struct RiskSetPlan {
    std::vector<int32_t> byExit;
    std::vector<int32_t> byEntry;
    std::vector<DeathTime> times;
    std::vector<int32_t> deaths;  // dying units grouped by death time
    // The walks over the risk sets read the units in byExit order (walk positions): each unit's
    // exit time and death flag at its walk position, and for the units of byEntry their entry
    // times and walk positions, so that a walk reads its arrays from start to end.
    std::vector<double> exitAt, entryAt;
    std::vector<uint8_t> deathAt;
    std::vector<int32_t> walkOfEntry, walkOfDeath;
    // Per walk position, the death times (plan order) at which the unit joins and leaves the
    // risk set; times.size() for a unit that never joins, its stratum's timesEnd for one that
    // stays to the stratum's earliest death time.
    std::vector<int32_t> joinTime, leaveTime;
    // Each stratum's range: [timesBegin, timesEnd) of times, [unitsBegin, unitsEnd) of byExit
    // and byEntry (both hold the stratum's units in one block).
    struct Stratum {
        int32_t timesBegin, timesEnd, unitsBegin, unitsEnd;
    };
    std::vector<Stratum> strata;
};

RiskSetPlan PlanRiskSets(const Units& units);

// The sum of the relative risks r (fit order) over the risk set of each death time, in plan
// order.
std::vector<double> RiskSetSums(const Units& units, const RiskSetPlan& plan,
                                const std::vector<double>& r);

// The nonzero design values of each unit: row u is [start[u], start[u + 1]).
struct SparseDesign {
    int columns = 0;
    std::vector<int32_t> start{0};
    std::vector<int> column;  // 0-based
    std::vector<double> value;
};

std::vector<double> LinearPredictor(const SparseDesign& x, const std::vector<double>& beta);

// The relative risks at one linear predictor (in walk order) and the sums over the risk set of
// each death time, kept between the log-likelihood and the derivatives at the same estimates.
struct RiskSets {
    std::vector<double> r;     // exp(eta - top of the unit's stratum), walk order
    std::vector<double> top;   // largest eta per stratum
    std::vector<double> sums;  // sum of r over each death time's risk set, plan order
};
void EvaluateRiskSets(const RiskSetPlan& plan, const std::vector<double>& etaInWalkOrder,
                      RiskSets& risks);

// Partial log-likelihood (Breslow's handling of ties) at the linear predictor eta, in walk
// order with its risk sets, or in fit order.
double PartialLogLikelihood(const RiskSetPlan& plan, const std::vector<double>& etaInWalkOrder,
                            const RiskSets& risks);
double PartialLogLikelihood(const Units& units, const RiskSetPlan& plan,
                            const std::vector<double>& eta);

// The design in the order the walk over the risk sets meets the units (plan.byExit), column
// after column: as it is, for the linear predictor, and with every stratum's columns centred on
// their means over its units, for the derivatives: the partial likelihood does not change when
// one stratum's rows are shifted, and centred sums of products lose fewer digits.
struct WalkDesign {
    int columns = 0;
    size_t units = 0;
    std::vector<double> value;    // column k at k * units
    std::vector<double> centred;  // the same, centred per stratum
    // With left truncation: the centred rows in plan.byEntry order, which the walk reads as the
    // units leave the risk sets.
    std::vector<double> centredByEntry;
};
WalkDesign OrderDesign(const RiskSetPlan& plan, const SparseDesign& x);

// eta in walk order: each unit sums its columns in column order, as LinearPredictor does.
void WalkPredictor(const WalkDesign& x, const std::vector<double>& beta, std::vector<double>& eta);

// First derivatives and the full symmetric matrix of second derivatives (row-major p x p) of
// the partial log-likelihood at the risk sets of eta (fit order in the second form).
struct Derivatives {
    std::vector<double> first;
    std::vector<double> second;
};
void PartialDerivatives(const RiskSetPlan& plan, const WalkDesign& x, const RiskSets& risks,
                        Derivatives& d);
void PartialDerivatives(const Units& units, const RiskSetPlan& plan, const SparseDesign& x,
                        const std::vector<double>& eta, Derivatives& d);

// The integrated baseline intensity at each unit's exit time within its stratum, the part of
// its variance that does not depend on the estimates (the sum of 1/R^2), and the sums
// h = sum of S1/R^2 over the same deaths (row-major n x p), S1 the risk set's sum of r x.
struct Intensity {
    std::vector<double> value;
    std::vector<double> variance;
    std::vector<double> h;
};
void IntegratedIntensity(const Units& units, const RiskSetPlan& plan, const SparseDesign& x,
                         const std::vector<double>& eta, bool withH, Intensity& result);

}  // namespace cox

}  // namespace korw::special
