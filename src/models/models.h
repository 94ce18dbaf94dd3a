// Model formulas, the model-fit record, the linear normal fit and access to the fitted model.
//
// A model specification is "response = formula"; the formula is expanded into a sum of
// products of vector names, each product a term, each term one or more design columns. The last
// fit is kept in one module-wide record until the next fit or until a vector of its terms is
// deleted. Every procedure reports its errors through the library's error state.
#pragma once

#include <cstdint>
#include <string>

namespace korw::models {

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

// Registers the fit record's hooks with the vector table; called once at program start.
void InstallModelFitHooks();

}  // namespace korw::models
