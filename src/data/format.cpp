#include "data/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korw::data {

std::string Right(std::string_view text, int width) {
    std::string out;
    if (width > static_cast<int>(text.size())) out.assign(width - text.size(), ' ');
    out.append(text);
    return out;
}

std::string Int(long long value, int width) {
    return Right(std::to_string(value), width);
}

std::string Fixed(double value, int width, int decimals) {
    if (decimals < 0) decimals = 0;
    char small[64];
    int n = std::snprintf(small, sizeof small, "%.*f", decimals, value);
    if (n < static_cast<int>(sizeof small)) return Right(std::string_view(small, n), width);
    std::string big(n + 1, '\0');  // very large magnitudes print every digit
    std::snprintf(big.data(), big.size(), "%.*f", decimals, value);
    big.resize(n);
    return Right(big, width);
}

namespace {

// Mantissa and exponent of value with `digits` decimals, the mantissa rounded first so that
// 9.99 with one decimal becomes 1.0 and one more in the exponent.
void SplitExponent(double value, int digits, std::string& mantissa, int& exponent) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", digits, std::fabs(value));
    char* e = std::strchr(buf, 'e');
    exponent = std::atoi(e + 1);
    mantissa.assign(buf, e - buf);
}

std::string ExponentText(int exponent, int minDigits) {
    std::string digits = std::to_string(std::abs(exponent));
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, minDigits - digits.size(), '0');
    return (exponent < 0 ? "-" : "+") + digits;
}

}  // namespace

std::string Exponent(double value, int width) {
    if (!std::isfinite(value)) return Fixed(value, width, 0);  // "inf", "nan": no exponent
    int digits = width - 9 < 1 ? 1 : width - 9;
    std::string mantissa;
    int exponent;
    SplitExponent(value, digits, mantissa, exponent);
    return Right((std::signbit(value) && value != 0 ? "-" : " ") + mantissa + "E" +
                     ExponentText(exponent, 4),
                 width);
}

std::string Scientific(double value, int width) {
    if (!std::isfinite(value)) return Fixed(value, width, 0);
    int digits = width - 7 < 0 ? 0 : width - 7;
    std::string mantissa;
    int exponent;
    SplitExponent(value, digits, mantissa, exponent);
    if ((exponent >= 100 || exponent <= -100) && digits > 0)
        SplitExponent(value, --digits, mantissa, exponent);
    if (digits == 0) mantissa += '.';
    return Right((std::signbit(value) && value != 0 ? "-" : " ") + mantissa + "E" +
                     ExponentText(exponent, 2),
                 width);
}

NumberFormat ChooseNumberFormat(int W, int D, double x) {
    double a = x == 0 ? 0.5 : std::fabs(x);
    NumberFormat f;
    if (!std::isfinite(x)) {  // no logarithm to take: the four characters of "-inf" or "-nan"
        f.width = 4;
        return f;
    }
    if (a > std::pow(10.0, W - 1) - 0.6) {  // too large for W characters
        f.exponent =
            static_cast<int>(std::trunc(std::log10((1 + 0.51 * std::pow(10.0, -D)) * a))) + 1;
        f.decimals = D - 1;
        f.width = D + 4 + (f.exponent > 9) + (f.exponent > 99);
    } else if (a < std::pow(10.0, D - W + 2)) {  // too small for W characters
        f.exponent =
            -static_cast<int>(std::trunc(-std::log10((1 - 0.49 * std::pow(10.0, -D)) * a)));
        f.decimals = D;
        f.width = D + 6 + (f.exponent < -9) + (f.exponent < -99);
    } else if (a < 1) {
        f.decimals = static_cast<int>(std::trunc(-std::log10(a))) + D;
        f.width = f.decimals + 3;
    } else {
        int k = static_cast<int>(std::trunc(std::log10(a)));
        f.decimals = D > k + 1 ? D - (k + 1) : 0;
        f.width = k + 2 + (f.decimals > 0 ? f.decimals + 1 : 0);
    }
    return f;
}

std::string FormatNumber(const NumberFormat& f, int W, double x) {
    std::string out;
    if (W - f.width > 0) out.assign(W - f.width, ' ');
    int e = f.exponent;
    int field =
        f.width - (e > 0 ? 2 : 0) - (e < 0 ? 3 : 0) - (std::abs(e) > 9) - (std::abs(e) > 99);
    out += Fixed(e == 0 ? x : x / std::pow(10.0, e), field, f.decimals);
    if (e != 0) out += "e" + std::to_string(e);
    return out;
}

std::string NumberText(int W, int D, double x) {
    return FormatNumber(ChooseNumberFormat(W, D, x), W, x);
}

std::string CutChars(std::string_view text, size_t n) {
    size_t i = 0, count = 0;
    while (i < text.size() && count < n) {
        unsigned char c = text[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        size_t j = i + 1;
        while (j < text.size() && j < i + len && (static_cast<unsigned char>(text[j]) >> 6) == 2)
            ++j;
        i = j;
        ++count;
    }
    return std::string(text.substr(0, i));
}

}  // namespace korw::data
