// Model formulas: normalisation, expansion by distribution, terms and design columns, and the
// fit record's hooks into the vector table.
#include <algorithm>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models {

using data::Entry;
using data::ReportError;

namespace detail {

FitRecord& Fit() {
    static FitRecord record;
    return record;
}

bool HaveFit(const char* message) {
    if (!Fit().fitType.empty()) return true;
    ReportError(message);
    return false;
}

bool DesignRow(int32_t unit, std::vector<TermValue>& row, bool& missing) {
    row.clear();
    missing = false;
    for (const Term& term : Fit().terms) {
        int offset = 0;
        bool zero = false;
        for (int f : term.factors) {
            const data::Vector& v = Entry(f);
            if (v.kind != data::FactorKind) {
                ReportError("A vector in the model formula has been deleted");
                return false;
            }
            // A level above the factor's count (written through FactorPointer) matches no
            // column.
            int level = unit <= v.length ? v.factor[unit] : 0;
            if (level > v.levels) level = 0;
            if (level == 0) zero = true;
            offset = offset * v.levels + (level > 0 ? level - 1 : 0);
        }
        double value = 1.0;
        for (int x : term.variates) {
            const data::Vector& v = Entry(x);
            if (v.kind != data::VariateKind) {
                ReportError("A vector in the model formula has been deleted");
                return false;
            }
            float y = unit <= v.length ? v.variate[unit] : data::MissingValue;
            if (y == data::MissingValue) missing = true;
            value *= y;
        }
        if (!zero && value != 0.0) row.push_back({term.firstColumn + offset, value});
    }
    return true;
}

int32_t FirstMissingUnit(const float* y, int32_t from, int32_t to) {
    constexpr int32_t kRun = 4096;
    const uint8_t* present = data::RestrictList().data();
    for (int32_t start = from; start <= to; start += kRun) {
        int32_t end = std::min(to, start + kRun - 1);
        int any = 0;
        for (int32_t u = start; u <= end; ++u)
            any |= static_cast<int>(y[u] == data::MissingValue) & static_cast<int>(present[u] != 0);
        if (any == 0) continue;
        for (int32_t u = start; u <= end; ++u)
            if (y[u] == data::MissingValue && present[u]) return u;
    }
    return 0;
}

}  // namespace detail

using namespace detail;

namespace {

constexpr const char* kFormulaCharacters = "#$%&()*+0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_";
constexpr const char* kForbiddenPairs[] = {"*)", "(*", "+)", "(+", "()",
                                           ")(", "++", "**", "+*", "*+"};

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The whole UTF-8 character that starts at position i.
std::string CharacterAt(const std::string& s, size_t i) {
    size_t j = i + 1;
    if (static_cast<unsigned char>(s[i]) >= 0xC0)
        while (j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) ++j;
    return s.substr(i, j - i);
}

std::string RemoveBlanks(std::string s) {
    for (size_t p; (p = s.find("  ")) != std::string::npos;) s.erase(p, 1);
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ' ') {
            bool before =
                i + 1 < s.size() && std::string("*)+").find(s[i + 1]) != std::string::npos;
            bool after = !out.empty() && std::string("*(+").find(out.back()) != std::string::npos;
            if (before || after) continue;
            out += '+';
        } else {
            out += s[i];
        }
    }
    return out;
}

bool CheckCharacters(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::string_view(kFormulaCharacters).find(s[i]) == std::string_view::npos) {
            ReportError("Invalid character " + CharacterAt(s, i) + " in model formula");
            return false;
        }
    }
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        for (const char* pair : kForbiddenPairs) {
            if (s[i] == pair[0] && s[i + 1] == pair[1]) {
                ReportError(std::string("Syntax error ") + pair + " in model specification");
                return false;
            }
        }
    }
    int depth = 0;
    for (char c : s) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (depth < 0) {
            ReportError("Too many )");
            return false;
        }
    }
    if (depth > 0) {
        ReportError("Too many (");
        return false;
    }
    return true;
}

