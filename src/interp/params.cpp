#include "interp/params.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "compute/compute.h"
#include "data/errors.h"
#include "data/vectors.h"

namespace korw::interp {

namespace {

constexpr double kIntegerLimit = 2E9;

bool IsReal(const std::string& s) {
    size_t i = 0, n = s.size(), digits = 0;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.')
        for (++i; i < n && s[i] >= '0' && s[i] <= '9'; ++i) ++digits;
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == n;
}

// Runs the expression into a temporary variate of length 1 and reads its value and length.
bool ComputeScalar(const std::string& text, double& value, int32_t& length) {
    std::string name = TemporaryName();
    data::DeclareVariate(name, 1);
    if (!data::ErrorFree) return false;
    bool ok = ComputeInto(name, text);
    if (ok) {
        value = data::Value(name, 1);
        length = data::LengthOf(name);
    }
    bool errorFree = data::ErrorFree;
    std::string message = data::ErrorMessage;
    data::Delete(name);
    data::ErrorFree = errorFree;  // the caller reports its own message; keep the state
    data::ErrorMessage = message;
    return ok;
}

}  // namespace

Split SplitFirst(const std::string& text, const char* separators) {
    size_t at = text.find_first_of(separators);
    if (at == std::string::npos) return {text, '\0', ""};
    return {text.substr(0, at), text[at], text.substr(at + 1)};
}

std::string TakeFirst(std::string_view& rest, const char* separators) {
    size_t at = rest.find_first_of(separators);
    std::string head(rest.substr(0, at));
    rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
    return head;
}

Split SplitLast(const std::string& text, const char* separators) {
    size_t at = text.find_last_of(separators);
    if (at == std::string::npos) return {"", '\0', text};
    return {text.substr(0, at), text[at], text.substr(at + 1)};
}

std::string TemporaryName() {
    return data::FreeTemporaryName();
}

bool ComputeInto(const std::string& name, const std::string& expression) {
    compute::Compute(name + " = " + expression);
    return data::ErrorFree;
}

int IntegerParameter(const std::string& text, int32_t& value) {
    const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (!text.empty() && ec == std::errc() && ptr == text.data() + text.size()) return 0;
    value = 0;
    if (text.empty()) return 1;
    double result;
    int32_t length;
    if (!ComputeScalar(text, result, length)) return 1;
    if (length != 1 || !(std::fabs(result) < kIntegerLimit) || result != std::trunc(result))
        return 1;
    value = static_cast<int32_t>(std::lround(result));
    return 0;
}

int RealParameter(const std::string& text, float& value) {
    if (IsReal(text)) {
        value = static_cast<float>(std::strtod(text.c_str(), nullptr));
        if (std::isfinite(value)) return 0;  // beyond single precision is no real number
        value = 0;
        return 1;
    }
    value = 0;
    if (text.empty()) return 1;
    double result;
    int32_t length;
    if (!ComputeScalar(text, result, length) || length != 1) return 1;
    value = static_cast<float>(std::nearbyint(result));
    return 0;
}

}  // namespace korw::interp
