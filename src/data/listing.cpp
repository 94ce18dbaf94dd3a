#include "data/listing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/summaries.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

constexpr int kNotGiven = 255;
constexpr int kMaxDecimals = 17;
constexpr int kMaxBlockColumns = 125;

struct Column {
    int index = 0;
    int width = 0;
    int decimals = 0;
    bool hasNames = false;
    std::vector<std::string> names;  // level texts from level 0 on
};

std::vector<std::string> Words(const std::string& list, const char* separators) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < list.size()) {
        i = list.find_first_not_of(separators, i);
        if (i == std::string::npos) break;
        size_t j = list.find_first_of(separators, i);
        if (j == std::string::npos) j = list.size();
        words.push_back(list.substr(i, j - i));
        i = j;
    }
    return words;
}

// The items of List: blank-separated; commas between items are skipped too, except inside
// the level names of an item name=names[:format], where they separate the names.
std::vector<std::string> ListItems(const std::string& list) {
    std::vector<std::string> items;
    for (const std::string& word : Words(list, " ")) {
        if (word.find('=') != std::string::npos) {
            size_t first = word.find_first_not_of(',');
            if (first != std::string::npos) items.push_back(word.substr(first));
        } else {
            for (const std::string& part : Words(word, ",")) items.push_back(part);
        }
    }
    return items;
}

