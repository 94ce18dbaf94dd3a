#include "data/vectors.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"

namespace korw::data {

namespace {

std::array<Vector, TableSize + 1> table;  // index 0 unused: indices are 1..TableSize
std::vector<uint8_t> restrictList(1, 1);
int32_t maxLength = 0;
ModelFitHooks hooks;

constexpr size_t kIdentifierLength = 8;

// Declarations below this size are not checked against the free memory.
constexpr long long kCheckedBytes = 64LL << 20;

long long SystemAvailableMemory() {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (f == nullptr) return -1;
    long long kilobytes = -1;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "MemAvailable: %lld kB", &kilobytes) == 1) break;
    std::fclose(f);
    return kilobytes < 0 ? -1 : kilobytes * 1024;
}

MemoryProbe memoryProbe = SystemAvailableMemory;

// Whether the machine can give the bytes that a declaration needs.
bool MemoryFor(long long bytes) {
    if (bytes < kCheckedBytes) return true;
    long long available = memoryProbe();
    return available < 0 || bytes <= available;
}

// Length of the valid UTF-8 sequence starting at s[i], or 0 when s[i] starts none.
size_t Utf8Sequence(std::string_view s, size_t i) {
    unsigned char c = s[i];
    size_t len = (c >= 0xC2 && c <= 0xDF)   ? 2
                 : (c >= 0xE0 && c <= 0xEF) ? 3
                 : (c >= 0xF0 && c <= 0xF4) ? 4
                                            : 0;
    if (len == 0 || i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return len;
}

// The character at s[i]: a whole UTF-8 sequence, or one byte.
std::string_view CharacterAt(std::string_view s, size_t i) {
    size_t len = Utf8Sequence(s, i);
    return s.substr(i, len == 0 ? 1 : len);
}

size_t CharacterCount(std::string_view s) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); i += CharacterAt(s, i).size()) ++count;
    return count;
}

bool IsFirstIdentifierChar(unsigned char c) {
    return c == '#' || c == '$' || c == '%' || c == '&' || c == '@' || c == '_' ||
           (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsIdentifierChar(unsigned char c) {
    return IsFirstIdentifierChar(c) || (c >= '0' && c <= '9');
}

std::string TrimBlanks(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return "";
    return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

// Splits a blank-separated name list.
std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && list[i] == ' ') ++i;
        size_t j = i;
        while (j < list.size() && list[j] != ' ') ++j;
        if (j > i) names.push_back(list.substr(i, j - i));
        i = j;
    }
    return names;
}

void RecomputeMaxLength() {
    int32_t longest = 0;
    for (int i = 1; i <= TableSize; ++i)
        if (table[i].kind != FreeEntry) longest = std::max(longest, table[i].length);
    if (longest < maxLength) {
        maxLength = longest;
        restrictList.resize(maxLength + 1);
    }
}

void Declare(const std::string& names, int32_t length, int32_t levels, VectorKind kind) {
    const char* what = kind == VariateKind ? "variate " : "factor ";
    for (std::string name : Names(names)) {
        if (!CheckIdentifier(name)) return;
        if (FindVector(name) != 0) return ReportError("Duplicate identifier " + name);
        if (length < 1) return ReportError(std::string("Invalid length of ") + what + name);
        if (kind == FactorKind && (levels < 1 || levels > MaxLevels))
            return ReportError("Invalid number of levels for factor " + name);
        int index = FreeIndex();
        if (index == 0)
            return ReportError(std::string("Too many vectors - no free entry for ") + what + name);
        long long bytes = (static_cast<long long>(length) + 1) *
                          (kind == VariateKind ? static_cast<long long>(sizeof(float)) : 1);
        if (length > maxLength) bytes += static_cast<long long>(length) + 1;  // restriction list
        if (!MemoryFor(bytes))
            return ReportError(std::string("Not enough memory for ") + what + name);
        Vector& v = table[index];
        try {
            if (kind == VariateKind)
                v.variate.assign(static_cast<size_t>(length) + 1, 0.0f);
            else
                v.factor.assign(static_cast<size_t>(length) + 1, 0);
            GrowMaxLength(length);
        } catch (const std::bad_alloc&) {
            v = Vector();
            return ReportError(std::string("Not enough memory for ") + what + name);
        }
        v.name = name;
        v.length = length;
        v.levels = static_cast<uint8_t>(kind == FactorKind ? levels : 0);
        v.kind = kind;
    }
}

