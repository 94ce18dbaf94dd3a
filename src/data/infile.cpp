#include "data/infile.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

constexpr double kLargestValue = 3.3E38;  // beyond it a value does not fit single precision
constexpr size_t kBufferSize = 1 << 16;

std::FILE* in = nullptr;
std::vector<char> buffer(kBufferSize);
size_t bufPos = 0, bufEnd = 0;
bool readFailed = false;
bool itemEndedLine = false;
std::array<bool, 256> separators{};
std::string item;  // the item last read, reused to avoid an allocation per item

bool Refill() {
    if (in == nullptr) return false;
    bufPos = 0;
    bufEnd = std::fread(buffer.data(), 1, buffer.size(), in);
    if (bufEnd == 0 && std::ferror(in)) readFailed = true;
    return bufEnd > 0;
}

// Next byte, or -1 at the end of the file (or after a failed read).
inline int NextByte() {
    if (bufPos == bufEnd && !Refill()) return -1;
    return static_cast<unsigned char>(buffer[bufPos++]);
}

bool AtEnd() {
    return bufPos == bufEnd && !Refill();
}

enum class ItemResult { Ok, EndBefore, EndWhileSkipping, ReadError };

// Skips separators, then collects the item up to and including the separator that ends it.
// Works on runs of the buffer rather than byte by byte: this is the inner loop of READ.
ItemResult ReadItem() {
    item.clear();
    if (AtEnd()) return readFailed ? ItemResult::ReadError : ItemResult::EndBefore;
    auto isSeparator = [](char c) { return separators[static_cast<unsigned char>(c)]; };
    for (;;) {
        while (bufPos < bufEnd && isSeparator(buffer[bufPos])) ++bufPos;
        if (bufPos < bufEnd) break;
        if (!Refill()) return readFailed ? ItemResult::ReadError : ItemResult::EndWhileSkipping;
    }
    itemEndedLine = false;
    for (;;) {
        size_t start = bufPos;
        while (bufPos < bufEnd && !isSeparator(buffer[bufPos])) ++bufPos;
        item.append(buffer.data() + start, bufPos - start);
        if (bufPos < bufEnd) break;
        if (!Refill()) return readFailed ? ItemResult::ReadError : ItemResult::Ok;
    }
    itemEndedLine = buffer[bufPos++] == '\n';
    return ItemResult::Ok;
}

// Reads one item for unit u of vector v; false with the message after a failure.
bool ReadItemFor(int32_t u, const std::string& v, bool variate) {
    ItemResult result = ReadItem();
    if (result == ItemResult::Ok) return true;
    std::string where = std::to_string(u) + " of ";
    switch (result) {
        case ItemResult::Ok:
            return true;
        case ItemResult::EndBefore:
            ReportError("End of inputfile before unit " + where + (variate ? "variate " : "") + v);
            return false;
        case ItemResult::EndWhileSkipping:
            ReportError("End of inputfile before unit " + where + v);
            return false;
        case ItemResult::ReadError:
            ReportError("IO error reading unit " + where + v);
            return false;
    }
    return false;
}

// The usual decimal syntax: optional sign, digits with an optional point and fraction (at least
// one digit), an optional exponent.
bool IsDecimalNumber(const std::string& s) {
    size_t i = 0, n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
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

bool ParseReal(const std::string& s, double& value) {
    if (!IsDecimalNumber(s)) return false;
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range)
        value = std::strtod(s.c_str(), nullptr);
    else if (ec != std::errc() || ptr != s.data() + s.size())
        return false;
    return std::fabs(value) <= kLargestValue;
}

// Level texts of levels 0..levels: the given comma-separated names, else the numbers.
std::vector<std::string> LevelTexts(const std::string& names, int levels) {
    std::vector<std::string> texts(levels + 1);
    if (names.empty()) {
        for (int k = 0; k <= levels; ++k) texts[k] = std::to_string(k);
        return texts;
    }
    size_t start = 0;
    for (int k = 0; k <= levels && start <= names.size(); ++k) {
        size_t comma = names.find(',', start);
        std::string text =
            names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t b = text.find_first_not_of(' ');
        texts[k] = b == std::string::npos ? "" : text.substr(b, text.find_last_not_of(' ') - b + 1);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return texts;
}

}  // namespace

