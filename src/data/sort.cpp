#include "data/sort.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

constexpr size_t kMaxSortVectors = 255;

std::vector<std::string> SortNames(const std::string& list) {
    std::vector<std::string> names;
    size_t i = 0;
    while (i < list.size()) {
        i = list.find_first_not_of(" ,", i);
        if (i == std::string::npos) break;
        size_t j = list.find_first_of(" ,", i);
        if (j == std::string::npos) j = list.size();
        names.push_back(list.substr(i, j - i));
        i = j;
    }
    return names;
}

// A key value as an unsigned integer that orders like the value: levels as they are, reals
// with the sign bit flipped (positive) or all bits flipped (negative).
uint32_t OrderedBits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return (b & 0x80000000u) != 0 ? ~b : b | 0x80000000u;
}

// One stable counting pass of the permutation (with the key values carried along) on the
// byte of the key at `shift`. A pass in which all units share the byte is skipped.
void RadixPass(std::vector<uint32_t>& keys, std::vector<uint32_t>& perm, int shift,
               std::vector<uint32_t>& keyBuffer, std::vector<uint32_t>& permBuffer) {
    std::array<size_t, 257> start{};
    for (uint32_t k : keys) ++start[((k >> shift) & 0xFF) + 1];
    for (size_t d = 0; d < 256; ++d)
        if (start[d + 1] == keys.size()) return;
    for (size_t d = 1; d <= 256; ++d) start[d] += start[d - 1];
    for (size_t i = 0; i < keys.size(); ++i) {
        size_t at = start[(keys[i] >> shift) & 0xFF]++;
        keyBuffer[at] = keys[i];
        permBuffer[at] = perm[i];
    }
    keys.swap(keyBuffer);
    perm.swap(permBuffer);
}

// The order of units 0..n-1 by the keys in list order: a least-significant-digit radix sort
// (last key first, each stable), linear in the units for any data.
std::vector<uint32_t> SortOrder(const std::vector<int>& keyIndices, int32_t n) {
    std::vector<uint32_t> perm(static_cast<size_t>(n)), keys(perm.size());
    std::vector<uint32_t> keyBuffer(perm.size()), permBuffer(perm.size());
    for (int32_t i = 0; i < n; ++i) perm[i] = static_cast<uint32_t>(i);
    int passes = 0, done = 0;
    for (int index : keyIndices) passes += Entry(index).kind == FactorKind ? 1 : 4;
    for (auto it = keyIndices.rbegin(); it != keyIndices.rend(); ++it) {
        const Vector& v = Entry(*it);
        bool isFactor = v.kind == FactorKind;
        for (size_t i = 0; i < perm.size(); ++i)
            keys[i] = isFactor ? v.factor[perm[i] + 1] : OrderedBits(v.variate[perm[i] + 1]);
        int bytes = isFactor ? 1 : 4;
        for (int b = 0; b < bytes; ++b) {
            Poll();
            RadixPass(keys, perm, 8 * b, keyBuffer, permBuffer);
            ReportFraction(0.8 * ++done / passes);
        }
    }
    return perm;
}

template <typename T>
void Permute(std::vector<T>& data, const std::vector<uint32_t>& perm, std::vector<T>& buffer) {
    buffer.resize(perm.size());
    for (size_t i = 0; i < perm.size(); ++i) buffer[i] = data[perm[i] + 1];
    std::copy(buffer.begin(), buffer.end(), data.begin() + 1);
}

// Puts back the order that Permute changed.
template <typename T>
void Unpermute(std::vector<T>& data, const std::vector<uint32_t>& perm, std::vector<T>& buffer) {
    buffer.resize(perm.size());
    for (size_t i = 0; i < perm.size(); ++i) buffer[perm[i]] = data[i + 1];
    std::copy(buffer.begin(), buffer.end(), data.begin() + 1);
}