// One step of the expansion: the first parenthesis is removed, or L(A+B)R becomes LAR+L(B)R.
std::string ExpandFirst(const std::string& s) {
    size_t open = s.find('(');
    size_t close = open + 1, firstPlus = std::string::npos;
    for (int depth = 1;; ++close) {
        if (s[close] == '(') ++depth;
        if (s[close] == ')' && --depth == 0) break;
        if (s[close] == '+' && depth == 1 && firstPlus == std::string::npos) firstPlus = close;
    }
    if (firstPlus == std::string::npos)
        return s.substr(0, open) + s.substr(open + 1, close - open - 1) + s.substr(close + 1);
    size_t start = s.rfind('+', open);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = close + 1;
    for (int depth = 0; end < s.size(); ++end) {
        if (s[end] == '(') ++depth;
        if (s[end] == ')') --depth;
        if (s[end] == '+' && depth == 0) break;
    }
    std::string left = s.substr(start, open - start);
    std::string a = s.substr(open + 1, firstPlus - open - 1);
    std::string b = s.substr(firstPlus + 1, close - firstPlus - 1);
    std::string right = s.substr(close + 1, end - close - 1);
    return s.substr(0, start) + left + a + right + "+" + left + "(" + b + ")" + right +
           s.substr(end);
}

std::vector<std::string> SplitAt(const std::string& s, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t p; (p = s.find(separator, from)) != std::string::npos; from = p + 1)
        parts.push_back(s.substr(from, p - from));
    parts.push_back(s.substr(from));
    return parts;
}

// True when a variate is free of missing values at the present units.
bool CheckMissing(int index) {
    const data::Vector& v = Entry(index);
    int32_t u = FirstMissingUnit(v.variate.data(), 1, std::min(v.length, data::MaxLength()));
    if (u == 0) return true;
    ReportError("Variate " + v.name + " has a missing value at unit " + std::to_string(u));
    return false;
}

// Looks up the names of one term and collects its factors (once each) and variates (once
// per occurrence), both in table order.
bool CollectVectors(const std::string& text, int32_t nUnits, Term& term) {
    for (std::string name : SplitAt(text, '*')) {
        if (name == "1") continue;
        if (!data::CheckIdentifier(name)) return false;
        int index = data::FindVector(name);
        if (index == 0) {
            ReportError(name + " not found in vector list");
            return false;
        }
        const data::Vector& v = Entry(index);
        if (v.length != nUnits) {
            ReportError(name + " of wrong length");
            return false;
        }
        if (v.kind == data::FactorKind) {
            if (std::find(term.factors.begin(), term.factors.end(), index) == term.factors.end())
                term.factors.push_back(index);
        } else {
            if (!CheckMissing(index)) return false;
            term.variates.push_back(index);
        }
    }
    std::sort(term.factors.begin(), term.factors.end());
    std::sort(term.variates.begin(), term.variates.end());
    std::string name;
    for (int f : term.factors) name += (name.empty() ? "" : "*") + Entry(f).name;
    for (int x : term.variates) name += (name.empty() ? "" : "*") + Entry(x).name;
    term.name = name.empty() ? "CONSTANT" : name.substr(0, 100);
    return true;
}

// Appends the term's columns, odometer order; false when the total passes MaxColumns.
bool AddColumns(Term& term, std::vector<Column>& columns) {
    long long count = 1;
    for (int f : term.factors) {
        count *= Entry(f).levels;
        if (columns.size() + count > static_cast<size_t>(MaxColumns)) {
            ReportError("Too many parameters");
            return false;
        }
    }
    if (columns.size() + count > static_cast<size_t>(MaxColumns)) {
        ReportError("Too many parameters");
        return false;
    }
    term.firstColumn = static_cast<int>(columns.size());
    std::vector<int> level(term.factors.size(), 1);
    for (long long c = 0; c < count; ++c) {
        Column column;
        for (size_t i = 0; i < term.factors.size(); ++i) {
            column.vector[column.pairs] = static_cast<uint8_t>(term.factors[i]);
            column.level[column.pairs++] = static_cast<uint8_t>(level[i]);
        }
        for (int x : term.variates) column.vector[column.pairs++] = static_cast<uint8_t>(x);
        columns.push_back(column);
        for (size_t i = term.factors.size(); i-- > 0;) {
            if (++level[i] <= Entry(term.factors[i]).levels) break;
            level[i] = 1;
        }
    }
    term.lastColumn = static_cast<int>(columns.size()) - 1;
    return true;
}

// Forgets the fit; starting values set for the next fit stay.
void ClearFit() {
    FitRecord& fit = Fit();
    FitRecord cleared;
    cleared.initValue = std::move(fit.initValue);
    cleared.initSet = std::move(fit.initSet);
    fit = std::move(cleared);
}

void ResetFit() {
    Fit() = FitRecord();
}

bool VectorDeleted(int index, const std::string& name) {
    FitRecord& fit = Fit();
    if (fit.fitType.empty()) return false;
    if (fit.fitType != "FitUserDefined") {
        for (VectorCopy* copy : {&fit.response, &fit.weight, &fit.offset})
            if (copy->name == name) copy->kind = 0;
    }
    for (const Column& column : fit.columns) {
        for (int i = 0; i < column.pairs; ++i) {
            if (column.vector[i] == index) {
                ClearFit();
                return true;
            }
        }
    }
    return false;
}

