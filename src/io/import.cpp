#include "io/import.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>

#include "data/errors.h"
#include "data/files.h"
#include "data/format.h"
#include "data/level_texts.h"
#include "data/listing.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "io/columns.h"
#include "io/delimited.h"
#include "io/stat_files.h"

namespace korw::io {

namespace {

enum class FileType { Unknown, Delimited, Stata, Spss, SpssPortable, Sas, SasTransport };

// Widest shown part of a column name or level text in the report, so lines stay within 80.
constexpr size_t kShownName = 34;
constexpr size_t kShownText = 70;

std::string Lower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Extension(const std::string& file) {
    size_t slash = file.find_last_of('/');
    size_t dot = file.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(file.substr(dot));
}

FileType TypeOf(const std::string& file) {
    static const std::pair<const char*, FileType> kTypes[] = {
        {".csv", FileType::Delimited},    {".tsv", FileType::Delimited},
        {".tab", FileType::Delimited},    {".txt", FileType::Delimited},
        {".dat", FileType::Delimited},    {".dta", FileType::Stata},
        {".sav", FileType::Spss},         {".zsav", FileType::Spss},
        {".por", FileType::SpssPortable}, {".sas7bdat", FileType::Sas},
        {".xpt", FileType::SasTransport},
    };
    std::string ext = Extension(file);
    for (const auto& [e, type] : kTypes)
        if (ext == e) return type;
    return FileType::Unknown;
}

StatFormat StatFormatOf(FileType type) {
    switch (type) {
        case FileType::Stata:
            return StatFormat::Stata;
        case FileType::Spss:
            return StatFormat::Spss;
        case FileType::SpssPortable:
            return StatFormat::SpssPortable;
        case FileType::Sas:
            return StatFormat::Sas;
        default:
            return StatFormat::SasTransport;
    }
}

const char* TypeName(FileType type) {
    switch (type) {
        case FileType::Stata:
            return "Stata";
        case FileType::Spss:
            return "SPSS";
        case FileType::SpssPortable:
            return "SPSS portable";
        case FileType::Sas:
            return "SAS";
        case FileType::SasTransport:
            return "SAS transport";
        default:
            return "";
    }
}

bool NameStart(unsigned char c) {
    return std::isalpha(c) || c == '#' || c == '$' || c == '%' || c == '&' || c == '@' || c == '_';
}

bool NameChar(unsigned char c) {
    return NameStart(c) || std::isdigit(c);
}

// Whether the text is a vector name as it stands (up to case): the identifier rules, checked
// without reporting.
bool ValidName(std::string_view text) {
    if (text.empty() || text.size() > 8 || !NameStart(static_cast<unsigned char>(text[0])))
        return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return NameChar(c); })) return false;
    return data::UpperName(text) != "CONSTANT";
}

std::string Trim(std::string_view text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string_view::npos) return "";
    size_t e = text.find_last_not_of(" \t");
    return std::string(text.substr(b, e - b + 1));
}

// The vector name a column name suggests before names are made unique: the name itself in upper
// case when it is a valid identifier; otherwise its letters and digits in upper case, each run of
// other characters (a UTF-8 character counting as one) made one "_", a "V" before a leading
// digit, cut to 8 characters. A column without a name is V and its number.
std::string SuggestedName(const std::string& original, int number) {
    std::string name = Trim(original);
    if (ValidName(name)) return data::UpperName(name);
    std::string built;
    for (unsigned char c : name) {
        if (c < 0x80 && NameChar(c)) {
            built += static_cast<char>(std::toupper(c));
        } else if ((c & 0xC0) != 0x80 && (built.empty() || built.back() != '_')) {
            built += '_';
        }
    }
    while (!built.empty() && built.front() == '_' && name.front() != '_') built.erase(0, 1);
    while (!built.empty() && built.back() == '_' && name.back() != '_') built.pop_back();
    if (!built.empty() && std::isdigit(static_cast<unsigned char>(built[0]))) built = "V" + built;
    if (built.empty()) built = "V" + std::to_string(number);
    built = built.substr(0, 8);
    return built == "CONSTANT" ? "CONSTAN_" : built;
}

