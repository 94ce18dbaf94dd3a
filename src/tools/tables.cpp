#include "tools/tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "tools/describe.h"

namespace korw::tools {

namespace {

constexpr int kLabelLength = 8;
constexpr int kMaxDecimals = 17;
constexpr double kIntegralTolerance = 1.0E-6;
constexpr size_t kMaxTabulateFactors = 20;

std::string Trim(const std::string& text) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

std::vector<std::string> Split(const std::string& list, const char* separators) {
    std::vector<std::string> words;
    size_t i = 0;
    while ((i = list.find_first_not_of(separators, i)) != std::string::npos) {
        size_t j = std::min(list.find_first_of(separators, i), list.size());
        words.push_back(list.substr(i, j - i));
        i = j;
    }
    return words;
}

// A factor as named in a table: [-]NAME[=label0,label1,...].
struct Classifier {
    std::string name;
    bool margin = true;
    std::vector<std::string> labels;  // by level, used only when the highest level has one
    int index = 0;
    bool useLabels = false;

    std::string Label(int level) const { return useLabels ? labels[level] : std::to_string(level); }
};

Classifier ParseClassifier(const std::string& text) {
    Classifier c;
    std::string t = Trim(text);
    if (!t.empty() && t[0] == '-') {
        c.margin = false;
        t.erase(0, 1);
    }
    size_t eq = t.find('=');
    c.name = data::UpperName(Trim(t.substr(0, eq)));
    if (eq != std::string::npos) {
        std::string list = t.substr(eq + 1);
        size_t i = 0;
        for (;;) {
            size_t j = std::min(list.find(',', i), list.size());
            c.labels.push_back(data::CutChars(Trim(list.substr(i, j - i)), kLabelLength));
            if (j == list.size()) break;
            i = j + 1;
        }
    }
    return c;
}

// Looks the factor up and settles its labels; false after reporting the error.
bool Resolve(Classifier& c) {
    c.index = data::LookUpFactor(c.name);
    if (c.index == 0) return false;
    int levels = data::Entry(c.index).levels;
    c.labels.resize(static_cast<size_t>(levels) + 1);
    c.useLabels = !c.labels[levels].empty();
    return true;
}

// The summed variate: NAME[:width[:decimals]].
struct SumSpec {
    std::string name;  // empty for counts
    int width = 0;
    int decimals = -1;
    int index = 0;
};

int IntegerOr(const std::string& text, int fallback) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || v < -1000000 || v > 1000000)
        return fallback;
    return static_cast<int>(v);
}

SumSpec ParseSumSpec(const std::string& text) {
    SumSpec s;
    std::vector<std::string> parts;
    std::string t = Trim(text);
    size_t i = 0;
    for (;;) {
        size_t j = std::min(t.find(':', i), t.size());
        parts.push_back(t.substr(i, j - i));
        if (j == t.size()) break;
        i = j + 1;
    }
    s.name = data::UpperName(Trim(parts[0]));
    if (parts.size() > 1) s.width = IntegerOr(Trim(parts[1]), 0);
    if (parts.size() > 2) s.decimals = IntegerOr(Trim(parts[2]), -1);
    return s;
}

struct CellFormat {
    int width = 2;
    int decimals = 0;
};

CellFormat CountFormat(int32_t n) {
    CellFormat f;
    f.width = std::max<int>(static_cast<int>(std::to_string(n).size()), 2);
    return f;
}

CellFormat SumFormat(const data::Vector& v, const SumSpec& spec) {
    double total = 0;
    bool integral = true, nonNegative = true;
    for (int32_t u = 1; u <= v.length; ++u) {
        float x = v.variate[u];
        if (x == data::MissingValue) continue;
        if (std::fabs(x - std::round(x)) > kIntegralTolerance) integral = false;
        if (x < 0) nonNegative = false;
        total += std::fabs(x);
        if (total > 0 && total < 1) integral = false;
    }
    CellFormat f;
    f.width = total > 0 ? static_cast<int>(std::lround(std::log10(total) + 0.51)) : 1;
    if (f.width < 5 && !integral) {
        f.decimals = 5 - f.width;
        f.width = std::max(f.width, 1) + 1 + f.decimals;
    } else {
        f.decimals = 0;
    }
    if (!nonNegative) ++f.width;
    while (spec.decimals > f.decimals && f.decimals < kMaxDecimals) {
        f.width += f.decimals == 0 ? 2 : 1;
        ++f.decimals;
    }
    while (spec.decimals >= 0 && spec.decimals < f.decimals) {
        --f.decimals;
        if (f.width > 1) --f.width;
        if (f.decimals == 0 && f.width > 1) --f.width;
    }
    if (spec.width > f.width) f.width = spec.width;
    f.decimals = std::min(f.decimals, kMaxDecimals);
    return f;
}