// The buffers are taken before the first vector is reordered, so that running out of memory
// leaves every vector as it was; a stop between two vectors puts the ones already reordered back.
void Reorder(const std::vector<int>& indices, const std::vector<uint32_t>& perm) {
    std::vector<float> reals;
    std::vector<uint8_t> levels;
    for (int index : indices) {
        if (Entry(index).kind == FactorKind)
            levels.resize(perm.size());
        else
            reals.resize(perm.size());
    }
    size_t reordered = 0;
    try {
        for (; reordered < indices.size(); ++reordered) {
            Poll();
            Vector& v = Entry(indices[reordered]);
            if (v.kind == FactorKind)
                Permute(v.factor, perm, levels);
            else
                Permute(v.variate, perm, reals);
            ReportFraction(0.8 + 0.2 * (reordered + 1) / indices.size());
        }
    } catch (const Interrupted&) {
        for (size_t k = 0; k < reordered; ++k) {
            Vector& v = Entry(indices[k]);
            if (v.kind == FactorKind)
                Unpermute(v.factor, perm, levels);
            else
                Unpermute(v.variate, perm, reals);
        }
        throw;
    }
}

}  // namespace

void Sort(const std::string& list) {
    if (!Enter("Sort")) return;
    std::string text = list;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    bool moveAlong = !text.empty() && text.back() == '+';
    if (moveAlong) text.pop_back();

    std::vector<int> keys;
    std::string firstName;
    for (std::string name : SortNames(text)) {
        int index = LookUp(name);
        if (index == 0) return;
        if (keys.size() == kMaxSortVectors) return ReportError("Too many vectors");
        if (std::find(keys.begin(), keys.end(), index) != keys.end())
            return ReportError(name + " occurs more than once in the list");
        if (keys.empty())
            firstName = name;
        else if (Entry(index).length != Entry(keys.front()).length)
            return ReportError(firstName + " and " + name + " are of different lengths");
        keys.push_back(index);
    }
    if (keys.empty()) return;
    int32_t length = Entry(keys.front()).length;

    std::vector<int> others;
    for (int i = 1; i <= TableSize; ++i)
        if (Entry(i).kind != FreeEntry && Entry(i).length == length &&
            std::find(keys.begin(), keys.end(), i) == keys.end())
            others.push_back(i);
    if (!moveAlong && !others.empty()) {
        WriteLine("WARNING. The following vectors of length " + std::to_string(length) +
                  " are not sorted.");
        for (int i : others) WriteLine(Entry(i).name);
    }
    for (int32_t u = 1; u <= length; ++u)
        if (!UnitIncluded(u)) {
            WriteLine("WARNING. Restriction indicators are not sorted.");
            break;
        }
    if (length <= 1) return;

    std::vector<uint32_t> perm = SortOrder(keys, length);
    if (moveAlong) keys.insert(keys.end(), others.begin(), others.end());
    Reorder(keys, perm);
}

void Transfer(const std::string& source, int32_t first, int32_t last, const std::string& target,
              int32_t targetFirst, int32_t targetLast) {
    if (!Enter("Transfer")) return;
    int64_t count = static_cast<int64_t>(last) - first;
    int64_t targetCount = static_cast<int64_t>(targetLast) - targetFirst;
    if ((count < 0 ? -count : count) != (targetCount < 0 ? -targetCount : targetCount))
        return ReportError("Unequal lengths of subvectors");
    std::string from = source, to = target;
    int fromIndex = LookUp(from);
    if (fromIndex == 0) return;
    int toIndex = LookUp(to);
    if (toIndex == 0) return;
    Vector& x = Entry(fromIndex);
    Vector& y = Entry(toIndex);
    if (x.kind != y.kind) return ReportError(from + " and " + to + " are of different types");
    auto inside = [](int32_t u, const Vector& v) { return u >= 1 && u <= v.length; };
    if (!inside(first, x) || !inside(last, x) || !inside(targetFirst, y) || !inside(targetLast, y))
        return ReportError("Unit index out of range");

    int step = first <= last ? 1 : -1;
    int targetStep = targetFirst <= targetLast ? 1 : -1;
    int64_t n = (count < 0 ? -count : count) + 1;
    int32_t u = first, w = targetFirst;
    for (int64_t i = 0; i < n; ++i, u += step, w += targetStep) {
        if (x.kind == FactorKind) {
            uint8_t level = x.factor[u];
            if (level > y.levels)
                return ReportError("Invalid level " + std::to_string(level) + " for factor " + to);
            y.factor[w] = level;
        } else {
            y.variate[w] = x.variate[u];
        }
        if (i + 1 == n) break;  // the next unit numbers may lie outside the vectors
    }
}

}  // namespace korw::data