// Makes the suggested names unique: a name taken by an earlier column gets the smallest number
// 2, 3, ... that frees it, the name cut to leave room for the digits.
std::vector<std::string> VectorNames(const ImportTable& table) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (size_t k = 0; k < table.columns.size(); ++k) {
        std::string name = SuggestedName(table.columns[k].name, static_cast<int>(k + 1));
        for (int n = 2; taken.count(name) != 0; ++n) {
            std::string digits = std::to_string(n);
            name = name.substr(0, 8 - digits.size()) + digits;
        }
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}

std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string ColumnShownName(const ImportColumn& column, size_t k) {
    return column.name.empty() ? "V" + std::to_string(k + 1) : column.name;
}

// Whether a COLUMNS entry names the column: its name in the file (case ignored), or the vector
// name it suggests.
bool Requested(const std::string& entry, const std::string& name, int number) {
    return Lower(entry) == Lower(Trim(name)) ||
           data::UpperName(entry) == SuggestedName(name, number);
}

bool ReadTable(const std::string& file, FileType type, const ImportOptions& options,
               std::vector<bool>& matched, ImportTable& table) {
    std::string path = data::ResolveExisting(file);
    std::string error;
    bool ok;
    if (type == FileType::Delimited) {
        DelimitedOptions d;
        d.delimiter = options.delimiter;
        d.decimal = options.decimal;
        d.header = options.header;
        d.missingTexts = options.missingTexts;
        if (!options.columns.empty()) {
            d.keep = [&](int index, std::string_view name) {
                std::string shown =
                    name.empty() ? "V" + std::to_string(index + 1) : std::string(name);
                bool any = false;
                for (size_t i = 0; i < options.columns.size(); ++i)
                    if (Requested(options.columns[i], shown, index + 1)) any = matched[i] = true;
                return any;
            };
        }
        ok = ReadDelimited(path, file, d, table, error);
    } else {
        ok = ReadStatFile(path, file, StatFormatOf(type), table, error);
        if (ok && !options.columns.empty()) {
            std::vector<ImportColumn> kept;
            for (size_t k = 0; k < table.columns.size(); ++k) {
                bool any = false;
                for (size_t i = 0; i < options.columns.size(); ++i)
                    if (Requested(options.columns[i], table.columns[k].name,
                                  static_cast<int>(k + 1)))
                        any = matched[i] = true;
                if (any) kept.push_back(std::move(table.columns[k]));
            }
            table.columns = std::move(kept);
        }
    }
    if (!ok) data::ReportError(error);
    return ok;
}

bool CheckRequested(const std::string& file, const ImportOptions& options,
                    const std::vector<bool>& matched) {
    std::string missing;
    for (size_t i = 0; i < options.columns.size(); ++i)
        if (!matched[i]) missing += (missing.empty() ? "" : " ") + options.columns[i];
    if (missing.empty()) return true;
    data::ReportError("Not found in " + file + ": " + missing);
    return false;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : " ") + n;
    return text;
}

// The names that exist already are refused unless replacing; then the table must have room for
// every column (the replaced vectors' entries counting as free).
bool CheckRoom(const ImportTable& table, const std::vector<std::string>& names, bool replace,
               std::vector<std::string>& existing) {
    for (const std::string& name : names)
        if (data::FindVector(name) != 0) existing.push_back(name);
    if (!existing.empty() && !replace) {
        data::ReportError(
            (existing.size() == 1 ? "Duplicate identifier " : "Duplicate identifiers ") +
            Joined(existing));
        return false;
    }
    int free = static_cast<int>(existing.size());
    for (int i = 1; i <= data::TableSize; ++i)
        if (data::Entry(i).kind == data::FreeEntry) ++free;
    if (static_cast<int>(names.size()) <= free) return true;
    data::ReportError(
        "Too many vectors - no free entry for column " +
        ColumnShownName(table.columns[static_cast<size_t>(free)], static_cast<size_t>(free)));
    return false;
}

