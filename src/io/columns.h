// The columns of a file on their way into the vector table, and of vectors on their way out:
// the one form that the delimited-text reader and writer and the Stata, SPSS and SAS files
// share, so that naming, checking and declaring are done once (import.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korw::io {

enum class ColumnKind : uint8_t {
    Number,  // `values` holds the units; MissingValue marks a missing one
    Levels,  // `levels` holds the units (0 = missing); `texts[k - 1]` names level k
};

// One column read from a file. Arrays are laid out as the vector table's: element 0 holds no
// unit, units are 1..rows, so a column moves into the table without a copy.
struct ImportColumn {
    std::string name;   // as in the file: header text or variable name; "" when there is none
    std::string label;  // variable label of a Stata or SPSS file ("" otherwise)
    ColumnKind kind = ColumnKind::Number;
    std::vector<float> values;
    std::vector<uint8_t> levels;
    std::vector<std::string> texts;
    bool date = false;  // numbers are days since 1960-01-01 (fraction of a day for times)

    // Fields of a number column that were not numbers: read as missing values.
    int64_t nonNumbers = 0;
    int64_t firstNonNumberLine = 0;  // line of the file (1-based), or row for binary files
    std::string firstNonNumberText;
    // Integers that single precision cannot hold exactly: stored rounded.
    int64_t rounded = 0;
    int64_t firstRoundedLine = 0;
};

// A whole file read: every column has `rows` units.
struct ImportTable {
    std::vector<ImportColumn> columns;
    int64_t rows = 0;
    std::string detected;  // what was detected or chosen, for the report line: "delimiter ';',
                           // decimal comma, header row"; "" for binary files
};

// Texts that mean a missing value in delimited text besides the empty field.
inline const std::vector<std::string>& DefaultMissingTexts() {
    static const std::vector<std::string> texts = {"NA", ".", "*", "NaN"};
    return texts;
}

// One vector to be written: its units already restricted to the included ones.
struct ExportColumn {
    std::string name;  // the vector's name
    ColumnKind kind = ColumnKind::Number;
    std::vector<float> values;       // Number: 0-based, MissingValue for missing
    std::vector<uint8_t> levels;     // Levels: 0-based, level of each unit (0 = no level)
    std::vector<std::string> texts;  // Levels: texts[k] names level k (0..L), "" when unnamed;
                                     // empty when the factor has no names (written as numbers)
    int levelCount = 0;              // Levels: number of levels L of the factor
};

}  // namespace korw::io
