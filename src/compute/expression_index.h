// Tables over the text of one COMPUTE expression that answer the compiler's questions about
// any part of it in constant time: the parenthesis depth before each character, the smallest
// depth over a range, and, per operator class, the previous operator of that class at the same
// depth. With them the compiler never rescans the text of a part, so a line compiles in time
// proportional to its length however deeply it nests. Internal to src/compute.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace korw::compute::detail {

// The classes an expression is split at, weakest first.
enum class OperatorClass { Relational, Additive, Multiplicative, Power };
inline constexpr int OperatorClasses = 4;

bool InClass(unsigned char c, OperatorClass k);

class ExpressionIndex {
  public:
    // `withOperators` false builds only the depths (enough for stripping parentheses).
    ExpressionIndex(std::string_view text, bool withOperators);

    // '(' minus ')' among the characters before position i, 0 <= i <= size.
    int32_t Depth(size_t i) const { return depth_[i]; }
    // The smallest Depth(i) for from <= i <= to.
    int32_t MinDepth(size_t from, size_t to) const;
    // The last position j < i holding an operator of class k with Depth(j) == Depth(i); -1 when
    // there is none.
    int32_t Previous(OperatorClass k, size_t i) const { return previous_[static_cast<int>(k)][i]; }

  private:
    static constexpr size_t Block = 32;
    std::vector<int32_t> depth_;
    std::vector<std::vector<int32_t>> blockMin_;  // [level][b]: min of blocks b .. b + 2^level - 1
    std::array<std::vector<int32_t>, OperatorClasses> previous_;
};

}  // namespace korw::compute::detail