void Declare(ImportTable& table, const std::vector<std::string>& names) {
    for (size_t k = 0; k < table.columns.size(); ++k) {
        ImportColumn& c = table.columns[k];
        if (c.kind == ColumnKind::Number) {
            data::AdoptVariate(names[k], std::move(c.values));
            continue;
        }
        int levels = std::max<int>(1, static_cast<int>(c.texts.size()));
        int index = data::AdoptFactor(names[k], levels, std::move(c.levels));
        data::KeepLevelTexts(index, c.texts);
    }
}

void WriteMappedNames(const ImportTable& table, const std::vector<std::string>& names) {
    bool any = false;
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string& original = table.columns[k].name;
        // Columns without a name are V1, V2, ... by rule, not by mapping.
        if (original.empty() || data::UpperName(Trim(original)) == names[k]) continue;
        if (!any) {
            data::WriteLine();
            data::WriteLine(Padded("Column", kShownName + 2) + "Vector");
            any = true;
        }
        data::WriteLine(Padded(data::CutChars(ColumnShownName(table.columns[k], k), kShownName),
                               kShownName + 2) +
                        names[k]);
    }
}

void WriteColumnNotes(const ImportTable& table, const std::vector<std::string>& names, bool lines) {
    std::string where = lines ? "line " : "row ";
    bool first = true;
    auto line = [&first](const std::string& text) {
        if (first) data::WriteLine();
        first = false;
        data::WriteLine(text);
    };
    for (size_t k = 0; k < names.size(); ++k) {
        const ImportColumn& c = table.columns[k];
        if (c.nonNumbers > 0)
            line(names[k] + ": " + std::to_string(c.nonNumbers) +
                 (c.nonNumbers == 1 ? " non-number" : " non-numbers") +
                 " read as missing, the first on " + where + std::to_string(c.firstNonNumberLine) +
                 ": " + data::CutChars(c.firstNonNumberText, 30));
        if (c.rounded > 0)
            line(names[k] + ": " + std::to_string(c.rounded) +
                 (c.rounded == 1 ? " integer" : " integers") +
                 " stored rounded to single precision, the first on " + where +
                 std::to_string(c.firstRoundedLine));
        if (c.date) line(names[k] + ": dates as days since 1960-01-01");
    }
}

void WriteLevelTables(const ImportTable& table, const std::vector<std::string>& names) {
    for (size_t k = 0; k < names.size(); ++k) {
        const ImportColumn& c = table.columns[k];
        if (c.kind != ColumnKind::Levels) continue;
        data::WriteLine();
        size_t levels = std::max<size_t>(1, c.texts.size());
        data::WriteLine("Factor " + names[k] + ", " + std::to_string(levels) +
                        (levels == 1 ? " level:" : " levels:"));
        data::WriteLine(" Level  Text");
        for (size_t level = 1; level <= c.texts.size(); ++level) {
            std::string number = std::to_string(level);
            data::WriteLine(std::string(6 - number.size(), ' ') + number + "  " +
                            data::CutChars(c.texts[level - 1], kShownText));
        }
    }
}

void WriteImportReport(const std::string& file, FileType type, const ImportTable& table,
                       const std::vector<std::string>& names,
                       const std::vector<std::string>& replaced) {
    std::string detected = type == FileType::Delimited ? table.detected : TypeName(type);
    size_t n = table.columns.size();
    data::WriteLine("Read " + std::to_string(table.rows) + (table.rows == 1 ? " unit" : " units") +
                    " of " + std::to_string(n) + (n == 1 ? " column" : " columns") + " from " +
                    file + (detected.empty() ? "" : " (" + detected + ")"));
    if (!replaced.empty()) data::WriteLine("Replaced: " + Joined(replaced));
    WriteMappedNames(table, names);
    WriteColumnNotes(table, names, type == FileType::Delimited);
    WriteLevelTables(table, names);
}

