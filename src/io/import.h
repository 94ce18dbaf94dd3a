// IMPORT and EXPORT on the vector table: a whole file in as new vectors (all or nothing), and
// the included units of vectors out, the file type chosen by the extension.
#pragma once

#include <string>
#include <vector>

namespace korw::io {

struct ImportOptions {
    char delimiter = 0;                     // 0: guessed from the file (delimited text only)
    char decimal = 0;                       // 0: guessed
    int header = -1;                        // -1: guessed; 0: no header row; 1: header row
    std::vector<std::string> missingTexts;  // besides the empty field, NA, ".", "*" and NaN
    bool replace = false;                   // vectors of the same names are replaced
    std::vector<std::string> columns;       // only these columns (all when empty)
    bool textOptions = false;               // an option of delimited text was given
};

// Reads `file` (name as typed, relative to the working directory) into one new vector per column
// and writes the report. Nothing in the table changes unless every column can be declared.
void Import(const std::string& file, const ImportOptions& options);

struct ExportOptions {
    char delimiter = 0;    // 0: comma for .csv, tab for .tsv .tab .txt .dat
    bool writeNA = false;  // missing values as NA instead of empty fields
};

// Writes the included units of the vectors of `items` (LIST's syntax; all vectors when empty).
void Export(const std::string& file, const std::string& items, const ExportOptions& options);

// Whether IMPORT reads a file of this name by its extension (case ignored).
bool ImportableFile(const std::string& file);

// The file dialogs' filters of the types IMPORT reads and EXPORT writes ("text|*.csv;...").
inline constexpr const char* kImportFilter =
    "Data files (*.csv *.tsv *.tab *.txt *.dat *.dta *.sav *.zsav *.por *.sas7bdat *.xpt)|"
    "*.csv;*.tsv;*.tab;*.txt;*.dat;*.dta;*.sav;*.zsav;*.por;*.sas7bdat;*.xpt";
inline constexpr const char* kExportFilter =
    "CSV file (*.csv)|*.csv|TSV file (*.tsv)|*.tsv|Stata file (*.dta)|*.dta|SPSS file "
    "(*.sav)|*.sav";

}  // namespace korw::io