std::string LengthMessage(const std::string& a, const std::string& b) {
    return "LengthOf('" + a + "')<>LengthOf('" + b + "')";
}

// The table body over the present units; false after reporting the error.
bool TableBody(const SumSpec& spec, Classifier row, Classifier column) {
    data::WriteLine();
    if (!Resolve(row) || !Resolve(column)) return false;
    const data::Vector& r = data::Entry(row.index);
    const data::Vector& c = data::Entry(column.index);
    const data::Vector* v = nullptr;
    if (!spec.name.empty()) {
        std::string name = spec.name;
        int vi = data::LookUpVariate(name);
        if (vi == 0) return false;
        v = &data::Entry(vi);
        if (v->length != r.length) {
            data::ReportError(LengthMessage(r.name, v->name));
            return false;
        }
    }
    if (r.length != c.length) {
        data::ReportError(LengthMessage(r.name, c.name));
        return false;
    }
    CellFormat f = v == nullptr ? CountFormat(r.length) : SumFormat(*v, spec);
    if (column.useLabels)
        for (int j = 1; j <= c.levels; ++j)
            f.width = std::max<int>(f.width, static_cast<int>(column.labels[j].size()));

    int nr = r.levels, nc = c.levels;
    // Cells are summed in double precision and rounded once, when they are printed.
    std::vector<double> cells(static_cast<size_t>(nr + 1) * (nc + 1), 0.0);
    std::vector<double> rowTotals(nr + 1, 0.0), columnTotals(nc + 1, 0.0);
    double grand = 0;
    for (int32_t u = 1; u <= r.length; ++u) {
        data::PollAt(u);
        int i = r.factor[u], j = c.factor[u];
        if (i == 0 || j == 0 || !data::UnitIncluded(u)) continue;
        double x = 1.0;
        if (v != nullptr) {
            if (v->variate[u] == data::MissingValue) continue;
            x = v->variate[u];
        }
        cells[static_cast<size_t>(i) * (nc + 1) + j] += x;
        rowTotals[i] += x;
        columnTotals[j] += x;
        grand += x;
    }

    auto field = [&](double x) { return data::Fixed(x, f.width + 1, f.decimals); };
    std::string rule(static_cast<size_t>(f.width + 1), '-');
    std::string line = data::Right(c.name, 8) + " ";
    for (int j = 1; j <= nc; ++j) line += data::Right(column.Label(j), f.width + 1);
    line += " ";
    if (column.margin) line += data::Right("SUM", f.width + 1);
    data::WriteLine(line);

    std::string rules;
    for (int j = 1; j <= nc; ++j) rules += rule;
    rules += "|";
    if (column.margin) rules += rule;
    std::string name = r.name;
    name.resize(std::max<size_t>(name.size(), 8), ' ');
    data::WriteLine(name + "|" + rules);
    for (int i = 1; i <= nr; ++i) {
        line = data::Right(row.Label(i), 8) + "|";
        for (int j = 1; j <= nc; ++j) line += field(cells[static_cast<size_t>(i) * (nc + 1) + j]);
        line += "|";
        if (column.margin) line += field(rowTotals[i]);
        data::WriteLine(line);
    }
    data::WriteLine("        |" + rules);
    if (row.margin) {
        line = data::Right("SUM", 8) + "|";
        for (int j = 1; j <= nc; ++j) line += field(columnTotals[j]);
        line += "|";
        if (column.margin) line += field(grand);
        data::WriteLine(line);
    }
    return true;
}

void WriteTitle(const SumSpec& spec) {
    data::WriteLine(spec.name.empty() ? "Table of counts." : "Table of " + spec.name + " sums.");
}

// Puts the saved present set back: units saved as excluded are excluded, the others included.
void RestorePresent(const std::vector<uint8_t>& saved) {
    std::vector<uint8_t>& flags = data::RestrictList();
    std::copy(saved.begin(), saved.begin() + std::min(saved.size(), flags.size()), flags.begin());
}

// A table body on the units of some layers: a stop puts the present set back on the way out.
bool BodyOnLevels(const SumSpec& spec, const Classifier& row, const Classifier& column,
                  const std::vector<uint8_t>& saved) {
    try {
        return TableBody(spec, row, column);
    } catch (const data::Interrupted&) {
        RestorePresent(saved);
        throw;
    }
}

}  // namespace

void TwoWayTable(const std::string& spec, const std::string& row, const std::string& column) {
    if (!data::Enter("TwoWayTable")) return;
    SumSpec s = ParseSumSpec(spec);
    OpenFrame("TwoWayTable");
    WriteTitle(s);
    if (!TableBody(s, ParseClassifier(row), ParseClassifier(column))) return;
    CloseFrame();
}