// The delimiter of a delimited text file written: comma for .csv, tab for the others.
char ExportDelimiter(const std::string& file, const ExportOptions& options) {
    if (options.delimiter != 0) return options.delimiter;
    return Extension(file) == ".csv" ? ',' : '\t';
}

// The texts a factor is written with: the level names given in the item (from level 0 on), else
// the texts IMPORT kept, else none (level numbers). A level beyond the names given is written as
// its number, so that no unit is lost as missing.
std::vector<std::string> ExportTexts(int index, const data::ListItem& item, int levels) {
    std::vector<std::string> texts;
    if (item.hasNames) {
        texts = item.names;
    } else if (const std::vector<std::string>* kept = data::KeptLevelTexts(index)) {
        texts.push_back("");
        texts.insert(texts.end(), kept->begin(), kept->end());
    } else {
        return texts;
    }
    texts.resize(static_cast<size_t>(levels) + 1);
    for (int k = 1; k <= levels; ++k)
        if (texts[static_cast<size_t>(k)].empty())
            texts[static_cast<size_t>(k)] = std::to_string(k);
    return texts;
}

// The vectors of the items, each looked up once; false after reporting.
bool ExportItems(const std::string& items, std::vector<data::ListItem>& list,
                 std::vector<int>& indices) {
    list = data::SplitListItems(items);
    if (list.empty()) {
        for (int i = 1; i <= data::TableSize; ++i) {
            if (data::Entry(i).kind == data::FreeEntry) continue;
            data::ListItem item;
            item.name = data::Entry(i).name;
            list.push_back(item);
        }
        if (list.empty()) {
            data::ReportError("No vectors to export");
            return false;
        }
    }
    std::set<int> seen;
    for (data::ListItem& item : list) {
        int index = data::LookUp(item.name);
        if (index == 0) return false;
        if (item.hasNames && data::Entry(index).kind != data::FactorKind) {
            data::ReportError("Level names given for variate " + item.name);
            return false;
        }
        if (!seen.insert(index).second) {
            data::ReportError("Duplicate identifier " + item.name);
            return false;
        }
        indices.push_back(index);
    }
    return true;
}

// The included units 1..rows of each vector; a vector shorter than the longest is missing
// beyond its end.
std::vector<ExportColumn> ExportColumns(const std::vector<data::ListItem>& list,
                                        const std::vector<int>& indices, int32_t rows) {
    std::vector<int32_t> units;
    for (int32_t u = 1; u <= rows; ++u)
        if (data::UnitIncluded(u)) units.push_back(u);
    std::vector<ExportColumn> columns(indices.size());
    for (size_t k = 0; k < indices.size(); ++k) {
        const data::Vector& v = data::Entry(indices[k]);
        ExportColumn& c = columns[k];
        c.name = v.name;
        if (v.kind == data::VariateKind) {
            c.kind = ColumnKind::Number;
            c.values.reserve(units.size());
            for (int32_t u : units)
                c.values.push_back(u <= v.length ? v.variate[static_cast<size_t>(u)]
                                                 : data::MissingValue);
        } else {
            c.kind = ColumnKind::Levels;
            c.levelCount = v.levels;
            c.texts = ExportTexts(indices[k], list[k], v.levels);
            c.levels.reserve(units.size());
            for (int32_t u : units)
                c.levels.push_back(u <= v.length ? v.factor[static_cast<size_t>(u)] : 0);
        }
    }
    return columns;
}