int CrossProductOrder() {
    return Fit().matrix.empty() ? 0 : Fit().order;
}

void FreeMatrix() {
    Fit().matrix.clear();
    Fit().matrix.shrink_to_fit();
}

}  // namespace

void ParseFormula(std::string& formula) {
    std::string s = RemoveBlanks(Trim(data::UpperName(Trim(formula))));
    if (!CheckCharacters(s)) return;
    while (s.find('(') != std::string::npos) {
        s = ExpandFirst(s);
        if (s.size() > static_cast<size_t>(MaxFormulaLength)) {
            ReportError("Expanded model formula too long");
            return;
        }
    }
    formula = s;
}

void BuildColumns(const std::string& expanded, int32_t nUnits) {
    FitRecord& fit = Fit();
    fit.terms.clear();
    fit.columns.clear();
    std::vector<std::string> parts = SplitAt(expanded, '+');
    for (size_t t = 0; t < parts.size(); ++t) {
        if (t >= static_cast<size_t>(MaxTerms))
            return ReportError("Too many terms in model specification");
        Term term;
        if (!CollectVectors(parts[t], nUnits, term)) return;
        if (term.factors.size() + term.variates.size() > static_cast<size_t>(MaxOrder))
            return ReportError("Too high order of term " + term.name);
        if (!AddColumns(term, fit.columns)) return;
        fit.terms.push_back(term);
    }
    fit.nUnits = nUnits;
}

double ColumnValue(int32_t unit, int k) {
    const Column& column = Fit().columns[k - 1];
    double value = 1.0;
    for (int i = 0; i < column.pairs; ++i) {
        const data::Vector& v = Entry(column.vector[i]);
        bool isFactor = column.level[i] > 0;
        if (v.kind != (isFactor ? data::FactorKind : data::VariateKind)) {
            ReportError("A vector in the model formula has been deleted");
            return 0;
        }
        if (unit < 1 || unit > v.length) return data::MissingValue;
        if (isFactor) {
            if (v.factor[unit] != column.level[i]) value = 0;
        } else {
            if (v.variate[unit] == data::MissingValue) return data::MissingValue;
            value *= v.variate[unit];
        }
    }
    return value;
}

double OffsetValue(int32_t unit) {
    const FitRecord& fit = Fit();
    if (!fit.hasOffset) return 0;
    const data::Vector& v = Entry(fit.offset.index);
    if (fit.offset.kind == 0 || v.kind != data::VariateKind || v.name != fit.offset.name) {
        ReportError("The offset variate has been deleted");
        return 0;
    }
    if (unit < 1 || unit > v.length || v.variate[unit] == data::MissingValue)
        return data::MissingValue;
    return v.variate[unit];
}

std::string ParameterName(int k) {
    if (!data::Enter("ParameterName")) return "";
    if (!HaveFit("No model fit information available")) return "";
    int columns = static_cast<int>(Fit().columns.size());
    if (k < 1 || k > columns + static_cast<int>(Fit().extraNames.size())) {
        ReportError("Argument " + std::to_string(k) + " out of range");
        return "";
    }
    if (k > columns) return Fit().extraNames[k - columns - 1];
    const Column& column = Fit().columns[k - 1];
    std::string name;
    for (int i = 0; i < column.pairs; ++i) {
        if (i > 0) name += "*";
        name += Entry(column.vector[i]).name;
        if (column.level[i] > 0) name += "[" + std::to_string(column.level[i]) + "]";
    }
    return name.empty() ? "CONSTANT" : name;
}

int NumberOfParameters() {
    if (!data::Enter("NumberOfParameters")) return 0;
    if (!HaveFit("No model fitted")) return 0;
    return Fit().numberOfParameters;
}

int NumberOfLinParameters() {
    if (!data::Enter("NumberOfLinParameters")) return 0;
    if (!HaveFit("No model fit information available")) return 0;
    return static_cast<int>(Fit().columns.size());
}

void InstallModelFitHooks() {
    data::ModelFitHooks hooks;
    hooks.vectorDeleted = VectorDeleted;
    hooks.crossProductOrder = CrossProductOrder;
    hooks.sessionStarted = ResetFit;
    hooks.sessionFinished = FreeMatrix;
    data::SetModelFitHooks(hooks);
}

}  // namespace korw::models
