// COMPUTE: assignment (name = expression), element assignment (name(u) = expression) and bare
// expressions, whose value is listed through the variate %RESULT.
#include <cmath>

#include "compute/compute.h"
#include "data/errors.h"
#include "data/listing.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"

namespace korw::interp {

namespace {

const std::string Result = "%RESULT";

std::string Trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Deletes a vector without disturbing the error state of the command.
void DeleteQuietly(const std::string& name) {
    bool errorFree = data::ErrorFree;
    std::string message = data::ErrorMessage;
    if (data::LengthOf(name) > 0) data::Delete(name);
    data::ErrorFree = errorFree;
    data::ErrorMessage = message;
}

// name(u) = expression: one unit of an existing vector.
void AssignElement(const std::string& left, const std::string& expression) {
    std::string inner = left.substr(0, left.size() - 1);
    Split split = SplitFirst(inner, "(");
    if (split.separator != '(') return SetCommandError("Missing (");
    std::string name = data::UpperName(Trimmed(split.head));
    int32_t length = data::LengthOf(name);
    if (length == 0) return SetCommandError(name + " does not exist");
    int32_t unit;
    if (IntegerParameter(split.tail, unit) != 0)
        return SetCommandError("Invalid integer expression " + split.tail);
    if (unit < 1 || unit > length) return SetCommandError("Unit number out of range");

    std::string temporary = TemporaryName();
    data::DeclareVariate(temporary, 1);
    if (LibraryFailed()) return;
    bool ok = ComputeInto(temporary, expression);
    float value = ok ? data::Value(temporary, 1) : 0.0f;
    DeleteQuietly(temporary);
    if (!ok) {
        LibraryFailed();
        return;
    }
    int32_t levels = data::NumberOfLevels(name);
    if (levels == 0) {
        data::AssignValue(name, unit, value);
    } else {
        if (!(value >= 0 && value <= static_cast<float>(levels) && value == std::trunc(value)))
            return SetCommandError("Invalid level " + expression);
        data::AssignLevel(name, unit, static_cast<int32_t>(value));
    }
    if (!LibraryFailed()) ShowCommandOutput();
}

// A bare expression: computed into %RESULT, listed, and %RESULT deleted again.
void ListExpression(std::string expression) {
    Split units = SplitFirst(expression, ":");
    expression = units.head;
    DeleteQuietly(Result);
    compute::Compute(Result + "=" + expression);
    if (!data::ErrorFree) {
        DeleteQuietly(Result);
        LibraryFailed();
        return;
    }
    // A single value is listed even when unit 1 is excluded.
    bool includeOne = data::LengthOf(Result) == 1 && !data::UnitIncluded(1);
    if (includeOne) data::Include(1);
    if (units.separator == ':')
        data::List1(Result + ":" + Trimmed(units.tail), false);
    else
        data::List1(Result, false);
    bool errorFree = data::ErrorFree;
    std::string message = data::ErrorMessage;
    if (includeOne) data::Exclude(1);
    DeleteQuietly(Result);
    data::ErrorFree = errorFree;
    data::ErrorMessage = message;
    if (!LibraryFailed()) ShowCommandOutput();
}

}  // namespace

void CmdCompute(const std::string& params) {
    std::string text = Trimmed(params);
    if (text.empty()) return SetCommandError("COMPUTE what?");
    size_t equals = text[0] == '(' ? std::string::npos : text.find('=');
    if (equals == std::string::npos) return ListExpression(text);
    std::string left = Trimmed(text.substr(0, equals));
    if (!left.empty() && left.back() == ')')
        return AssignElement(left, Trimmed(text.substr(equals + 1)));
    compute::Compute(text);
    if (!data::ErrorFree) {
        DeleteQuietly(Result);
        LibraryFailed();
        return;
    }
    ShowCommandOutput();
}

}  // namespace korw::interp
