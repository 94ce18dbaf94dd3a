// Parameter routines shared by all commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korw::interp {

struct Split {
    std::string head;
    char separator = '\0';
    std::string tail;
};

// At the first character of text that is one of `separators`; without one, head is the text.
Split SplitFirst(const std::string& text, const char* separators = " ");

// The head of SplitFirst(rest), and `rest` moves on to its tail: a loop over the items of a
// long line reads the line once instead of copying the rest at every item.
std::string TakeFirst(std::string_view& rest, const char* separators = " ");

// At the last such character; without one, the tail is the text.
Split SplitLast(const std::string& text, const char* separators = " ");

// A decimal integer, or an integer-valued COMPUTE expression of length 1 (below 2E9 in
// magnitude). Code 0 means success.
int IntegerParameter(const std::string& text, int32_t& value);

// A real number, or a COMPUTE expression of length 1 (its value rounded to an integer).
int RealParameter(const std::string& text, float& value);

// The first name SYS1, SYS2, ... that names no vector.
std::string TemporaryName();

// Computes name := expression through the COMPUTE language; false with the library error set.
bool ComputeInto(const std::string& name, const std::string& expression);

}  // namespace korw::interp