// Looks up a variate or factor and checks the unit; 0 after an error.
int UnitLookUp(std::string& name, int32_t unit, VectorKind kind) {
    int index = kind == VariateKind ? LookUpVariate(name) : LookUpFactor(name);
    if (index == 0) return 0;
    if (unit < 1 || unit > table[index].length) {
        ReportError("Invalid unit index " + std::to_string(unit) +
                    (kind == VariateKind ? " for variate " : " for factor ") + name);
        return 0;
    }
    return index;
}

}  // namespace

Vector& Entry(int index) {
    return table[index];
}

int32_t MaxLength() {
    return maxLength;
}

std::vector<uint8_t>& RestrictList() {
    return restrictList;
}

std::string UpperName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = Utf8Sequence(text, i);
        if (len > 0) {
            out.append(text.substr(i, len));
            i += len;
            continue;
        }
        unsigned char c = text[i++];
        if (c >= 'a' && c <= 'z')
            c = c - 'a' + 'A';
        else if (c == 145)
            c = 146;
        else if (c == 155)
            c = 157;
        else if (c == 134)
            c = 143;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

bool CheckIdentifier(std::string& name) {
    name = TrimBlanks(name);
    if (CharacterCount(name) > kIdentifierLength) {
        ReportError("Identifier " + CutChars(name, kIdentifierLength) + "... too long");
        return false;
    }
    if (name.empty()) {
        ReportError("Invalid identifier ");
        return false;
    }
    name = UpperName(name);
    if (!IsFirstIdentifierChar(name[0])) {
        ReportError("Invalid first character in identifier " + name);
        return false;
    }
    for (size_t i = 1; i < name.size(); ++i) {
        if (!IsIdentifierChar(name[i])) {
            ReportError("Invalid character " + std::string(CharacterAt(name, i)) +
                        " in identifier " + name);
            return false;
        }
    }
    if (name == "CONSTANT") {
        ReportError("Do not use the name CONSTANT as an identifier");
        return false;
    }
    return true;
}

int FindVector(std::string_view name) {
    for (int i = 1; i <= TableSize; ++i)
        if (table[i].kind != FreeEntry && table[i].name == name) return i;
    return 0;
}

std::string FreeTemporaryName() {
    for (int k = 1;; ++k) {
        std::string name = "SYS" + std::to_string(k);
        if (FindVector(name) == 0) return name;
    }
}

int LookUp(std::string& name) {
    if (!CheckIdentifier(name)) return 0;
    int index = FindVector(name);
    if (index == 0) ReportError("Invalid identifier " + name);
    return index;
}

int LookUpVariate(std::string& name) {
    int index = LookUp(name);
    if (index != 0 && table[index].kind != VariateKind) {
        ReportError(name + " is not a variate");
        return 0;
    }
    return index;
}

int LookUpFactor(std::string& name) {
    int index = LookUp(name);
    if (index != 0 && table[index].kind != FactorKind) {
        ReportError(name + " is not a factor");
        return 0;
    }
    return index;
}

void DeclareVariate(const std::string& names, int32_t length) {
    if (Enter("DeclareVariate")) Declare(names, length, 0, VariateKind);
}

void DeclareFactor(const std::string& names, int32_t length, int32_t levels) {
    if (Enter("DeclareFactor")) Declare(names, length, levels, FactorKind);
}

void Delete(const std::string& names) {
    if (!Enter("Delete")) return;
    bool warned = false;
    for (std::string name : Names(names)) {
        if (!CheckIdentifier(name)) return;
        int index = FindVector(name);
        if (index == 0) return ReportError(name + " does not exist");
        if (hooks.vectorDeleted != nullptr && hooks.vectorDeleted(index, name) && !warned) {
            WriteLine("WARNING: Information about last model fit is lost");
            warned = true;
        }
        table[index] = Vector();
        RecomputeMaxLength();
    }
}

void Rename(const std::string& oldName, const std::string& newName) {
    ErrorFree = true;
    std::string from = oldName, to = newName;
    if (!CheckIdentifier(from) || !CheckIdentifier(to)) return;
    int index = FindVector(from);
    if (FindVector(to) != 0) return ReportError("Duplicate identifier " + to);
    if (index == 0) return ReportError(from + " does not exist");
    table[index].name = to;
}