void WriteExportReport(const std::string& file, const std::vector<ExportColumn>& columns,
                       const std::vector<int>& indices, int32_t rows,
                       const std::vector<std::pair<std::string, std::string>>& mapped) {
    size_t units =
        columns.empty() ? 0 : std::max(columns[0].values.size(), columns[0].levels.size());
    size_t n = columns.size();
    data::WriteLine("Wrote " + std::to_string(units) + (units == 1 ? " unit" : " units") + " of " +
                    std::to_string(n) + (n == 1 ? " vector" : " vectors") + " to " + file);
    if (static_cast<int32_t>(units) < rows)
        data::WriteLine(" *** WARNING: Only units present are exported ***");
    std::vector<std::string> shorter;
    for (int index : indices)
        if (data::Entry(index).length < rows) shorter.push_back(data::Entry(index).name);
    if (!shorter.empty()) data::WriteLine("Missing beyond their last unit: " + Joined(shorter));
    if (mapped.empty()) return;
    data::WriteLine();
    data::WriteLine("Vector    Written as");
    for (const auto& [vector, written] : mapped) data::WriteLine(Padded(vector, 10) + written);
}

bool WriteFile(const std::string& file, FileType type, const std::vector<ExportColumn>& columns,
               const ExportOptions& options,
               std::vector<std::pair<std::string, std::string>>& mapped) {
    data::ReplacementFile replacement(data::ResolveCreate(file));
    if (replacement.file() == nullptr) {
        data::ReportError("Can not open " + file);
        return false;
    }
    std::string error;
    bool written =
        type == FileType::Delimited
            ? WriteDelimited(replacement.file(), columns, ExportDelimiter(file, options),
                             options.writeNA)
            : WriteStatFile(replacement.file(), StatFormatOf(type), columns, mapped, error);
    if (!replacement.Commit(written)) {
        data::ReportError(error.empty() ? "Error writing to " + file : error);
        return false;
    }
    return true;
}

}  // namespace

bool ImportableFile(const std::string& file) {
    return TypeOf(file) != FileType::Unknown;
}

void Import(const std::string& file, const ImportOptions& options) {
    if (!data::Enter("Import")) return;
    FileType type = TypeOf(file);
    if (type == FileType::Unknown) return data::ReportError("Unknown type of data file " + file);
    if (type != FileType::Delimited && options.textOptions)
        return data::ReportError("DELIMITER, DECIMAL, HEADER and MISSING are for text files");
    if (!data::FileExists(file)) return data::ReportError(file + " not found");
    ImportTable table;
    std::vector<bool> matched(options.columns.size(), false);
    if (!ReadTable(file, type, options, matched, table)) return;
    if (!CheckRequested(file, options, matched)) return;
    std::vector<std::string> names = VectorNames(table);
    std::vector<std::string> existing;
    if (!CheckRoom(table, names, options.replace, existing)) return;
    if (!existing.empty()) {
        data::Delete(Joined(existing));
        data::ErrorFree = true;
        data::ProcedureName = "Import";
    }
    WriteImportReport(file, type, table, names, existing);
    Declare(table, names);
}

}  // namespace korw::io

namespace korw::io {

void Export(const std::string& file, const std::string& items, const ExportOptions& options) {
    if (!data::Enter("Export")) return;
    FileType type = TypeOf(file);
    if (type != FileType::Delimited && type != FileType::Stata &&
        !(type == FileType::Spss && Extension(file) == ".sav"))
        return data::ReportError(
            "EXPORT writes .csv, .tsv, .tab, .txt, .dat, .dta and .sav "
            "files, not " +
            file);
    if (type != FileType::Delimited && (options.delimiter != 0 || options.writeNA))
        return data::ReportError("DELIMITER and MISSINGAS are for text files");
    std::vector<data::ListItem> list;
    std::vector<int> indices;
    if (!ExportItems(items, list, indices)) return;
    int32_t rows = 0;
    for (int index : indices) rows = std::max(rows, data::Entry(index).length);
    std::vector<ExportColumn> columns = ExportColumns(list, indices, rows);
    if (columns[0].values.empty() && columns[0].levels.empty())
        return data::ReportError("No data to export - file not created");
    std::vector<std::pair<std::string, std::string>> mapped;
    if (!WriteFile(file, type, columns, options, mapped)) return;
    WriteExportReport(file, columns, indices, rows, mapped);
}

}  // namespace korw::io