void ThreeWayTable(const std::string& spec, const std::string& layerText, const std::string& row,
                   const std::string& column) {
    if (!data::Enter("ThreeWayTable")) return;
    SumSpec s = ParseSumSpec(spec);
    Classifier layer = ParseClassifier(layerText);
    Classifier r = ParseClassifier(row), c = ParseClassifier(column);
    OpenFrame("ThreeWayTable");
    WriteTitle(s);
    int indices[3];
    const Classifier* all[3] = {&layer, &r, &c};
    for (int k = 0; k < 3; ++k) {
        std::string name = all[k]->name;
        if (!data::CheckIdentifier(name)) return;
        indices[k] = data::FindVector(name);
        if (indices[k] == 0) return data::ReportError(name + " does not exist");
    }
    for (int k = 1; k < 3; ++k)
        if (data::Entry(indices[k]).length != data::Entry(indices[0]).length)
            return data::ReportError(
                LengthMessage(data::Entry(indices[0]).name, data::Entry(indices[k]).name));
    if (!Resolve(layer)) return;

    // The present set is kept in memory rather than in a temporary factor, so that saving it
    // cannot fail on a full table.
    const std::vector<uint8_t> saved = data::RestrictList();
    const data::Vector& l = data::Entry(layer.index);
    for (int k = 1; k <= l.levels; ++k) {
        data::WriteLine();
        data::WriteLine(l.name + "=" + layer.Label(k) + ":");
        data::FocusOnLevel(l.name, k);
        bool ok = data::ErrorFree && BodyOnLevels(s, r, c, saved);
        RestorePresent(saved);
        if (!ok) return;
    }
    if (layer.margin) {
        data::WriteLine();
        data::WriteLine("All levels of " + l.name + ":");
        data::ExcludeLevel(l.name, 0);
        bool ok = data::ErrorFree && BodyOnLevels(s, r, c, saved);
        RestorePresent(saved);
        if (!ok) return;
    }
    CloseFrame();
}

