// The vector table: named variates and factors over units 1..length, the missing value,
// identifiers, and the restriction list that marks present units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korw::data {

// Stored in variates for a missing observation; compared for exact equality everywhere.
inline constexpr float MissingValue = -1.0E-37f;

inline constexpr int TableSize = 255;
inline constexpr int MaxLevels = 255;

enum VectorKind : uint8_t { FreeEntry = 0, FactorKind = 1, VariateKind = 2 };

// One entry of the table. Units are elements 1..length of the data array of its kind; the
// other array stays empty.
struct Vector {
    std::string name;
    int32_t length = 0;
    uint8_t levels = 0;
    uint8_t kind = FreeEntry;
    std::vector<uint8_t> factor;
    std::vector<float> variate;
    // Texts of the levels of a factor made by IMPORT (level k is levelTexts[k - 1]) and the
    // fingerprint of the levels they were made for (see level_texts.h).
    std::vector<std::string> levelTexts;
    uint64_t levelPrint = 0;
};

// Table entry 1..TableSize (in use when its kind is not FreeEntry).
Vector& Entry(int index);

int32_t MaxLength();

// Included-unit flags 1..MaxLength (element 0 holds no unit); 1 means present.
std::vector<uint8_t>& RestrictList();

// Upper case as names are: ASCII letters, and the code-page letters ae, o-slash and a-ring
// (single bytes 145, 155, 134 to 146, 157, 143) where they stand alone, not inside UTF-8.
std::string UpperName(std::string_view text);

// Normalises name (trims, upper-cases) and checks it as an identifier; false with the message.
bool CheckIdentifier(std::string& name);

// Index of the vector of that name, or 0 with "Invalid identifier " + name (after the
// identifier check). The Variate and Factor forms also check the kind.
int LookUp(std::string& name);
int LookUpVariate(std::string& name);
int LookUpFactor(std::string& name);

// Index of an entry in use named exactly `name` (already normalised), or 0. Reports nothing.
int FindVector(std::string_view name);

// The first of SYS1, SYS2, ... that names no vector: the name of a temporary vector.
std::string FreeTemporaryName();

void DeclareVariate(const std::string& names, int32_t length);
void DeclareFactor(const std::string& names, int32_t length, int32_t levels);
void Delete(const std::string& names);
void Rename(const std::string& oldName, const std::string& newName);
int32_t LengthOf(const std::string& name);
int32_t NumberOfLevels(const std::string& name);
float Value(const std::string& name, int32_t unit);
int Level(const std::string& name, int32_t unit);
void AssignValue(const std::string& name, int32_t unit, float value);
void AssignLevel(const std::string& name, int32_t unit, int32_t level);
void GenerateLevels(const std::string& names, int32_t interval);

// The stored array itself (units at indices 1..length), or nullptr after an error.
float* VariatePointer(const std::string& name);
uint8_t* FactorPointer(const std::string& name);

// What the data store needs to know of the model-fit record, registered by the models module.
struct ModelFitHooks {
    // A vector is being deleted; returns true when the fit record was discarded because the
    // vector occurs in a model term.
    bool (*vectorDeleted)(int index, const std::string& name) = nullptr;
    // Order q of the cross-product matrix held by the last linear fit, 0 when none.
    int (*crossProductOrder)() = nullptr;
    void (*sessionStarted)() = nullptr;   // clears the fit record and initialised parameters
    void (*sessionFinished)() = nullptr;  // frees the cross-product matrix
};

// The bytes of memory the machine can still give, or -1 when unknown. A declaration that needs
// more is refused with the out-of-memory message: on a system that grants memory before it has
// it, the allocation itself would succeed and the program be ended when the memory is touched.
// The default probe reads MemAvailable from /proc/meminfo; nullptr puts it back.
using MemoryProbe = long long (*)();
void SetMemoryProbe(MemoryProbe probe);

void SetModelFitHooks(const ModelFitHooks& hooks);
const ModelFitHooks& ModelFit();

// Empties the table and the restriction list (session start and finish).
void ClearTable();

// Extends the restriction list to `length` units when that exceeds MaxLength; new units present.
void GrowMaxLength(int32_t length);

// Lowest free table index, 0 when the table is full.
int FreeIndex();

// Declares a vector whose units are already in `variate` or `factor` (element 0 holds no unit),
// taking the array over without a copy: IMPORT's columns. The name must be checked and free and
// the table must have room (the caller checks first); returns the index.
int AdoptVariate(const std::string& name, std::vector<float>&& variate);
int AdoptFactor(const std::string& name, int levels, std::vector<uint8_t>&& factor);

}  // namespace korw::data
