// Commands on vectors and units: VARIATE, FACTOR, GENERATELEVELS, DELETE, RENAME, RAMSTATUS,
// LIST, LIST1, INCLUDE, EXCLUDE, INCLUDEALL, EXCLUDEMISSING, EXCLUDELEVEL, FOCUSONLEVEL.
#include <functional>

#include "data/errors.h"
#include "data/listing.h"
#include "data/restrict.h"
#include "data/session.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"

namespace korw::interp {

namespace {

// The library call's error, if any, becomes the command's; then the results are shown.
bool IntegerOrFail(const std::string& text, int32_t& value, const std::string& message) {
    if (IntegerParameter(text, value) == 0) return true;
    SetCommandError(message);
    return false;
}

// Applies set(u) to the units of one INCLUDE or EXCLUDE item that is a range a:b, or to the
// unit u that the item's expression gave (evaluated once only: it may draw random numbers).
bool UnitItem(const std::string& item, int32_t u, const std::function<void(int32_t)>& set) {
    Split range = SplitFirst(item, ":");
    if (range.separator == ':') {
        int32_t a, b;
        if (!IntegerOrFail(range.head, a, "Invalid integer expression") ||
            !IntegerOrFail(range.tail, b, "Invalid integer expression"))
            return false;
        if (a < 1) return SetCommandError("Invalid integer parameter " + range.head), false;
        if (b < 1) return SetCommandError("Invalid integer parameter " + range.tail), false;
        if (a > b) return SetCommandError("Invalid range " + range.head + ":" + range.tail), false;
        for (int32_t u = a;; ++u) {
            set(u);
            if (LibraryFailed()) return false;
            if (u == b) break;
        }
        return true;
    }
    if (u < 1) return SetCommandError("Invalid integer parameter " + item), false;
    set(u);
    return !LibraryFailed();
}

// A condition item of EXCLUDE: units where the condition is positive are excluded.
bool ExcludeWhere(const std::string& condition) {
    std::string t = TemporaryName();
    bool ok = ComputeInto(t, condition);
    if (ok) {
        const data::Vector& v = data::Entry(data::FindVector(t));
        for (int32_t u = 1; u <= v.length; ++u)
            if (v.variate[u] > 0) data::Exclude(u);
    }
    std::string message = data::ErrorMessage;
    data::Delete(t);
    if (!ok) return SetCommandError(message), false;
    return true;
}

// A condition item of INCLUDE: units where the condition is positive are added to the present
// ones; the others stay as they were.
bool IncludeWhere(const std::string& condition) {
    std::string t = TemporaryName();
    if (!ComputeInto(t, condition)) {
        std::string message = data::ErrorMessage;
        data::Delete(t);
        return SetCommandError(message), false;
    }
    int32_t length = data::LengthOf(t);
    std::string f = TemporaryName();
    data::DeclareFactor(f, length, 1);
    if (LibraryFailed()) return data::Delete(t), false;
    std::vector<uint8_t>& wasIncluded = data::Entry(data::FindVector(f)).factor;
    for (int32_t u = 1; u <= length; ++u) {
        if (data::UnitIncluded(u))
            wasIncluded[u] = 1;
        else
            data::Include(u);
    }
    bool ok = ComputeInto(t, condition);  // now over all units
    if (ok) {
        const data::Vector& v = data::Entry(data::FindVector(t));
        for (int32_t u = 1; u <= v.length && u <= length; ++u)
            if (!(v.variate[u] > 0) && wasIncluded[u] == 0) data::Exclude(u);
    }
    std::string message = data::ErrorMessage;
    data::Delete(t + " " + f);
    if (!ok) return SetCommandError(message), false;
    return true;
}

void IncludeOrExclude(const std::string& params, bool include) {
    if (params.empty()) return SetCommandError(include ? "Include what?" : "Exclude what?");
    std::string_view rest = params;
    while (!rest.empty()) {
        const std::string text = TakeFirst(rest);
        int32_t unit = 0;
        bool isUnit = text.find(':') != std::string::npos || IntegerParameter(text, unit) == 0;
        data::ErrorFree = true;
        bool ok;
        if (isUnit)
            ok = UnitItem(
                text, unit, include ? [](int32_t u) { data::Include(u); } : [](int32_t u) {
                    data::Exclude(u);
                });
        else
            ok = include ? IncludeWhere(text) : ExcludeWhere(text);
        if (!ok) return;
    }
}

}  // namespace

void CmdVariate(const std::string& params) {
    Split s = SplitLast(params);
    int32_t length;
    if (!IntegerOrFail(s.tail, length, "Invalid integer expression " + s.tail)) return;
    if (s.head.empty()) return SetCommandError("Missing variate names");
    data::DeclareVariate(s.head, length);
    LibraryFailed();
}

void CmdFactor(const std::string& params) {
    Split levelsPart = SplitLast(params);
    int32_t levels, length;
    if (!IntegerOrFail(levelsPart.tail, levels, "Invalid integer expression " + levelsPart.tail))
        return;
    Split lengthPart = SplitLast(levelsPart.head);
    if (!IntegerOrFail(lengthPart.tail, length, "Invalid integer expression " + lengthPart.tail))
        return;
    if (lengthPart.head.empty()) return SetCommandError("Missing factor names");
    data::DeclareFactor(lengthPart.head, length, levels);
    LibraryFailed();
}

void CmdGenerateLevels(const std::string& params) {
    Split s = SplitLast(params);
    if (s.head.empty()) return SetCommandError("Two parameters required");
    int32_t k;
    if (!IntegerOrFail(s.tail, k, "Invalid integer expression " + s.tail)) return;
    if (k < 1) return SetCommandError("Invalid number of levels");
    data::GenerateLevels(s.head, k);
    LibraryFailed();
}

void CmdDelete(const std::string& params) {
    if (params.empty()) return RestartLibrarySession();
    data::Delete(params);
    LibraryFailed();
}

void CmdRename(const std::string& params) {
    if (params.empty()) return SetCommandError("Missing parameter");
    Split s = SplitFirst(params);
    if (s.tail.find(' ') != std::string::npos) return SetCommandError("Too many parameters");
    data::Rename(s.head, s.tail);
    LibraryFailed();
}

void CmdRamStatus(const std::string&) {
    data::RAMstatus();
    FinishWithOutput();
}

void CmdList(const std::string& params) {
    if (!params.empty()) {
        data::List(params);
        return FinishWithOutput();
    }
    constexpr size_t kChunk = 240;  // the names of all vectors go to List in chunks
    std::string names;
    for (int i = 1; i <= data::TableSize; ++i) {
        if (data::Entry(i).kind == data::FreeEntry) continue;
        names += (names.empty() ? "" : " ") + data::Entry(i).name;
        if (names.size() > kChunk) {
            data::List(names);
            if (LibraryFailed()) return;
            names.clear();
        }
    }
    if (!names.empty()) data::List(names);
    FinishWithOutput();
}

void CmdList1(const std::string& params) {
    data::List1(params, true);
    FinishWithOutput();
}

void CmdInclude(const std::string& params) {
    IncludeOrExclude(params, true);
}

void CmdExclude(const std::string& params) {
    IncludeOrExclude(params, false);
}

void CmdIncludeAll(const std::string&) {
    data::IncludeAll();
}

void CmdExcludeMissing(const std::string& params) {
    if (params.empty()) return SetCommandError("Missing parameter");
    data::ExcludeMissing(params);
    LibraryFailed();
}

void CmdExcludeLevel(const std::string& params) {
    Split first = SplitFirst(params);
    if (first.tail.empty()) return SetCommandError("Missing parameter");
    std::string_view rest = first.tail;
    while (!rest.empty()) {
        const std::string level = TakeFirst(rest);
        int32_t k;
        if (IntegerParameter(level, k) != 0 || k < 0)
            return SetCommandError("Invalid factor level");
        data::ExcludeLevel(first.head, k);
        if (LibraryFailed()) return;
    }
}

void CmdFocusOnLevel(const std::string& params) {
    Split s = SplitLast(params);
    int32_t k;
    if (IntegerParameter(s.tail, k) != 0 || k < 0) return SetCommandError("Invalid factor level");
    data::FocusOnLevel(s.head, k);
    LibraryFailed();
}

}  // namespace korw::interp
