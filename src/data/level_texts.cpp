#include "data/level_texts.h"

#include <array>
#include <cstdint>

#include "data/vectors.h"

namespace korw::data {

namespace {

// FNV-1a over the length, the number of levels and the count of units at each level: the same
// for any order of the units, different (but for a hash collision) once any count changes.
uint64_t LevelPrint(const Vector& v) {
    std::array<uint64_t, MaxLevels + 1> counts{};
    for (size_t u = 1; u < v.factor.size(); ++u) ++counts[v.factor[u]];
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint64_t x) {
        for (int b = 0; b < 8; ++b, x >>= 8) hash = (hash ^ (x & 0xFF)) * 1099511628211ull;
    };
    mix(static_cast<uint64_t>(v.length));
    mix(v.levels);
    for (uint64_t c : counts) mix(c);
    return hash | 1;  // never 0, which marks "no texts"
}

}  // namespace

void KeepLevelTexts(int index, std::vector<std::string> texts) {
    Vector& v = Entry(index);
    v.levelTexts = std::move(texts);
    v.levelPrint = LevelPrint(v);
}

const std::vector<std::string>* KeptLevelTexts(int index) {
    Vector& v = Entry(index);
    if (v.kind != FactorKind || v.levelPrint == 0) return nullptr;
    if (LevelPrint(v) != v.levelPrint) {
        v.levelTexts.clear();
        v.levelPrint = 0;
        return nullptr;
    }
    return &v.levelTexts;
}

}  // namespace korw::data