void OpenInFile(const std::string& name) {
    if (!Enter("OpenInFile")) return;
    CloseInFile();
    in = OpenFile(name, "rb");
    if (in == nullptr) return ReportError("IO error initializing input file " + name);
    SkipByteOrderMark(in);
}

void CloseInFile() {
    if (in != nullptr) std::fclose(in);
    in = nullptr;
    bufPos = bufEnd = 0;
    readFailed = false;
    itemEndedLine = false;
}

bool InFileOpen() {
    return in != nullptr;
}

void ReadValue(const std::string& variate, int32_t unit) {
    if (!Enter("ReadValue")) return;
    std::string name = variate;
    int index = LookUpVariate(name);
    if (index != 0) ReadValueAt(index, unit);
}

void ReadValueAt(int index, int32_t unit) {
    Vector& v = Entry(index);
    if (unit < 1 || unit > v.length)
        return ReportError("Invalid unit index " + std::to_string(unit) + " for variate " + v.name);
    if (in == nullptr) return ReportError("Inputfile not open");
    if (!ReadItemFor(unit, v.name, true)) return;
    if (item == "*" || item == ".") {
        v.variate[unit] = MissingValue;
        return;
    }
    double value;
    if (!ParseReal(item, value))
        return ReportError("Invalid real number " + item + " for variate " + v.name + " at unit " +
                           std::to_string(unit));
    v.variate[unit] = static_cast<float>(value);
}

void ReadLevel(const std::string& factorSpec, int32_t unit) {
    if (!Enter("ReadLevel")) return;
    size_t eq = factorSpec.find('=');
    std::string name = factorSpec.substr(0, eq);
    int index = LookUpFactor(name);
    if (index != 0)
        ReadLevelAt(index, eq == std::string::npos ? "" : factorSpec.substr(eq + 1), unit);
}

void ReadLevelAt(int index, const std::string& levelTexts, int32_t unit) {
    Vector& f = Entry(index);
    if (unit < 1 || unit > f.length)
        return ReportError("Invalid unit index " + std::to_string(unit) + " for factor " + f.name);
    if (in == nullptr) return ReportError("Inputfile not open");
    // The READ loop passes the same texts for every unit: build the table once per text.
    static std::string cachedSpec;
    static int cachedLevels = -1;
    static std::vector<std::string> texts;
    if (cachedLevels != f.levels || cachedSpec != levelTexts) {
        texts = LevelTexts(levelTexts, f.levels);
        cachedSpec = levelTexts;
        cachedLevels = f.levels;
    }
    if (!ReadItemFor(unit, f.name, false)) return;
    f.factor[unit] = 0;
    for (int k = 0; k <= f.levels; ++k) {
        if (texts[k] == item) {
            f.factor[unit] = static_cast<uint8_t>(k);
            return;
        }
    }
    ReportError("Invalid level name " + item + " for factor " + f.name + " at unit " +
                std::to_string(unit));
}

void SkipItem() {
    if (!Enter("SkipItem")) return;
    if (in == nullptr) return ReportError("Inputfile not open");
    switch (ReadItem()) {
        case ItemResult::Ok:
            return;
        case ItemResult::EndBefore:
        case ItemResult::EndWhileSkipping:
            return ReportError("End of input file");
        case ItemResult::ReadError:
            return ReportError("IO error");
    }
}

bool InputAtEnd() {
    return in == nullptr || AtEnd();
}

void SkipRestOfLine() {
    int c;
    do {
        c = NextByte();
    } while (c >= 0 && c != '\n');
    itemEndedLine = true;
}

bool LastItemEndedLine() {
    return itemEndedLine;
}

void AddSeparators(const std::string& chars) {
    for (unsigned char c : chars) separators[c] = true;
}

void ResetSeparators() {
    separators.fill(false);
    for (int c = 0; c <= 31; ++c) separators[c] = true;
    separators[' '] = separators[','] = separators[';'] = true;
}

}  // namespace korw::data