// Splits at every comma; empty entries stay (an empty first name is the text of level 0).
std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        parts.push_back(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

bool ParseInt(const std::string& s, int& value) {
    const char* first = s.data() + (!s.empty() && s[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), value);
    return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

// Parses w:d or w into width and decimals (kNotGiven for a part that was not given).
bool ParseFormat(const std::string& format, int& width, int& decimals) {
    size_t colon = format.find(':');
    std::string widthText = format.substr(0, colon);
    std::string decimalsText = colon == std::string::npos ? "" : format.substr(colon + 1);
    width = decimals = kNotGiven;
    if (!widthText.empty()) {
        if (!ParseInt(widthText, width) || width < 0 || width > LineWidth() - 1) {
            ReportError("Invalid format - width set to " + CutChars(widthText, 8));
            return false;
        }
    }
    if (!decimalsText.empty()) {
        if (!ParseInt(decimalsText, decimals) || decimals < 0 || decimals > LineWidth() - 3) {
            ReportError("Invalid format  - number of decimals set to " + CutChars(decimalsText, 8));
            return false;
        }
        decimals = std::min(decimals, kMaxDecimals);
    }
    if (!widthText.empty() && colon == std::string::npos) decimals = 0;
    return true;
}

// Looks up one item name[=names][:format] and settles its column; false after an error.
bool MakeColumn(const std::string& item, bool allowNames, Column& col) {
    size_t eq = allowNames ? item.find('=') : std::string::npos;
    size_t colon = item.find(':', eq == std::string::npos ? 0 : eq);
    std::string name = item.substr(0, std::min(eq, colon));
    col.index = LookUp(name);
    if (col.index == 0) return false;
    const Vector& v = Entry(col.index);
    bool factor = v.kind == FactorKind;
    if (eq != std::string::npos) {
        if (!factor) {
            ReportError("Level names given for variate " + name);
            return false;
        }
        col.hasNames = true;
        col.names = SplitCommas(
            item.substr(eq + 1, colon == std::string::npos ? std::string::npos : colon - eq - 1));
    }
    int width = kNotGiven, decimals = kNotGiven;
    if (colon != std::string::npos && !ParseFormat(item.substr(colon + 1), width, decimals))
        return false;
    col.width = width != kNotGiven ? width : factor ? 4 : 10;
    col.decimals = factor ? 0 : decimals != kNotGiven ? decimals : 4;
    col.width = std::max(col.width, static_cast<int>(v.name.size()));
    return true;
}

// The field of unit u in a column; sets `unfit` when it had to be filled with "?".
std::string Field(const Column& col, int32_t u, bool& unfit) {
    const Vector& v = Entry(col.index);
    if (u > v.length) return std::string(col.width, ' ');
    std::string text;
    if (v.kind == VariateKind) {
        float x = v.variate[u];
        if (x == MissingValue) return Right("*", col.width);
        text = Fixed(x, 0, col.decimals);
        if (static_cast<int>(text.size()) > col.width && col.width >= 9)
            return Scientific(x, col.width);
    } else if (col.hasNames) {
        int level = v.factor[u];
        if (level >= static_cast<int>(col.names.size())) return std::string(col.width, ' ');
        return Right(CutChars(col.names[level], col.width), col.width);
    } else {
        text = std::to_string(v.factor[u]);
    }
    if (static_cast<int>(text.size()) > col.width) {
        unfit = true;
        return std::string(col.width, '?');
    }
    return Right(text, col.width);
}

void WriteUnfitNote(int width) {
    WriteLine();
    WriteLine(std::string(width, '?') + " means a value that does not fit the format.");
}

void WriteBlock(const std::vector<Column>& block, int& unfitWidth) {
    std::string line;
    int32_t units = 0;
    for (const Column& col : block) {
        line += " " + Right(Entry(col.index).name, col.width);
        units = std::max(units, Entry(col.index).length);
    }
    WriteLine(line);
    for (int32_t u = 1; u <= units; ++u) {
        if (!UnitIncluded(u)) continue;
        line.clear();
        for (const Column& col : block) {
            bool unfit = false;
            line += ' ';
            line += Field(col, u, unfit);
            if (unfit) unfitWidth = std::max(unfitWidth, col.width);
        }
        WriteLine(line);
    }
}

}  // namespace

std::vector<ListItem> SplitListItems(const std::string& items) {
    std::vector<ListItem> result;
    for (const std::string& item : ListItems(items)) {
        ListItem li;
        size_t eq = item.find('=');
        size_t colon = item.find(':', eq == std::string::npos ? 0 : eq);
        li.name = item.substr(0, std::min(eq, colon));
        if (eq != std::string::npos) {
            li.hasNames = true;
            li.names = SplitCommas(item.substr(
                eq + 1, colon == std::string::npos ? std::string::npos : colon - eq - 1));
        }
        if (colon != std::string::npos) {
            li.hasFormat = true;
            li.format = item.substr(colon + 1);
        }
        result.push_back(std::move(li));
    }
    return result;
}

void List(const std::string& items) {
    if (!Enter("List")) return;
    std::vector<Column> block;
    int lineLength = 0, unfitWidth = 0;
    bool firstBlock = true;
    auto flush = [&] {
        if (block.empty()) return;
        if (!firstBlock) WriteLine();
        WriteBlock(block, unfitWidth);
        firstBlock = false;
        block.clear();
        lineLength = 0;
    };
    for (const std::string& item : ListItems(items)) {
        Column col;
        if (!MakeColumn(item, true, col)) return;
        if (lineLength + col.width + 1 > LineWidth() ||
            static_cast<int>(block.size()) == kMaxBlockColumns)
            flush();
        block.push_back(std::move(col));
        lineLength += block.back().width + 1;
    }
    flush();
    if (unfitWidth > 0) WriteUnfitNote(unfitWidth);
}

void List1(const std::string& items, bool header) {
    if (!Enter("List1")) return;
    bool first = true;
    for (const std::string& item : Words(items, " ")) {
        Column col;
        if (!MakeColumn(item, false, col)) return;
        if (!first) WriteLine();
        first = false;
        const Vector& v = Entry(col.index);
        if (header) WriteLine(v.name);
        std::string line;
        int unfitWidth = 0;
        for (int32_t u = 1; u <= v.length; ++u) {
            if (!UnitIncluded(u)) continue;
            bool unfit = false;
            std::string field = " " + Field(col, u, unfit);
            if (unfit) unfitWidth = col.width;
            if (!line.empty() && static_cast<int>(line.size() + field.size()) > LineWidth()) {
                WriteLine(line);
                line.clear();
            }
            line += field;
        }
        WriteLine(line);
        if (unfitWidth > 0) WriteUnfitNote(unfitWidth);
    }
}

void WriteNumber(int fieldWidth, int digits, double value) {
    Write(NumberText(fieldWidth, digits, value));
}

namespace {

bool ParseLimit(const std::string& text, double& value) {
    if (text.empty()) return true;
    auto [ptr, ec] =
        std::from_chars(text.data() + (text[0] == '+'), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(value);
}

void FactorHistogram(int index, const std::string& namesText) {
    const Vector& f = Entry(index);
    std::vector<std::string> names =
        namesText.empty() ? std::vector<std::string>() : SplitCommas(namesText);
    std::vector<long long> counts(f.levels + 1, 0);
    long long present = 0;
    for (int32_t u = 1; u <= f.length; ++u)
        if (UnitIncluded(u)) ++counts[f.factor[u]], ++present;
    WriteLine(f.name);
    WriteLine(std::to_string(present) + " units present.");
    WriteLine("       Level    Units");
    for (int k = 0; k <= f.levels; ++k) {
        std::string label =
            k < static_cast<int>(names.size()) ? CutChars(names[k], 12) : std::to_string(k);
        WriteLine(Right(label, 12) + Int(counts[k], 9));
    }
}

bool VariateHistogram(int index, const std::string& limitsText) {
    const Vector& v = Entry(index);
    std::vector<std::string> parts = SplitCommas(limitsText);
    parts.resize(3);
    std::vector<float> values;
    for (int32_t u = 1; u <= v.length; ++u)
        if (UnitIncluded(u) && v.variate[u] != MissingValue) values.push_back(v.variate[u]);
    double lower = 0, upper = 0;
    if (!values.empty()) {
        lower = *std::min_element(values.begin(), values.end());
        upper = *std::max_element(values.begin(), values.end());
    }
    double given;
    for (int p = 0; p < 2; ++p) {
        if (parts[p].empty()) continue;
        if (!ParseLimit(parts[p], given)) {
            ReportError("Invalid real number " + parts[p]);
            return false;
        }
        (p == 0 ? lower : upper) = given;
    }
    int intervals = 0;
    if (!parts[2].empty() && !ParseInt(parts[2], intervals)) {
        ReportError("Invalid integer " + parts[2]);
        return false;
    }
    if (intervals < 1) intervals = static_cast<int>(std::nearbyint(std::sqrt(values.size())));
    intervals = std::max(intervals, 1);
    std::vector<long long> counts(intervals, 0);
    long long outside = 0;
    double step = (upper - lower) / intervals;
    for (float x : values) {
        if (!(x >= lower && x <= upper)) {  // a NaN is outside too, never an interval index
            ++outside;
            continue;
        }
        // A value on an inner limit counts in the upper interval; the top limit in the last.
        int k = step > 0 ? static_cast<int>((x - lower) / step) : 0;
        counts[std::clamp(k, 0, intervals - 1)]++;
    }
    NumberFormat format = ChooseNumberFormat(20, 8, std::fabs(lower) + std::fabs(upper));
    WriteLine(v.name);
    WriteLine(std::to_string(values.size()) + " units present.");
    for (int i = 0; i < intervals; ++i) {
        double from = lower + i * step, to = lower + (i + 1) * step;
        WriteLine(FormatNumber(format, 20, from) + " to " + FormatNumber(format, 20, to) +
                  Int(counts[i], 8));
    }
    if (outside > 0) WriteLine(std::to_string(outside) + " units not in the specified interval.");
    return true;
}

}  // namespace

void Histogram(const std::string& items) {
    if (!Enter("Histogram")) return;
    bool first = true;
    for (const std::string& item : Words(items, " ")) {
        size_t eq = item.find('=');
        std::string name = item.substr(0, eq);
        std::string rest = eq == std::string::npos ? "" : item.substr(eq + 1);
        int index = LookUp(name);
        if (index == 0) return;
        if (!first) WriteLine();
        first = false;
        if (Entry(index).kind == FactorKind)
            FactorHistogram(index, rest);
        else if (!VariateHistogram(index, rest))
            return;
    }
}

}  // namespace korw::data
