// Fixed-field number and text conversions for every listing of the system.
//
// The layouts assume Pascal-style conversions: x:w:d (fixed notation, right-aligned, at least w
// wide), x:w (exponent form), integers in a field, and the significant-digit formatter
// WriteNumber of the fit listings. Nothing else in the system formats numbers itself.
// Infinite and undefined values (a diverged fit) come out as printf writes them ("inf",
// "-nan"), right-aligned in the field of every form.
#pragma once

#include <string>
#include <string_view>

namespace korw::data {

// Text right-aligned in a field of at least `width` characters (never cut).
std::string Right(std::string_view text, int width);

// Integer right-aligned in at least `width` characters.
std::string Int(long long value, int width = 0);

// Fixed notation with `decimals` decimals, right-aligned in at least `width` characters.
std::string Fixed(double value, int width, int decimals);

// Exponent form in `width` characters: a blank or "-", one digit, a point, width - 9 digits
// (at least 1), "E", a sign and four exponent digits. Width 23 is the default form
// " 1.00000000000000E+0000".
std::string Exponent(double value, int width = 23);

// Scientific notation that fits in exactly `width` (>= 9) characters: a blank or "-", one digit,
// a point, width - 7 digits, "E", a sign and two exponent digits (three when needed, with one
// mantissa digit less). Used by the listings for values too wide for their fixed format.
std::string Scientific(double value, int width);

// The format that WriteNumber chooses for a field of width W and D significant digits.
struct NumberFormat {
    int width = 0;     // characters the number takes
    int decimals = 0;  // decimals of the mantissa
    int exponent = 0;  // decimal exponent; 0 means plain fixed notation
};

NumberFormat ChooseNumberFormat(int fieldWidth, int digits, double value);

// The value in a chosen format, right-aligned in fieldWidth: x / 10^E in fixed notation, then
// "e" and E when E is not 0 (0.1235e6, 0.4560e-3).
std::string FormatNumber(const NumberFormat& format, int fieldWidth, double value);

// WriteNumber's text: FormatNumber(ChooseNumberFormat(W, D, x), W, x).
std::string NumberText(int fieldWidth, int digits, double value);

// Cuts text to at most n characters without splitting a UTF-8 sequence.
std::string CutChars(std::string_view text, size_t n);

}  // namespace korw::data
