// Delimited text (CSV, TSV and their kin): read a whole file into columns, guessing what the
// options leave open, and write columns back.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/columns.h"

namespace korw::io {

struct DelimitedOptions {
    char delimiter = 0;  // 0: guessed; ',' ';' '\t' '|', or ' ' for runs of blanks
    char decimal = 0;    // 0: guessed; '.' or ','
    int header = -1;     // -1: guessed; 0: no header row; 1: the first row names the columns
    std::vector<std::string> missingTexts;  // in addition to DefaultMissingTexts()
    // Which columns to keep (index from 0, name as in the header, "" without one); all when empty.
    std::function<bool(int, std::string_view)> keep;
    int threads = 0;  // 0: as many as the machine has
};

// Reads the file at `path` into `table`. `shown` is the name used in messages (as the user typed
// it). False with `error` set when the file cannot be read as a table; `table` is then empty.
// Messages name a column that has no header text by its place in the file: V1, V2, ...
bool ReadDelimited(const std::string& path, const std::string& shown,
                   const DelimitedOptions& options, ImportTable& table, std::string& error);

// Writes a header row and one row per unit: numbers in the shortest text that reads back as the
// same single-precision value, missing values as empty fields (or NA when `writeNA`), factor
// levels as their texts when the column has texts, else as level numbers; fields quoted as
// RFC 4180 has it. False when a write fails.
bool WriteDelimited(std::FILE* file, const std::vector<ExportColumn>& columns, char delimiter,
                    bool writeNA);

}  // namespace korw::io
