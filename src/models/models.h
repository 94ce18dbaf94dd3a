// Model formulas, the model-fit record, the linear normal fit and access to the fitted model.
//
// A model specification is "response = formula"; the formula is expanded into a sum of
// products of vector names, each product a term, each term one or more design columns. The last
// fit is kept in one module-wide record until the next fit or until a vector of its terms is
// deleted. Every procedure reports its errors through the library's error state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korw::models {

namespace detail {
struct FitRecord;
}

inline constexpr int MaxTerms = 50;      // terms of one formula, the response included
inline constexpr int MaxOrder = 10;      // vectors in one term
inline constexpr int MaxColumns = 1000;  // design columns, the response column included
inline constexpr int MaxFormulaLength = 255;

// Normalises, checks and expands the formula in place into a sum of products of names.
void ParseFormula(std::string& formula);

// Builds the terms and design columns of an expanded formula for vectors of nUnits units into
// the fit record.
void BuildColumns(const std::string& expanded, int32_t nUnits);

// Value of design column k (1-based) of the fit record at the unit; MissingValue where a
// variate of the column is missing there.
double ColumnValue(int32_t unit, int k);
double OffsetValue(int32_t unit);

std::string ParameterName(int k);
int NumberOfParameters();
int NumberOfLinParameters();

// Fits response = formula [/ weight] by weighted least squares and writes the analysis of
// variance table.
void FitLinearNormal(const std::string& model);

void ListParameters();
double Parameter(int k);
double ParameterSD(int k);
double ParameterCov(int i, int j);
double ModelVariance();
double Xmatrix(int32_t unit, int k);
double Fitted(int32_t unit);

// Stores fitted values, residuals and normed residuals into the named variates (empty names
// are skipped).
void SaveFitted(const std::string& fitted, const std::string& residuals, const std::string& normed);

// Stores studentized deleted residuals and, when pName is not empty, their two-sided P values.
void SaveNormedResiduals(const std::string& rName, const std::string& pName);

// For each word: the pairwise contrasts of the parameters of the term it names, or the single
// contrast whose coefficients a variate of one value per parameter holds.
void EstimateContrasts(const std::string& arguments);

// Compares the two latest fits.
void TestModelChange();

// Binomial fit with logit link of a binary response, or of relative frequencies with binomial
// totals after "/"; Poisson fit with log link.
void FitLogitLinear(const std::string& model);
void FitLogLinear(const std::string& model);

// The caller's likelihood for FitUserDefined. Each function reads the current estimates
// (Parameter) and the caller's own data; parameters are numbered from 1, the formula's columns
// first, then the extra parameters.
struct UserLikelihood {
    std::function<double()> logLikelihood;
    std::function<double(int)> first;        // dL / d beta_i
    std::function<double(int, int)> second;  // d2L / d beta_i d beta_j
};

// Maximises the caller's likelihood over the columns of the formula (vectors of nUnits units)
// and the extra parameters named in `extraNames` (blank or comma separated).
void FitUserDefined(const std::string& formula, const std::string& extraNames, int32_t nUnits,
                    const UserLikelihood& likelihood);

// Estimate k (1-based) of the fit in progress, for the caller's likelihood functions; 0
// outside the parameters.
double CurrentEstimate(int k);

// Number of design columns of the fit in progress, for the caller's likelihood functions (the
// extra parameters follow them); FitUserDefined builds the columns before its first call.
int CurrentColumns();

// Set by a caller's likelihood function (after its own message) to end the iterations at once;
// cleared when FitUserDefined starts.
extern bool StopIterations;
// When set, FitUserDefined keeps its information matrix after the fit (for ParameterCov).
extern bool HoldMatrix;

// -2 log likelihood and residual degrees of freedom of the last fit.
double Deviance();
int ResDF();

// Starting value of parameter k (1..999) for the next likelihood fit.
void InitParameter(int k, double value);

// The fit record as it stood when the object was made: a command that is stopped half-way puts
// it back, so the previous fit stays listable.
class SavedFit {
  public:
    SavedFit();
    ~SavedFit();
    SavedFit(const SavedFit&) = delete;
    SavedFit& operator=(const SavedFit&) = delete;
    void Restore();

  private:
    std::unique_ptr<detail::FitRecord> record_;
};

// Registers the fit record's hooks with the vector table; called once at program start.
void InstallModelFitHooks();

}  // namespace korw::models
