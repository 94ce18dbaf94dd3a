// The model-fit record shared by the files of the models module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korw::models::detail {

// What the record remembers of a vector of the table at fit time; kind 0 once it is deleted.
struct VectorCopy {
    std::string name;
    int index = 0;
    uint8_t kind = 0;
    int32_t length = 0;
};

// One design column: up to MaxOrder (vector index, level) pairs; level 0 is a variate.
struct Column {
    int pairs = 0;
    uint8_t vector[10] = {};
    uint8_t level[10] = {};
};

// One term: its factors and variates in table order (a variate once per occurrence) and the
// range of its columns, numbered like an odometer whose last factor changes fastest.
struct Term {
    std::string name;
    std::vector<int> factors;
    std::vector<int> variates;
    int firstColumn = 0;  // 0-based
    int lastColumn = 0;   // 0-based, inclusive
};

// The counters of one fit that a later TestModelChange compares.
struct FitCounters {
    std::string type;
    std::string response;
    int32_t observations = 0;
    int rank = 0;
    int residualDF = 0;
    double residualSS = 0;
    double deviance = 0;  // -2 log likelihood of a likelihood fit
};

// Inverse link and variance function of a likelihood fit; none after a linear normal fit.
using LinkFunction = double (*)(double eta);

struct FitRecord {
    std::string fitType;  // procedure that made the fit; empty: none
    VectorCopy response;
    bool weighted = false;
    VectorCopy weight;
    bool hasOffset = false;
    VectorCopy offset;
    int32_t nUnits = 0;
    std::vector<Term> terms;  // model terms only
    std::vector<Column> columns;
    std::vector<Column> previousColumns;
    std::vector<std::string> extraNames;  // parameters after the columns (FitUserDefined)
    int numberOfParameters = -1;
    std::vector<double> estimates;
    std::vector<double> sds;
    std::vector<uint8_t> aliased;
    double variance = -1.0;
    int residualDF = 0;
    double residualSS = 0;
    int32_t observations = 0;
    int rank = 0;
    double deviance = 0;  // -2 log likelihood of a likelihood fit
    int iterations = 0;
    LinkFunction mean = nullptr;
    LinkFunction varianceFunction = nullptr;
    // Starting values of the next likelihood fit, parameters 1..999 (index 0 unused).
    std::vector<double> initValue = std::vector<double>(1000, 0.0);
    std::vector<uint8_t> initSet = std::vector<uint8_t>(1000, 0);
    // Packed lower triangle of the swept cross-product matrix, order q = columns + 1 (the
    // response last); element (i, j), j <= i, 0-based, at i * (i + 1) / 2 + j.
    std::vector<double> matrix;
    int order = 0;
    FitCounters current, previous;
};

FitRecord& Fit();

// Sweep of the packed symmetric matrix m of order q on column k (0-based); see linear.cpp.
void Sweep(std::vector<double>& m, int q, int k);
double& At(std::vector<double>& m, int i, int j);

inline size_t Packed(int i, int j) {
    return static_cast<size_t>(i) * (i + 1) / 2 + j;
}

// The nonzero column of one term at one unit: every term has at most one.
struct TermValue {
    int column;
    double value;
};

// Fills `row` with the nonzero design values of the unit in column order; false (with the
// deleted-vector message) when a vector of the terms has been deleted. `missing` is set when a
// variate value at the unit is missing.
bool DesignRow(int32_t unit, std::vector<TermValue>& row, bool& missing);

// The first present unit of from..to at which y is missing, or 0. Runs of units are tested
// without branches, so that the test vectorises.
int32_t FirstMissingUnit(const float* y, int32_t from, int32_t to);

// Checks that the fit record holds a fit; reports `message` otherwise.
bool HaveFit(const char* message);

}  // namespace korw::models::detail