int32_t LengthOf(const std::string& name) {
    if (!Enter("LengthOf")) return 0;
    std::string n = name;
    int index = LookUp(n);
    ErrorFree = true;
    return index == 0 ? 0 : table[index].length;
}

int32_t NumberOfLevels(const std::string& name) {
    if (!Enter("NumberOfLevels")) return 0;
    std::string n = name;
    int index = LookUp(n);
    ErrorFree = true;
    return index == 0 ? 0 : table[index].levels;
}

float Value(const std::string& name, int32_t unit) {
    if (!Enter("Value")) return 0;
    std::string n = name;
    int index = UnitLookUp(n, unit, VariateKind);
    return index == 0 ? 0 : table[index].variate[unit];
}

int Level(const std::string& name, int32_t unit) {
    if (!Enter("Level")) return 0;
    std::string n = name;
    int index = UnitLookUp(n, unit, FactorKind);
    return index == 0 ? 0 : table[index].factor[unit];
}

void AssignValue(const std::string& name, int32_t unit, float value) {
    if (!Enter("AssignValue")) return;
    std::string n = name;
    int index = UnitLookUp(n, unit, VariateKind);
    if (index != 0) table[index].variate[unit] = value;
}

void AssignLevel(const std::string& name, int32_t unit, int32_t level) {
    if (!Enter("AssignLevel")) return;
    std::string n = name;
    int index = UnitLookUp(n, unit, FactorKind);
    if (index == 0) return;
    if (level < 0 || level > table[index].levels)
        return ReportError("Invalid level " + std::to_string(level) + " for factor " + n);
    table[index].factor[unit] = static_cast<uint8_t>(level);
}

void GenerateLevels(const std::string& names, int32_t interval) {
    if (!Enter("GenerateLevels")) return;
    for (std::string name : Names(names)) {
        int index = LookUpFactor(name);
        if (index == 0) return;
        if (interval < 1)
            return ReportError("Invalid repetition interval " + std::to_string(interval) + " for " +
                               name);
        Vector& v = table[index];
        int level = 1, run = 0;
        for (int32_t u = 1; u <= v.length; ++u) {
            v.factor[u] = static_cast<uint8_t>(level);
            if (++run == interval) {
                run = 0;
                level = level == v.levels ? 1 : level + 1;
            }
        }
    }
}

float* VariatePointer(const std::string& name) {
    if (!Enter("VariatePointer")) return nullptr;
    std::string n = name;
    int index = LookUpVariate(n);
    return index == 0 ? nullptr : table[index].variate.data();
}

uint8_t* FactorPointer(const std::string& name) {
    if (!Enter("FactorPointer")) return nullptr;
    std::string n = name;
    int index = LookUpFactor(n);
    return index == 0 ? nullptr : table[index].factor.data();
}

void SetModelFitHooks(const ModelFitHooks& h) {
    hooks = h;
}

const ModelFitHooks& ModelFit() {
    return hooks;
}

void SetMemoryProbe(MemoryProbe probe) {
    memoryProbe = probe != nullptr ? probe : SystemAvailableMemory;
}

void ClearTable() {
    for (auto& v : table) v = Vector();
    maxLength = 0;
    restrictList.assign(1, 1);
}

void GrowMaxLength(int32_t length) {
    if (length <= maxLength) return;
    restrictList.resize(static_cast<size_t>(length) + 1, 1);
    maxLength = length;
}

namespace {

int Adopt(const std::string& name, Vector&& v) {
    int index = FreeIndex();
    v.name = name;
    v.length = static_cast<int32_t>(std::max<size_t>(v.variate.size(), v.factor.size()) - 1);
    table[index] = std::move(v);
    GrowMaxLength(table[index].length);
    return index;
}

}  // namespace

int AdoptVariate(const std::string& name, std::vector<float>&& variate) {
    Vector v;
    v.kind = VariateKind;
    v.variate = std::move(variate);
    return Adopt(name, std::move(v));
}

int AdoptFactor(const std::string& name, int levels, std::vector<uint8_t>&& factor) {
    Vector v;
    v.kind = FactorKind;
    v.levels = static_cast<uint8_t>(levels);
    v.factor = std::move(factor);
    return Adopt(name, std::move(v));
}

int FreeIndex() {
    for (int i = 1; i <= TableSize; ++i)
        if (table[i].kind == FreeEntry) return i;
    return 0;
}

}  // namespace korw::data
