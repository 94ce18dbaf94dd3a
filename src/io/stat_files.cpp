#include "io/stat_files.h"

#include <readstat.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

#include "data/long_work.h"
#include "data/vectors.h"

namespace korw::io {
namespace {

using data::MissingValue;

// ---------------------------------------------------------------------------------------------
// Names

// A vector name is at most this many characters.
constexpr size_t kIdentifierLength = 8;

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsIdentifierStart(char c) {
    return (c >= 'A' && c <= 'Z') || c == '#' || c == '$' || c == '%' || c == '&' || c == '@' ||
           c == '_';
}

bool IsSpss(StatFormat format) {
    return format == StatFormat::Spss || format == StatFormat::SpssPortable;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Stata refuses its reserved words as names (case matters to Stata; the ones KORW's upper-case
// names can meet are listed upper-cased too, since a user of the file would read _N as _n).
bool IsStataReserved(const std::string& name) {
    static const char* const kWords[] = {
        "_all", "_b", "byte",  "_coef", "_cons", "double", "float", "if",   "in",    "int",  "long",
        "_n",   "_N", "_pi",   "_pred", "_rc",   "_se",    "_skip", "strL", "using", "with", "NULL",
        "_ALL", "_B", "_COEF", "_CONS", "_PI",   "_PRED",  "_RC",   "_SE",  "_SKIP"};
    if (std::any_of(std::begin(kWords), std::end(kWords), [&](const char* w) { return name == w; }))
        return true;
    // The storage types str1 to str2045.
    if (name.size() < 4 || name.compare(0, 3, "str") != 0) return false;
    if (!std::all_of(name.begin() + 3, name.end(), IsDigit) || name[3] == '0') return false;
    return name.size() <= 7 && std::stoi(name.substr(3)) <= 2045;
}

// SPSS keeps these words of its syntax out of variable names (in any case).
bool IsSpssReserved(const std::string& name) {
    static const char* const kWords[] = {"ALL", "AND", "BY",  "EQ", "GE", "GT",  "LE",
                                         "LT",  "NE",  "NOT", "OR", "TO", "WITH"};
    std::string upper = UpperAscii(name);
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* w) { return upper == w; });
}

// The label as a vector name (trimmed, upper-cased), or "" when it is not a valid one.
std::string LabelAsIdentifier(std::string_view label) {
    size_t first = label.find_first_not_of(' ');
    if (first == std::string_view::npos) return "";
    size_t last = label.find_last_not_of(' ');
    std::string name = UpperAscii(std::string(label.substr(first, last - first + 1)));
    if (name.size() > kIdentifierLength || !IsIdentifierStart(name[0])) return "";
    for (char c : name)
        if (!IsIdentifierStart(c) && !IsDigit(c)) return "";
    return name == "CONSTANT" ? "" : name;
}

// A file's variable carries the name of the vector it was written from when its label is that
// name and the name maps to the variable's name. A mapped name may carry digits the writer added
// against a clash; a name written unchanged may not, or a variable Q12 labelled Q would lose its
// name.
bool RestoresName(const std::string& variable, const std::string& vectorName, StatFormat format) {
    std::string written = StatVariableName(vectorName, format);
    if (written == vectorName || variable.compare(0, written.size(), written) != 0)
        return variable == written;
    return std::all_of(variable.begin() + static_cast<std::ptrdiff_t>(written.size()),
                       variable.end(), IsDigit);
}

std::string ShortestText(double value) {
    std::array<char, 32> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

// ---------------------------------------------------------------------------------------------
// Dates
//
// A number column whose display format is a calendar date or a date and time is read as days
// since 1960-01-01, a time of day adding its fraction of a day:
//   Stata  %td, %d (days since 1960) and %tc, %tC (milliseconds since 1960; %tC counts leap
//          seconds, which are ignored here). Weeks, months, quarters, half-years and years
//          (%tw %tm %tq %th %ty) are counts, not days, and stay plain numbers.
//   SPSS   DATE ADATE EDATE JDATE SDATE QYR MOYR WKYR DATETIME YMDHMS: seconds since
//          1582-10-14, which lies kSpssDayOffset days before 1960-01-01. TIME, DTIME and MTIME
//          are durations, WKDAY and MONTH small counts: plain numbers.
//   SAS    DATE, DAY, DDMMYY, MMDDYY, YYMMDD (with their separator letters), JULIAN, MONYY,
//          YYMON, MMYY, YYMM, YYQ, WEEKDATE, WEEKDATX, WORDDATE, WORDDATX, E8601DA, B8601DA:
//          days since 1960; DATETIME, DATEAMPM, E8601DT, B8601DT, MDYAMPM: seconds since 1960.
//          TIME, HHMM and TOD are durations: plain numbers.

enum class DateKind { None, Days, StataMilliseconds, SpssSeconds, SasSeconds };

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr double kSecondsPerDay = 86400.0;
// Days from 1582-10-14, the start of the Gregorian calendar where SPSS counts from, to
// 1960-01-01.
constexpr double kSpssDayOffset = 137775.0;

// The name of a SPSS or SAS format without its width and decimals: "DATETIME20.0" -> DATETIME.
std::string FormatName(const std::string& format) {
    size_t end = format.size();
    while (end > 0 && (IsDigit(format[end - 1]) || format[end - 1] == '.')) --end;
    return UpperAscii(format.substr(0, end));
}

DateKind StataDateKind(const std::string& format) {
    std::string_view f = format;
    if (f.substr(0, 1) != "%") return DateKind::None;
    f.remove_prefix(1);
    if (f.substr(0, 1) == "-") f.remove_prefix(1);
    if (f.substr(0, 2) == "td" || f.substr(0, 1) == "d") return DateKind::Days;
    if (f.substr(0, 2) == "tc" || f.substr(0, 2) == "tC") return DateKind::StataMilliseconds;
    return DateKind::None;
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

DateKind SpssDateKind(const std::string& format) {
    std::string name = FormatName(format);
    return OneOf(name, {"DATE", "ADATE", "EDATE", "JDATE", "SDATE", "QYR", "MOYR", "WKYR",
                        "DATETIME", "YMDHMS"})
               ? DateKind::SpssSeconds
               : DateKind::None;
}

DateKind SasDateKind(const std::string& format) {
    std::string name = FormatName(format);
    if (OneOf(name, {"DATETIME", "DATEAMPM", "E8601DT", "B8601DT", "MDYAMPM"}))
        return DateKind::SasSeconds;
    for (const char* prefix : {"DDMMYY", "MMDDYY", "YYMMDD"})
        if (name.compare(0, std::strlen(prefix), prefix) == 0) return DateKind::Days;
    return OneOf(name, {"DATE", "DAY", "JULIAN", "MONYY", "YYMON", "MMYY", "YYMM", "YYQ",
                        "WEEKDATE", "WEEKDATX", "WORDDATE", "WORDDATX", "E8601DA", "B8601DA"})
               ? DateKind::Days
               : DateKind::None;
}

DateKind DateKindOf(const std::string& format, StatFormat fileFormat) {
    switch (fileFormat) {
        case StatFormat::Stata:
            return StataDateKind(format);
        case StatFormat::Spss:
        case StatFormat::SpssPortable:
            return SpssDateKind(format);
        case StatFormat::Sas:
        case StatFormat::SasTransport:
            return SasDateKind(format);
    }
    return DateKind::None;
}

double ToDays(double value, DateKind kind) {
    switch (kind) {
        case DateKind::None:
        case DateKind::Days:
            return value;
        case DateKind::StataMilliseconds:
            return value / kMillisecondsPerDay;
        case DateKind::SpssSeconds:
            return value / kSecondsPerDay - kSpssDayOffset;
        case DateKind::SasSeconds:
            return value / kSecondsPerDay;
    }
    return value;
}

// ---------------------------------------------------------------------------------------------
// Reading

// A factor has at most this many levels.
constexpr size_t kMaxLevels = data::MaxLevels;

// One variable while the file is parsed. Number columns are stored as they come; labelled
// columns keep their codes as doubles (NaN for missing) until the labels are known, since a
// Stata file holds its value labels after the data; text columns number their texts in order of
// appearance and sort them at the end.
struct ReadColumn {
    ImportColumn column;
    bool text = false;
    DateKind date = DateKind::None;
    std::string labelSet;                            // "" when no value labels are attached
    std::vector<std::pair<double, double>> missing;  // user-missing ranges (values: lo == hi)
    std::vector<double> codes;
    std::map<std::string, uint8_t> textIds;
};

struct ReadContext {
    StatFormat format = StatFormat::Stata;
    std::vector<ReadColumn> columns;
    std::map<std::string, std::map<double, std::string>> labelSets;
    int64_t rows = 0;
    int64_t declaredRows = -1;  // from the file's header, -1 when it does not say
    std::string error;          // the message for the user when a handler refuses the data
    std::string malformed;      // why a handler found the file malformed
};

// Grows a 1-based array so that it holds `row`, doubling to keep appending linear.
template <typename T>
void Reach(std::vector<T>& array, int64_t row, T empty) {
    auto needed = static_cast<size_t>(row) + 1;
    if (array.size() < needed) array.resize(std::max(needed, 2 * array.size()), empty);
}

// The reader reports the fraction of the file it has read; a stop ends the reading here and
// is acted on once the reader has let go of the file.
int OnProgress(double progress, void*) {
    data::ReportFraction(progress);
    return data::StopWanted() ? READSTAT_HANDLER_ABORT : READSTAT_HANDLER_OK;
}

int OnMetadata(readstat_metadata_t* metadata, void* ctx) {
    static_cast<ReadContext*>(ctx)->declaredRows = readstat_get_row_count(metadata);
    return READSTAT_HANDLER_OK;
}

int OnVariable(int index, readstat_variable_t* variable, const char* valueLabels, void* ctx) {
    auto& context = *static_cast<ReadContext*>(ctx);
    if (index != static_cast<int>(context.columns.size())) {
        context.malformed = "variables out of order";
        return READSTAT_HANDLER_ABORT;
    }
    ReadColumn read;
    const char* name = readstat_variable_get_name(variable);
    const char* label = readstat_variable_get_label(variable);
    read.column.name = name ? name : "";
    read.column.label = label ? label : "";
    std::string restored = LabelAsIdentifier(read.column.label);
    if (!restored.empty() && RestoresName(read.column.name, restored, context.format)) {
        read.column.name = restored;
        read.column.label.clear();
    }
    read.text = readstat_variable_get_type_class(variable) == READSTAT_TYPE_CLASS_STRING;
    read.column.kind = read.text ? ColumnKind::Levels : ColumnKind::Number;
    if (!read.text) {
        const char* format = readstat_variable_get_format(variable);
        read.date = DateKindOf(format ? format : "", context.format);
        read.column.date = read.date != DateKind::None;
        if (valueLabels && *valueLabels) read.labelSet = valueLabels;
        int ranges = readstat_variable_get_missing_ranges_count(variable);
        for (int i = 0; i < ranges; ++i)
            read.missing.emplace_back(
                readstat_double_value(readstat_variable_get_missing_range_lo(variable, i)),
                readstat_double_value(readstat_variable_get_missing_range_hi(variable, i)));
    }
    context.columns.push_back(std::move(read));
    return READSTAT_HANDLER_OK;
}

// Stores a number as single precision; false with the message when it is beyond its range.
bool StoreNumber(ReadContext& context, ImportColumn& column, int64_t row, double value) {
    Reach(column.values, row, MissingValue);
    if (std::isnan(value)) return true;
    if (std::fabs(value) > FLT_MAX) {
        context.error = "Value " + ShortestText(value) + " in column " + column.name + " on row " +
                        std::to_string(row) + " is beyond single precision";
        return false;
    }
    auto single = static_cast<float>(value);
    if (std::trunc(value) == value && static_cast<double>(single) != value) {
        if (column.rounded++ == 0) column.firstRoundedLine = row;
    }
    column.values[static_cast<size_t>(row)] = single;
    return true;
}

bool StoreText(ReadContext& context, ReadColumn& read, int64_t row, const char* text) {
    ImportColumn& column = read.column;
    Reach(column.levels, row, uint8_t{0});
    if (!text || !*text) return true;
    auto [at, added] = read.textIds.try_emplace(text, static_cast<uint8_t>(0));
    if (added) {
        if (read.textIds.size() > kMaxLevels) {
            context.error = "Column " + column.name + " has more than 255 distinct texts";
            return false;
        }
        at->second = static_cast<uint8_t>(read.textIds.size());
    }
    column.levels[static_cast<size_t>(row)] = at->second;
    return true;
}

int OnValue(int obsIndex, readstat_variable_t* variable, readstat_value_t value, void* ctx) {
    auto& context = *static_cast<ReadContext*>(ctx);
    int index = readstat_variable_get_index(variable);
    if (index < 0 || index >= static_cast<int>(context.columns.size()) || obsIndex < 0) {
        context.malformed = "values of an unknown variable";
        return READSTAT_HANDLER_ABORT;
    }
    ReadColumn& read = context.columns[static_cast<size_t>(index)];
    int64_t row = static_cast<int64_t>(obsIndex) + 1;
    context.rows = std::max(context.rows, row);
    bool stored = true;
    if (readstat_value_type_class(value) == READSTAT_TYPE_CLASS_STRING) {
        if (read.text) stored = StoreText(context, read, row, readstat_string_value(value));
    } else if (!read.text) {
        double number =
            readstat_value_is_missing(value, variable) ? NAN : readstat_double_value(value);
        if (read.labelSet.empty()) {
            stored = StoreNumber(context, read.column, row, ToDays(number, read.date));
        } else {
            Reach(read.codes, row, static_cast<double>(NAN));
            read.codes[static_cast<size_t>(row)] = number;
        }
    }
    return stored ? READSTAT_HANDLER_OK : READSTAT_HANDLER_ABORT;
}

int OnValueLabel(const char* set, readstat_value_t value, const char* label, void* ctx) {
    auto& context = *static_cast<ReadContext*>(ctx);
    if (!set || readstat_value_type_class(value) != READSTAT_TYPE_CLASS_NUMERIC ||
        readstat_value_is_system_missing(value) || readstat_value_is_tagged_missing(value))
        return READSTAT_HANDLER_OK;
    double code = readstat_double_value(value);
    if (!std::isnan(code)) context.labelSets[set].try_emplace(code, label ? label : "");
    return READSTAT_HANDLER_OK;
}

bool IsUserMissing(const ReadColumn& read, double code) {
    return std::any_of(read.missing.begin(), read.missing.end(), [&](const auto& range) {
        return code >= range.first && code <= range.second;
    });
}

bool IsSmallCode(double code) {
    return code >= 1 && code <= kMaxLevels && std::trunc(code) == code;
}

// A labelled number column as a factor. Codes 1..255 are the levels themselves, so that the
// level numbers mean what the file's codes mean; any other code set is numbered in increasing
// order. Labelled values that are user-missing for the variable are missing, not levels.
bool LabelledToLevels(ReadContext& context, ReadColumn& read,
                      const std::map<double, std::string>& labels) {
    std::map<double, int> levelOf;
    for (const auto& [code, label] : labels)
        if (!IsUserMissing(read, code)) levelOf.emplace(code, 0);
    for (double code : read.codes)
        if (!std::isnan(code)) levelOf.emplace(code, 0);
    if (levelOf.empty()) return true;  // nothing to name: stays an all-missing number column
    ImportColumn& column = read.column;
    bool small = std::all_of(levelOf.begin(), levelOf.end(),
                             [](const auto& entry) { return IsSmallCode(entry.first); });
    if (!small && levelOf.size() > kMaxLevels) {
        context.error = "Column " + column.name + " has more than 255 distinct codes";
        return false;
    }
    int count = 0;
    for (auto& [code, level] : levelOf) level = small ? static_cast<int>(code) : ++count;
    int levelCount = small ? static_cast<int>(levelOf.rbegin()->first) : count;
    column.texts.assign(static_cast<size_t>(levelCount), "");
    for (int k = 1; k <= levelCount; ++k) column.texts[k - 1] = std::to_string(k);
    for (const auto& [code, level] : levelOf) {
        auto label = labels.find(code);
        column.texts[static_cast<size_t>(level - 1)] =
            label != labels.end() ? label->second : ShortestText(code);
    }
    column.kind = ColumnKind::Levels;
    column.date = false;
    column.levels.assign(read.codes.size(), 0);
    for (size_t row = 1; row < read.codes.size(); ++row)
        if (!std::isnan(read.codes[row]))
            column.levels[row] = static_cast<uint8_t>(levelOf[read.codes[row]]);
    return true;
}

// Turns the codes kept for a labelled column into a factor, or into numbers when its label set
// turned out to be absent from the file.
bool FinishLabelled(ReadContext& context, ReadColumn& read) {
    auto set = context.labelSets.find(read.labelSet);
    if (set != context.labelSets.end() && !set->second.empty())
        return LabelledToLevels(context, read, set->second);
    for (size_t row = 1; row < read.codes.size(); ++row)
        if (!StoreNumber(context, read.column, static_cast<int64_t>(row),
                         ToDays(read.codes[row], read.date)))
            return false;
    return true;
}

// Numbers the distinct texts in byte order.
void FinishText(ReadColumn& read) {
    std::array<uint8_t, kMaxLevels + 1> sortedId{};
    ImportColumn& column = read.column;
    for (const auto& [text, id] : read.textIds) {
        column.texts.push_back(text);
        sortedId[id] = static_cast<uint8_t>(column.texts.size());
    }
    for (uint8_t& level : column.levels) level = sortedId[level];
}

bool FinishColumns(ReadContext& context, ImportTable& table) {
    auto size = static_cast<size_t>(context.rows) + 1;
    for (ReadColumn& read : context.columns) {
        if (read.text) {
            read.column.levels.resize(size, 0);
            FinishText(read);
        } else if (!read.labelSet.empty()) {
            read.codes.resize(size, NAN);
            if (!FinishLabelled(context, read)) return false;
            read.column.values.resize(read.column.kind == ColumnKind::Number ? size : 0,
                                      MissingValue);
        } else {
            read.column.values.resize(size, MissingValue);
        }
        table.columns.push_back(std::move(read.column));
    }
    table.rows = context.rows;
    return true;
}

const char* FormatText(StatFormat format) {
    switch (format) {
        case StatFormat::Stata:
            return "Stata file";
        case StatFormat::Spss:
            return "SPSS file";
        case StatFormat::SpssPortable:
            return "SPSS portable file";
        case StatFormat::Sas:
            return "SAS file";
        case StatFormat::SasTransport:
            return "SAS transport file";
    }
    return "file";
}

readstat_error_t Parse(readstat_parser_t* parser, const std::string& path, StatFormat format,
                       ReadContext& context) {
    switch (format) {
        case StatFormat::Stata:
            return readstat_parse_dta(parser, path.c_str(), &context);
        case StatFormat::Spss:
            return readstat_parse_sav(parser, path.c_str(), &context);
        case StatFormat::SpssPortable:
            return readstat_parse_por(parser, path.c_str(), &context);
        // Value labels of SAS data sets live in a separate catalog (.sas7bcat), which is not
        // read: SAS columns come in as numbers and texts.
        case StatFormat::Sas:
            return readstat_parse_sas7bdat(parser, path.c_str(), &context);
        case StatFormat::SasTransport:
            return readstat_parse_xport(parser, path.c_str(), &context);
    }
    return READSTAT_ERROR_PARSE;
}

bool CanOpen(const std::string& path) {
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) return false;
    std::ifstream file(path, std::ios::binary);
    return file.good();
}

// SAS transport files are made of 80-byte records, the last one padded.
constexpr std::streamoff kTransportRecord = 80;

// Whether the file was evidently cut short in a way ReadStat does not notice: it reads the value
// labels at the end of a Stata file until they run out, and the rows of a transport file until
// the data do, so a cut there would lose labels or rows without a word. A Stata file of format
// 117 or later ends with its closing tag; older ones have none, and cannot be checked.
bool CutShort(const std::string& path, StatFormat format) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (format == StatFormat::SasTransport) return size % kTransportRecord != 0;
    if (format != StatFormat::Stata) return false;
    const std::string open = "<stata_dta>";
    const std::string close = "</stata_dta>";
    std::string head(open.size(), '\0');
    std::string tail(close.size(), '\0');
    file.seekg(0);
    if (!file.read(head.data(), static_cast<std::streamsize>(head.size())) || head != open)
        return false;
    if (size < static_cast<std::streamoff>(open.size() + close.size())) return true;
    file.seekg(size - static_cast<std::streamoff>(close.size()));
    return !file.read(tail.data(), static_cast<std::streamsize>(tail.size())) || tail != close;
}

std::string NotValid(const std::string& shown, StatFormat format, const std::string& why) {
    return shown + " is not a valid " + FormatText(format) + " (" + why + ")";
}

// Runs ReadStat's parser over the file into `context`; false with the message.
bool ParseFile(const std::string& path, const std::string& shown, ReadContext& context,
               std::string& error) {
    if (!CanOpen(path)) {
        error = "IO error reading " + shown;
        return false;
    }
    if (CutShort(path, context.format)) {
        error = NotValid(shown, context.format, readstat_error_message(READSTAT_ERROR_READ));
        return false;
    }
    readstat_parser_t* parser = readstat_parser_init();
    readstat_set_metadata_handler(parser, OnMetadata);
    readstat_set_variable_handler(parser, OnVariable);
    readstat_set_value_handler(parser, OnValue);
    readstat_set_value_label_handler(parser, OnValueLabel);
    readstat_set_progress_handler(parser, OnProgress);
    readstat_error_t status = Parse(parser, path, context.format, context);
    readstat_parser_free(parser);
    if (data::StopRequested()) data::Poll();
    // Fewer rows than the header declares means the data were cut short.
    if (status == READSTAT_OK && context.declaredRows >= 0 && !context.columns.empty() &&
        context.rows != context.declaredRows)
        status = READSTAT_ERROR_ROW_COUNT_MISMATCH;
    if (status == READSTAT_ERROR_OPEN)
        error = "IO error reading " + shown;
    else if (!context.error.empty())
        error = context.error;
    else if (status != READSTAT_OK)
        error = NotValid(
            shown, context.format,
            context.malformed.empty() ? readstat_error_message(status) : context.malformed);
    return status == READSTAT_OK && context.error.empty();
}

// ---------------------------------------------------------------------------------------------
// Writing

// Larger floats are Stata's missing-value codes, so a column beyond this is written as doubles.
constexpr double kStataMaxFloat = 1.70141173319e38;

struct Writer {
    readstat_writer_t* writer = readstat_writer_init();
    ~Writer() { readstat_writer_free(writer); }
};

ssize_t WriteBytes(const void* bytes, size_t length, void* ctx) {
    size_t written = std::fwrite(bytes, 1, length, static_cast<std::FILE*>(ctx));
    return written == length ? static_cast<ssize_t>(length) : -1;
}

bool FitsStataFloat(const std::vector<float>& values) {
    return std::all_of(values.begin(), values.end(), [](float v) {
        return v == MissingValue || std::isnan(v) || std::fabs(v) <= kStataMaxFloat;
    });
}

// Written names: those the format accepts stay, the others are mapped and made unique against
// every name written.
std::vector<std::string> WrittenNames(const std::vector<ExportColumn>& columns, StatFormat format) {
    std::vector<std::string> names;
    std::vector<std::string> taken;
    for (const ExportColumn& column : columns) {
        names.push_back(StatVariableName(column.name, format));
        if (names.back() == column.name) taken.push_back(UpperAscii(column.name));
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        if (names[i] == columns[i].name) continue;
        std::string base = names[i];
        // SPSS compares names without regard to case, so uniqueness is checked upper-cased.
        for (int k = 2; std::find(taken.begin(), taken.end(), UpperAscii(names[i])) != taken.end();
             ++k)
            names[i] = base + std::to_string(k);
        taken.push_back(UpperAscii(names[i]));
    }
    return names;
}

std::string LevelText(const ExportColumn& column, int level) {
    auto k = static_cast<size_t>(level);
    if (k < column.texts.size() && !column.texts[k].empty()) return column.texts[k];
    return std::to_string(level);
}

// One variable and, for a factor, its value-label set (named as the variable). A factor's level
// 0 has no code in the file: it is written as system missing, so its name, if any, is lost.
readstat_variable_t* AddVariable(readstat_writer_t* writer, const ExportColumn& column,
                                 const std::string& name, StatFormat format) {
    readstat_type_t type = READSTAT_TYPE_DOUBLE;
    if (column.kind == ColumnKind::Levels)
        type = READSTAT_TYPE_INT16;
    else if (format == StatFormat::Stata && FitsStataFloat(column.values))
        type = READSTAT_TYPE_FLOAT;
    readstat_variable_t* variable = readstat_add_variable(writer, name.c_str(), type, 0);
    if (name != column.name) readstat_variable_set_label(variable, column.name.c_str());
    if (column.kind == ColumnKind::Levels) {
        readstat_label_set_t* set = readstat_add_label_set(
            writer, format == StatFormat::Stata ? READSTAT_TYPE_INT32 : READSTAT_TYPE_DOUBLE,
            name.c_str());
        for (int k = 1; k <= column.levelCount; ++k) {
            std::string text = LevelText(column, k);
            if (format == StatFormat::Stata)
                readstat_label_int32_value(set, k, text.c_str());
            else
                readstat_label_double_value(set, k, text.c_str());
        }
        readstat_variable_set_label_set(variable, set);
    }
    return variable;
}

readstat_error_t InsertValue(readstat_writer_t* writer, const readstat_variable_t* variable,
                             const ExportColumn& column, size_t unit) {
    if (column.kind == ColumnKind::Levels) {
        uint8_t level = unit < column.levels.size() ? column.levels[unit] : 0;
        if (level == 0) return readstat_insert_missing_value(writer, variable);
        return readstat_insert_int16_value(writer, variable, level);
    }
    float value = unit < column.values.size() ? column.values[unit] : MissingValue;
    if (value == MissingValue || std::isnan(value))
        return readstat_insert_missing_value(writer, variable);
    if (readstat_variable_get_type(variable) == READSTAT_TYPE_FLOAT)
        return readstat_insert_float_value(writer, variable, value);
    return readstat_insert_double_value(writer, variable, value);
}

// SPSS value labels hold at most this many bytes; ReadStat would cut longer ones short.
constexpr size_t kSpssLabelBytes = 120;

// The first level name of the columns that a SPSS file cannot hold whole, as a message; "".
std::string TooLongForSpss(const std::vector<ExportColumn>& columns) {
    for (const ExportColumn& column : columns) {
        if (column.kind != ColumnKind::Levels) continue;
        for (int k = 1; k <= column.levelCount; ++k)
            if (LevelText(column, k).size() > kSpssLabelBytes)
                return "the name of level " + std::to_string(k) + " of " + column.name +
                       " is longer than 120 bytes";
    }
    return "";
}

size_t UnitCount(const std::vector<ExportColumn>& columns) {
    size_t units = 0;
    for (const ExportColumn& column : columns)
        units = std::max(
            units, column.kind == ColumnKind::Levels ? column.levels.size() : column.values.size());
    return units;
}

readstat_error_t WriteRows(readstat_writer_t* writer, const std::vector<ExportColumn>& columns,
                           const std::vector<readstat_variable_t*>& variables, size_t units) {
    readstat_error_t status = READSTAT_OK;
    for (size_t unit = 0; unit < units && status == READSTAT_OK; ++unit) {
        status = readstat_begin_row(writer);
        for (size_t i = 0; i < columns.size() && status == READSTAT_OK; ++i)
            status = InsertValue(writer, variables[i], columns[i], unit);
        if (status == READSTAT_OK) status = readstat_end_row(writer);
    }
    return status;
}

}  // namespace

std::string StatVariableName(const std::string& vectorName, StatFormat format) {
    std::string name;
    for (char c : vectorName) name += IsLetter(c) || IsDigit(c) || c == '_' ? c : '_';
    if (name.empty()) name = "V";
    // Stata and SAS take a leading underscore, SPSS only a letter (or @, which is mapped).
    if (IsSpss(format) ? !IsLetter(name[0]) : IsDigit(name[0])) name = "V" + name;
    if (IsSpss(format) ? IsSpssReserved(name)
                       : format == StatFormat::Stata && IsStataReserved(name))
        name = "V" + name;
    return name;
}

bool ReadStatFile(const std::string& path, const std::string& shown, StatFormat format,
                  ImportTable& table, std::string& error) {
    table = ImportTable();
    ReadContext context;
    context.format = format;
    if (!ParseFile(path, shown, context, error)) return false;
    if (!FinishColumns(context, table)) {
        table = ImportTable();
        error = context.error;
        return false;
    }
    if (table.rows == 0 || table.columns.empty()) {
        table = ImportTable();
        error = shown + " holds no data";
        return false;
    }
    return true;
}

bool WriteStatFile(std::FILE* file, StatFormat format, const std::vector<ExportColumn>& columns,
                   std::vector<std::pair<std::string, std::string>>& mapped, std::string& error) {
    const char* what = format == StatFormat::Stata ? "Stata" : "SPSS";
    auto fail = [&](const std::string& why) {
        error = std::string("Can not write the ") + what + " file (" + why + ")";
        return false;
    };
    if (format != StatFormat::Stata && format != StatFormat::Spss)
        return fail("only Stata and SPSS files are written");
    if (std::string why = format == StatFormat::Spss ? TooLongForSpss(columns) : ""; !why.empty())
        return fail(why);
    Writer w;
    readstat_set_data_writer(w.writer, WriteBytes);
    if (format == StatFormat::Stata) readstat_writer_set_file_format_version(w.writer, 118);
    std::vector<std::string> names = WrittenNames(columns, format);
    std::vector<readstat_variable_t*> variables;
    for (size_t i = 0; i < columns.size(); ++i)
        variables.push_back(AddVariable(w.writer, columns[i], names[i], format));
    size_t units = UnitCount(columns);
    readstat_error_t status =
        format == StatFormat::Stata
            ? readstat_begin_writing_dta(w.writer, file, static_cast<long>(units))
            : readstat_begin_writing_sav(w.writer, file, static_cast<long>(units));
    for (size_t i = 0; i < variables.size() && status == READSTAT_OK; ++i) {
        status = readstat_validate_variable(w.writer, variables[i]);
        if (status != READSTAT_OK) return fail(names[i] + ": " + readstat_error_message(status));
    }
    if (status == READSTAT_OK) status = WriteRows(w.writer, columns, variables, units);
    if (status == READSTAT_OK) status = readstat_end_writing(w.writer);
    if (status != READSTAT_OK) return fail(readstat_error_message(status));
    if (std::fflush(file) != 0 || std::ferror(file)) return fail("the disk refused the data");
    for (size_t i = 0; i < columns.size(); ++i)
        if (names[i] != columns[i].name) mapped.emplace_back(columns[i].name, names[i]);
    return true;
}

}  // namespace korw::io
