#include "compute/compute.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "compute/expression_index.h"
#include "compute/internal.h"
#include "data/errors.h"
#include "data/summaries.h"
#include "data/vectors.h"

namespace korw::compute {

namespace {

using detail::RangeLimit;

// Nesting deeper than this cannot fit in the registers (every level is a node); refusing it
// early keeps the recursion off the end of the stack for absurd inputs.
constexpr int MaxNesting = 1000;

constexpr unsigned char LessEqChar = OpLessEq;
constexpr unsigned char NotEqualChar = OpNotEqual;
constexpr unsigned char GreaterEqChar = OpGreaterEq;

// State of one Compute call.
struct Call {
    std::string leftName;
    int32_t length = 0;  // computation length
    bool leftIsFactor = false;
    int leftLevels = 0;
    bool leftCreated = false;
    std::string temporaries;  // names of the vector-constant variates, each followed by a blank
    int nesting = 0;
};

Program program;
Call call;

bool Fail(std::string message) {
    data::ReportError(std::move(message));
    return false;
}

bool IsBlank(char c) {
    return c == ' ';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal real conversion: optional sign, digits with an optional decimal point (at least
// one digit), optional exponent "E" with optional sign and digits. Nothing else is a number.
bool ReadNumber(std::string_view text, double& value) {
    size_t i = 0, n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    if (i != n) return false;
    std::string copy(text);
    value = std::strtod(copy.c_str(), nullptr);  // overflow gives HUGE_VAL: out of range
    return true;
}

// Index of the vector named exactly `name` (upper case), 0 when none.
int Find(std::string_view name) {
    if (name.empty() || name.size() > 8) return 0;
    return data::FindVector(name);
}

// ---- Vector constants ------------------------------------------------------------------

std::vector<std::string> SplitItems(std::string_view inner) {
    std::vector<std::string> items;
    size_t i = 0;
    while (i < inner.size()) {
        while (i < inner.size() && IsBlank(inner[i])) ++i;
        size_t start = i;
        while (i < inner.size() && !IsBlank(inner[i])) ++i;
        if (i > start) items.emplace_back(inner.substr(start, i - start));
    }
    return items;
}

// Fills the temporary variate from the items, units 1, 2, ... in order.
bool FillConstant(const std::string& temporary, const std::vector<std::string>& items,
                  const std::vector<int32_t>& counted) {
    float* target = data::VariatePointer(temporary);
    if (target == nullptr) return false;
    int32_t unit = 1;
    for (size_t k = 0; k < items.size(); ++k) {
        const std::string& item = items[k];
        double number;
        if (item == "*") {
            target[unit++] = data::MissingValue;
            continue;
        }
        if (ReadNumber(item, number)) {
            // A number beyond single precision would be stored as infinity.
            if (std::fabs(number) > RangeLimit) return Fail("Constant " + item + " out of range");
            target[unit++] = static_cast<float>(number);
            continue;
        }
        std::string name = data::UpperName(Trim(item));
        int index = data::FindVector(name);
        // The temporary itself did not exist when the lengths were counted.
        if (index == 0 || name == temporary || data::Entry(index).length != counted[k])
            return Fail("Invalid vector name " + item);
        const data::Vector& v = data::Entry(index);
        for (int32_t u = 1; u <= v.length; ++u)
            target[unit++] =
                v.kind == data::FactorKind ? static_cast<float>(v.factor[u]) : v.variate[u];
    }
    return true;
}

// Replaces the constant whose "[" is at `open` by its temporary name: the text before it is
// moved to `done`, and `line` keeps what follows the "]".
bool ExpandOneConstant(std::string_view& line, size_t open, std::string& done) {
    size_t close = line.find(']', open + 1);
    if (close == std::string::npos) return Fail("Missing ]");
    std::string temporary = data::FreeTemporaryName();
    std::vector<std::string> items =
        SplitItems(std::string_view(line).substr(open + 1, close - open - 1));
    if (items.empty()) return Fail("Empty vector constant");
    std::vector<int32_t> counted;
    int32_t total = 0;
    for (const std::string& item : items) {
        int32_t length = data::LengthOf(item);
        counted.push_back(length);
        total = data::CheckedAdd(total, length > 0 ? length : 1);
    }
    data::DeclareVariate(temporary, total);
    if (!data::ErrorFree) return false;
    call.temporaries += temporary + " ";
    done.append(line.substr(0, open));
    done += temporary;
    line.remove_prefix(close + 1);
    return FillConstant(temporary, items, counted);
}

// Constants are replaced from left to right; a temporary name holds no "[", so the search for
// the next one goes on after it and the line is read once.
bool ExpandVectorConstants(std::string& line) {
    std::string done;
    std::string_view rest = line;
    for (size_t open; (open = rest.find('[')) != std::string::npos;)
        if (!ExpandOneConstant(rest, open, done)) return false;
    done.append(rest);
    line = std::move(done);
    return true;
}

// ---- Registers and operations ----------------------------------------------------------

int TakeRegister() {
    if (program.nextRegister >= RegisterCount) return Fail("Register overflow"), 0;
    return program.nextRegister++;
}

int Constant(double value) {
    int r = TakeRegister();
    if (r != 0) program.registers[r] = value;
    return r;
}

// Appends an operation whose result is the next register; returns that register or 0.
int Append(Operation op, std::string_view name = {}) {
    op.result = TakeRegister();
    if (op.result == 0) return 0;
    if (program.count + 1 >= OperationCount) return Fail("Operations overflow"), 0;
    program.operations[++program.count] = op;
    program.names[program.count] = name;
    return op.result;
}

std::string CodeText(unsigned char code) {
    switch (code) {
        case OpLessEq:
            return "<=";
        case OpNotEqual:
            return "<>";
        case OpGreaterEq:
            return ">=";
        default:
            return std::string(1, static_cast<char>(code));
    }
}

// A part of the text as the user wrote it, the relation codes back as their two characters, for
// messages (a code is no character a terminal can show).
std::string WrittenText(std::string_view text) {
    std::string out;
    for (char c : text) out += CodeText(static_cast<unsigned char>(c));
    return out;
}

// ---- The compiler ----------------------------------------------------------------------
//
// The compiler splits the text recursively: enclosing parentheses are stripped, the text is
// split at the rightmost operator of the weakest class at its own parenthesis depth (right part
// compiled first), and what cannot be split is an operand. Every part is a range [begin, end)
// of one text, answered from an ExpressionIndex over it, so no level rereads or copies the text
// of its part; only operands that end the recursion (numbers, names) are read, once each.

using detail::ExpressionIndex;
using detail::OperatorClass;

// The text being compiled with its tables.
struct Source {
    std::string text;
    ExpressionIndex index;
    Source(std::string t, bool withOperators) : text(std::move(t)), index(text, withOperators) {}
    std::string_view Part(size_t begin, size_t end) const {
        return std::string_view(text).substr(begin, end - begin);
    }
};

// Drops parentheses that enclose the whole of [begin, end); false after "Too many )". Each
// layer is checked as a scan from its "(" would: a depth below that of its "(" anywhere in the
// layer is too many ")", a return to it before the last character means the pair does not
// enclose the layer.
bool StripParentheses(const Source& s, size_t& begin, size_t& end) {
    while (end - begin >= 2 && s.text[begin] == '(' && s.text[end - 1] == ')') {
        int32_t level = s.index.Depth(begin);
        if (s.index.MinDepth(begin + 1, end) < level) return Fail("Too many )");
        if (s.index.MinDepth(begin + 1, end - 1) == level) break;
        ++begin;
        --end;
    }
    return true;
}

bool IsRelation(char c) {
    return c == '<' || c == '=' || c == '>';
}

// Writes "<=", "<>" and ">=" as their one-character codes; any other pair of relation
// characters is an error.
bool ReplaceRelationPairs(std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (i + 1 == text.size() || !IsRelation(text[i]) || !IsRelation(text[i + 1])) {
            out += text[i];
            continue;
        }
        std::string pair = text.substr(i, 2);
        unsigned char code = pair == "<="   ? LessEqChar
                             : pair == "<>" ? NotEqualChar
                             : pair == ">=" ? GreaterEqChar
                                            : 0;
        if (code == 0) return Fail("Operator " + pair + " does not exist");
        out += static_cast<char>(code);
        ++i;
    }
    text = std::move(out);
    return true;
}

bool IsSign(char c) {
    return c == '+' || c == '-';
}

int Compile(const Source& s, size_t begin, size_t end);

// The "0" put in front of a part that starts with a sign, compiled as its own part would be.
int CompileZero() {
    if (call.nesting >= MaxNesting) return Fail("Register overflow"), 0;
    return Constant(0);
}

int CompileBinary(const Source& s, size_t begin, size_t end, size_t at) {
    int right = Compile(s, at + 1, end);
    if (right == 0) return 0;
    int left = at == begin && IsSign(s.text[at]) ? CompileZero() : Compile(s, begin, at);
    if (left == 0) return 0;
    Operation op;
    op.a = left;
    op.b = right;
    op.code = static_cast<unsigned char>(s.text[at]);
    return Append(op);
}

// The length rule for a reference to a whole vector of that length.
bool CheckLength(const std::string& name, int32_t length) {
    if (Find(name) == 0) return Fail("Invalid vector name " + name);
    if (call.length == 0) {
        call.length = length;
        data::DeclareVariate(call.leftName, length);
        if (!data::ErrorFree) return false;
        call.leftCreated = true;
        return true;
    }
    if (length != call.length) return Fail("Vector " + name + " is of incorrect length");
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// name(index) with an existing vector name of at most 8 characters; -1 when not this form.
int CompileIndexed(const Source& s, size_t begin, size_t end) {
    std::string_view text = s.Part(begin, end);
    if (text.back() != ')') return -1;
    // Only the first "(" counts, and it must stand within the first nine characters.
    size_t p = text.substr(0, 9).find('(');
    if (p == std::string::npos || p + 1 >= text.size()) return -1;
    std::string name(text.substr(0, p));
    int index = Find(name);
    if (index == 0) return -1;
    int argument = Compile(s, begin + p + 1, end - 1);
    if (argument == 0) return 0;
    const data::Vector& v = data::Entry(index);
    Operation op;
    op.a = argument;
    op.b = v.length;
    if (v.kind == data::FactorKind) {
        op.code = OpFactorAt;
        op.factor = v.factor.data();
    } else {
        op.code = OpVariateAt;
        op.variate = v.variate.data();
    }
    return Append(op, name);
}

struct Function {
    std::string_view prefix;
    OperationCode code;
};

constexpr Function Functions[] = {
    {"EXP(", OpExp},       {"PHI(", OpPhi},         {"PHIINV(", OpPhiInv}, {"ABS(", OpAbs},
    {"INT(", OpInt},       {"LN(", OpLn},           {"SIN(", OpSin},       {"COS(", OpCos},
    {"ARCTAN(", OpArcTan}, {"POISSON(", OpPoisson}, {"SQRT(", OpSqrt},     {"SQR(", OpSqr},
};

int CompileFunction(const Source& s, size_t begin, size_t end) {
    for (const Function& f : Functions) {
        if (!StartsWith(s.Part(begin, end), f.prefix)) continue;
        int argument = Compile(s, begin + f.prefix.size() - 1, end);
        if (argument == 0) return 0;
        Operation op;
        op.a = argument;
        op.code = f.code;
        return Append(op);
    }
    return -1;
}

struct Reduction {
    std::string_view prefix;
    double (*apply)(const std::string&);
};

const Reduction Reductions[] = {
    {"MIN(", data::Min}, {"MAX(", data::Max},           {"MEAN(", data::Mean},
    {"SUM(", data::Sum}, {"VARIANCE(", data::Variance},
};

// MIN(name) and the like, and #(name), ##(name): constants; -1 when not these forms.
int CompileSummary(std::string_view text) {
    if (text.back() != ')') return -1;
    for (const Reduction& r : Reductions) {
        if (!StartsWith(text, r.prefix)) continue;
        std::string_view inner = text.substr(r.prefix.size(), text.size() - r.prefix.size() - 1);
        int index = Find(inner);
        if (index == 0) continue;
        if (data::Entry(index).kind == data::FactorKind)
            return Fail(std::string(text) + " not defined"), 0;
        double value = r.apply(std::string(inner));
        data::ProcedureName = "Compute";
        if (!data::ErrorFree) return 0;
        return Constant(value);
    }
    if (StartsWith(text, "##(") && text.size() <= 3 + 8 + 1) {
        int index = Find(text.substr(3, text.size() - 4));
        return Constant(index == 0 ? 0 : data::Entry(index).length);
    }
    if (StartsWith(text, "#(") && text.size() <= 2 + 8 + 1) {
        std::string name(text.substr(2, text.size() - 3));
        if (Find(name) != 0) {
            int32_t present = data::UnitsPresent(name);
            data::ProcedureName = "Compute";
            return Constant(present);
        }
    }
    return -1;
}

int CompileSymbol(std::string_view text) {
    OperationCode code;
    if (text == "#") {
        code = OpUnit;
    } else if (text == "##") {
        code = OpLength;
    } else if (text == "RANDOM") {
        code = OpRandom;
    } else if (text == "NORMAL") {
        code = OpNormal;
    } else {
        return -1;
    }
    if (Find(text) != 0) return -1;
    Operation op;
    op.code = code;
    return Append(op);
}

int CompileVector(std::string_view text) {
    int index = Find(text);
    if (index == 0) return -1;
    std::string name(text);
    const data::Vector& v = data::Entry(index);
    if (v.kind == data::VariateKind && v.length == 1) return Constant(v.variate[1]);
    if (!CheckLength(name, v.length)) return 0;
    const data::Vector& w = data::Entry(index);  // the declaration above may add an entry
    Operation op;
    if (w.kind == data::FactorKind) {
        op.code = OpFactor;
        op.factor = w.factor.data();
    } else {
        op.code = OpVariate;
        op.variate = w.variate.data();
    }
    return Append(op, name);
}

// An operand: a part without an operator at its own depth. `zero` says the part starts with a
// sign that stands for "0" and the sign (possible only where parentheses do not balance); such
// a text is none of the forms that recurse.
int CompileOperand(const Source& s, size_t begin, size_t end, bool zero) {
    std::string withZero;
    std::string_view text = s.Part(begin, end);
    if (zero) {
        withZero = "0" + std::string(text);
        text = withZero;
    } else {
        for (auto form : {CompileIndexed, CompileFunction}) {
            int r = form(s, begin, end);
            if (r >= 0) return r;
        }
        int r = CompileSummary(text);
        if (r >= 0) return r;
    }
    double number;
    if (text.front() != 'E' && ReadNumber(text, number)) {
        if (std::fabs(number) > RangeLimit)
            return Fail("Constant " + std::string(text) + " out of range"), 0;
        return Constant(number);
    }
    for (auto form : {CompileSymbol, CompileVector}) {
        int r = form(text);
        if (r >= 0) return r;
    }
    return Fail("Invalid expression " + WrittenText(text)), 0;
}

// Splits at the rightmost operator of the weakest class present at the part's own depth, or
// compiles the part as an operand. The part is stripped and not empty.
int CompileSplit(const Source& s, size_t begin, size_t end) {
    const ExpressionIndex& x = s.index;
    // Scanned from the right, the depth of the part falls below its end's wherever a "(" has
    // no ")" after it.
    if (x.MinDepth(begin, end - 1) < x.Depth(end)) return Fail("Too many ("), 0;
    bool zero = IsSign(s.text[begin]);
    for (OperatorClass k : {OperatorClass::Relational, OperatorClass::Additive,
                            OperatorClass::Multiplicative, OperatorClass::Power}) {
        int32_t at = x.Previous(k, end);  // the rightmost at the depth of the part's end
        if (at < 0 || static_cast<size_t>(at) < begin) continue;
        bool second = x.Previous(k, static_cast<size_t>(at)) >= static_cast<int32_t>(begin);
        if (second && k == OperatorClass::Relational)
            return Fail("Relational operators are not associative - use parentheses"), 0;
        if (second && k == OperatorClass::Power)
            return Fail("Operator ^ is not associative - use parentheses"), 0;
        return CompileBinary(s, begin, end, static_cast<size_t>(at));
    }
    return CompileOperand(s, begin, end, zero);
}

// Compiles the part [begin, end); returns the register of its value, 0 after an error.
int Compile(const Source& s, size_t begin, size_t end) {
    if (call.nesting >= MaxNesting) return Fail("Register overflow"), 0;
    ++call.nesting;
    int r = 0;
    if (StripParentheses(s, begin, end)) {
        if (begin == end)
            Fail("Empty expression / adjacent operators");
        else
            r = CompileSplit(s, begin, end);
    }
    --call.nesting;
    return r;
}

// The whole expression: its outer parentheses are stripped and checked on the text as written,
// then a leading sign gets its "0" and the relation pairs become their codes for good (no pair
// can form later), and the rest is compiled from tables over that text.
int CompileExpression(std::string expression) {
    size_t begin = 0, end = expression.size();
    {
        Source written(std::move(expression), false);
        if (!StripParentheses(written, begin, end)) return 0;
        if (begin == end) return Fail("Empty expression / adjacent operators"), 0;
        expression = written.text.substr(begin, end - begin);
    }
    if (IsSign(expression.front())) expression.insert(0, "0");
    if (!ReplaceRelationPairs(expression)) return 0;
    Source s(std::move(expression), true);
    ++call.nesting;
    int r = CompileSplit(s, 0, s.text.size());
    --call.nesting;
    return r;
}

// ---- The call --------------------------------------------------------------------------

// Blanks removed, upper case as names are, trimmed.
std::string NormaliseLine(const std::string& line) {
    std::string compact;
    for (char c : line)
        if (!IsBlank(c)) compact += c;
    return std::string(Trim(data::UpperName(compact)));
}

bool CompileAndStore(std::string line) {
    size_t equals = line.find('=');
    std::string left(Trim(std::string_view(line).substr(0, std::min(equals, line.size()))));
    std::string expression =
        equals == std::string::npos ? "" : std::string(Trim(line.substr(equals + 1)));
    if (expression.empty()) return Fail("Missing right hand side");
    if (left.empty()) return Fail("Missing left hand side");
    call.leftName = left;
    call.length = data::LengthOf(left);
    call.leftLevels = call.length >= 1 ? data::NumberOfLevels(left) : 0;
    call.leftIsFactor = call.leftLevels > 0;
    data::ProcedureName = "Compute";

    program.registers.fill(static_cast<double>(data::MissingValue));
    program.nextRegister = 1;
    program.count = 0;
    program.result = CompileExpression(std::move(expression));
    if (program.result == 0) return false;

    if (data::LengthOf(left) == 0) {
        data::DeclareVariate(left, 1);
        if (!data::ErrorFree) return false;
        call.leftCreated = true;
        call.length = 1;
    }
    data::ProcedureName = "Compute";
    detail::Target target;
    target.length = call.length;
    target.levels = call.leftLevels;
    if (call.leftIsFactor)
        target.factor = data::FactorPointer(left);
    else
        target.variate = data::VariatePointer(left);
    data::ProcedureName = "Compute";
    if (!data::ErrorFree) return false;
    detail::Counters counters{};
    detail::Evaluate(program, target, counters);
    detail::WriteWarnings(counters, call.leftIsFactor, line);
    return true;
}

// Temporary vectors go at the end of every call. After an error the left-hand variate this
// call declared goes too (a failed command leaves no half-made vector behind), and the error
// stays reported although the deletions reset the error state.
void CleanUp() {
    if (data::ErrorFree) {
        if (!call.temporaries.empty()) data::Delete(call.temporaries);
        return;
    }
    std::string message = data::ErrorMessage;
    if (!call.temporaries.empty()) data::Delete(call.temporaries);
    if (call.leftCreated) data::Delete(call.leftName);
    data::ErrorMessage = message;
    data::ErrorFree = false;
}

void AppendOperand(std::string& out, int reg) {
    out += "R" + std::to_string(reg);
}

std::string NumberText(double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : "?";
}

}  // namespace

void Compute(const std::string& line) {
    if (!data::Enter("Compute")) return;
    call = Call();
    program.count = 0;
    program.nextRegister = 1;
    program.result = 0;
    std::string text = line;
    if (ExpandVectorConstants(text)) CompileAndStore(NormaliseLine(text));
    CleanUp();
}

const Program& LastProgram() {
    return program;
}

std::string DisassembleOperations(const Program& p) {
    std::vector<bool> computed(RegisterCount + 1, false);
    for (int i = 1; i <= p.count; ++i) computed[p.operations[i].result] = true;
    std::string out;
    for (int r = 1; r < p.nextRegister; ++r)
        if (!computed[r])
            out += "R" + std::to_string(r) + " = " + NumberText(p.registers[r]) + "\n";
    for (int i = 1; i <= p.count; ++i) {
        const Operation& op = p.operations[i];
        AppendOperand(out, op.result);
        out += " := ";
        for (const Function& f : Functions) {
            if (f.code != op.code) continue;
            out += std::string(f.prefix);
            AppendOperand(out, op.a);
            out += ")";
        }
        if (detail::IsBinaryCode(op.code)) {
            AppendOperand(out, op.a);
            out += " " + CodeText(op.code) + " ";
            AppendOperand(out, op.b);
        }
        switch (op.code) {
            case OpVariate:
                out += "variate " + p.names[i];
                break;
            case OpFactor:
                out += "factor " + p.names[i];
                break;
            case OpVariateAt:
            case OpFactorAt:
                out += (op.code == OpFactorAt ? "factor " : "variate ") + p.names[i] + "(";
                AppendOperand(out, op.a);
                out += ") of " + std::to_string(op.b);
                break;
            case OpUnit:
                out += "#";
                break;
            case OpLength:
                out += "##";
                break;
            case OpRandom:
                out += "RANDOM";
                break;
            case OpNormal:
                out += "NORMAL";
                break;
            default:
                break;
        }
        out += "\n";
    }
    if (p.result != 0) out += "result R" + std::to_string(p.result) + "\n";
    return out;
}

}  // namespace korw::compute
