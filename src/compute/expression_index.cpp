#include "compute/expression_index.h"

#include <algorithm>

#include "compute/compute.h"

namespace korw::compute::detail {

bool InClass(unsigned char c, OperatorClass k) {
    switch (k) {
        case OperatorClass::Relational:
            return c == '<' || c == '=' || c == '>' || c == OpLessEq || c == OpNotEqual ||
                   c == OpGreaterEq;
        case OperatorClass::Additive:
            return c == '+' || c == '-';
        case OperatorClass::Multiplicative:
            return c == '*' || c == '/';
        case OperatorClass::Power:
            return c == '^';
    }
    return false;
}

ExpressionIndex::ExpressionIndex(std::string_view text, bool withOperators) {
    size_t n = text.size();
    depth_.resize(n + 1);
    int32_t d = 0, lowest = 0, highest = 0;
    for (size_t i = 0; i < n; ++i) {
        depth_[i] = d;
        if (text[i] == '(') ++d;
        if (text[i] == ')') --d;
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
    }
    depth_[n] = d;

    // A sparse table over the minima of blocks; a query scans at most two partial blocks.
    size_t blocks = (n + 1 + Block - 1) / Block;
    blockMin_.emplace_back(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        size_t end = std::min(n + 1, (b + 1) * Block);
        blockMin_[0][b] = *std::min_element(depth_.begin() + static_cast<ptrdiff_t>(b * Block),
                                            depth_.begin() + static_cast<ptrdiff_t>(end));
    }
    for (size_t span = 2; span <= blocks; span *= 2) {
        const std::vector<int32_t>& below = blockMin_.back();
        std::vector<int32_t> level(blocks - span + 1);
        for (size_t b = 0; b < level.size(); ++b)
            level[b] = std::min(below[b], below[b + span / 2]);
        blockMin_.push_back(std::move(level));
    }

    if (!withOperators) return;
    // The last operator of each class seen so far at every depth, offset so that the lowest
    // depth is index 0.
    std::vector<int32_t> last(static_cast<size_t>(highest - lowest + 1));
    for (int k = 0; k < OperatorClasses; ++k) {
        std::fill(last.begin(), last.end(), -1);
        std::vector<int32_t>& previous = previous_[k];
        previous.resize(n + 1);
        for (size_t i = 0; i <= n; ++i) {
            int32_t& slot = last[static_cast<size_t>(depth_[i] - lowest)];
            previous[i] = slot;
            if (i < n &&
                InClass(static_cast<unsigned char>(text[i]), static_cast<OperatorClass>(k)))
                slot = static_cast<int32_t>(i);
        }
    }
}

int32_t ExpressionIndex::MinDepth(size_t from, size_t to) const {
    size_t first = from / Block, last = to / Block;
    if (last - first <= 1)
        return *std::min_element(depth_.begin() + static_cast<ptrdiff_t>(from),
                                 depth_.begin() + static_cast<ptrdiff_t>(to + 1));
    int32_t m =
        std::min(*std::min_element(depth_.begin() + static_cast<ptrdiff_t>(from),
                                   depth_.begin() + static_cast<ptrdiff_t>((first + 1) * Block)),
                 *std::min_element(depth_.begin() + static_cast<ptrdiff_t>(last * Block),
                                   depth_.begin() + static_cast<ptrdiff_t>(to + 1)));
    // Whole blocks first + 1 .. last - 1: two overlapping powers of two.
    size_t count = last - first - 1, level = 0;
    while ((size_t{2} << level) <= count) ++level;
    const std::vector<int32_t>& table = blockMin_[level];
    return std::min({m, table[first + 1], table[last - (size_t{1} << level)]});
}

}  // namespace korw::compute::detail