namespace {

struct TabulateItem {
    std::string target;
    std::string source;  // empty for a count
};

// Checks the factor list and computes the strides; false after reporting the error.
bool TabulateFactors(const std::vector<std::string>& names, std::vector<int>& indices,
                     std::vector<int32_t>& strides, int32_t& cells) {
    if (names.empty()) {
        data::ReportError("Empty factor list");
        return false;
    }
    if (names.size() > kMaxTabulateFactors) {
        data::ReportError("Too many factors - at most 20 are allowed");
        return false;
    }
    int64_t m = 1;
    for (std::string name : names) {
        int index = data::LookUpFactor(name);
        if (index == 0) return false;
        if (!indices.empty() && data::Entry(index).length != data::Entry(indices[0]).length) {
            data::ReportError("The factor " + name + " is of incorrect length");
            return false;
        }
        indices.push_back(index);
        m *= data::Entry(index).levels;
        if (m > INT32_MAX) {
            data::ReportError("Too many cells in the table");
            return false;
        }
    }
    cells = static_cast<int32_t>(m);
    int64_t stride = m;
    for (int index : indices) {
        stride /= data::Entry(index).levels;
        strides.push_back(static_cast<int32_t>(stride));
    }
    return true;
}

bool CheckNewFactors(const std::vector<std::string>& names, const std::vector<int>& factors,
                     int32_t cells) {
    if (names.size() < factors.size()) {
        data::ReportError("List of new factors is two short");
        return false;
    }
    if (names.size() > factors.size()) {
        data::ReportError("List of new factors is two long");
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        if (!data::CheckIdentifier(name)) return false;
        int index = data::FindVector(name);
        if (index == 0) continue;
        const data::Vector& f = data::Entry(index);
        std::string problem;
        if (f.kind != data::FactorKind)
            problem = "Factor " + name + " is a variate";
        else if (f.length != cells)
            problem = "Factor " + name + " is of incorrect length";
        else if (f.levels != data::Entry(factors[i]).levels)
            problem = name + " has an incorrect number of levels";
        if (!problem.empty()) {
            data::ReportError(problem);
            return false;
        }
    }
    return true;
}

bool CheckNewVariates(const std::vector<std::string>& items, int32_t length, int32_t cells,
                      std::vector<TabulateItem>& parsed) {
    for (const std::string& item : items) {
        size_t eq = item.find('=');
        TabulateItem t;
        t.target = item.substr(0, eq);
        if (eq != std::string::npos) {
            std::string old = item.substr(eq + 1);
            std::string checked = old;
            int index = data::CheckIdentifier(checked) ? data::FindVector(checked) : 0;
            data::ErrorFree = true;
            std::string problem;
            if (index == 0)
                problem = "Variate '" + old + "' does not exist";
            else if (data::Entry(index).length != length)
                problem = "Variate '" + old + "' of incorrect length";
            else if (data::Entry(index).kind != data::VariateKind)
                problem = checked + " is a factor";
            if (!problem.empty()) {
                data::ReportError(problem);
                return false;
            }
            t.source = checked;
        }
        if (!data::CheckIdentifier(t.target)) return false;
        int index = data::FindVector(t.target);
        if (index != 0 && data::Entry(index).kind == data::FactorKind) {
            data::ReportError(t.target + " is a factor");
            return false;
        }
        if (index != 0 && data::Entry(index).length != cells) {
            data::ReportError(t.target + " is of incorrect length");
            return false;
        }
        parsed.push_back(t);
    }
    return true;
}

// Cell 1..M of each unit, 0 for a unit that is absent or unclassified by some factor.
std::vector<int32_t> UnitCells(const std::vector<int>& factors, const std::vector<int32_t>& strides,
                               int32_t length) {
    std::vector<int32_t> cell(static_cast<size_t>(length) + 1, 1);
    cell[0] = 0;
    for (int32_t u = 1; u <= length; ++u)
        if (!data::UnitIncluded(u)) cell[u] = 0;
    for (size_t i = 0; i < factors.size(); ++i) {
        const std::vector<uint8_t>& levels = data::Entry(factors[i]).factor;
        for (int32_t u = 1; u <= length; ++u) {
            data::PollAt(u);
            if (cell[u] == 0) continue;
            if (levels[u] == 0)
                cell[u] = 0;
            else
                cell[u] += (levels[u] - 1) * strides[i];
        }
    }
    return cell;
}

// The cell sums (or counts) of one new variate, in double precision so that a large cell
// neither drifts nor stops counting at 2^24; each is rounded once when it is stored. The source
// is looked up by name now: an earlier item may have replaced it (then by a variate of the same
// length, since an existing target has one unit per cell), and its old table entry may be free.
std::vector<double> CellSums(const TabulateItem& item, const std::vector<int32_t>& cell,
                             int32_t cells) {
    std::vector<double> sums(static_cast<size_t>(cells) + 1, 0.0);
    const std::vector<float>* source =
        item.source.empty() ? nullptr : &data::Entry(data::FindVector(item.source)).variate;
    for (size_t u = 1; u < cell.size(); ++u) {
        if (cell[u] == 0) continue;
        if (source == nullptr)
            sums[cell[u]] += 1.0;
        else if ((*source)[u] != data::MissingValue)
            sums[cell[u]] += (*source)[u];
    }
    return sums;
}

void FillNewVariates(const std::vector<TabulateItem>& items, const std::vector<int32_t>& cell,
                     int32_t cells) {
    for (const TabulateItem& item : items) {
        // Summed before the target is replaced, since the target may be the source itself.
        std::vector<double> sums = CellSums(item, cell, cells);
        if (data::FindVector(item.target) != 0) data::Delete(item.target);
        if (!data::ErrorFree) return;
        data::DeclareVariate(item.target, cells);
        if (!data::ErrorFree) return;
        std::vector<float>& target = data::Entry(data::FindVector(item.target)).variate;
        for (int32_t c = 1; c <= cells; ++c) target[c] = static_cast<float>(sums[c]);
    }
}

}  // namespace

void Tabulate(const std::string& newVariates, const std::string& factors,
              const std::string& newFactors) {
    if (!data::Enter("Tabulate")) return;
    std::vector<int> indices;
    std::vector<int32_t> strides;
    int32_t cells = 0;
    if (!TabulateFactors(Split(data::UpperName(factors), " *"), indices, strides, cells)) return;
    int32_t length = data::Entry(indices[0]).length;

    std::vector<std::string> targets = Split(data::UpperName(newFactors), " *");
    bool temporary = targets.empty();
    if (!temporary && !CheckNewFactors(targets, indices, cells)) return;
    std::vector<TabulateItem> items;
    if (!CheckNewVariates(Split(data::UpperName(newVariates), " "), length, cells, items)) return;

    std::vector<int32_t> cell = UnitCells(indices, strides, length);
    std::vector<std::string> made;
    for (size_t i = 0; i < indices.size(); ++i) {
        std::string name = temporary ? data::FreeTemporaryName() : targets[i];
        if (data::FindVector(name) == 0) {
            data::DeclareFactor(name, cells, data::Entry(indices[i]).levels);
            if (!data::ErrorFree) break;
            if (temporary) made.push_back(name);
        }
        data::GenerateLevels(name, strides[i]);
        if (!data::ErrorFree) break;
    }
    // The new variates replace older ones item by item: once the first is replaced the command
    // runs to its end.
    data::HoldStops hold;
    if (data::ErrorFree) FillNewVariates(items, cell, cells);
    if (made.empty()) return;
    bool failed = !data::ErrorFree;
    std::string message = data::ErrorMessage;
    std::string list;
    for (const std::string& n : made) list += n + " ";
    data::Delete(list);
    if (failed) data::ReportError(message);
}

}  // namespace korw::tools
