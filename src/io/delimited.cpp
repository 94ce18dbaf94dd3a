#include "io/delimited.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "data/long_work.h"
#include "data/vectors.h"

namespace korw::io {
namespace {

using data::MissingValue;

// ---------------------------------------------------------------------------------------------
// The file, mapped read-only for the whole read.

class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() {
        if (data_ != nullptr) munmap(data_, size_);
        if (fd_ >= 0) close(fd_);
    }

    bool Open(const std::string& path) {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        struct stat info {};
        if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
        size_ = static_cast<size_t>(info.st_size);
        if (size_ == 0) return true;
        // Populating up front faults the pages in one go rather than one by one in the passes.
        void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
        if (map == MAP_FAILED) return false;
        data_ = map;
        return true;
    }
    const char* Begin() const { return static_cast<const char*>(data_); }
    const char* End() const { return Begin() + size_; }
    size_t Size() const { return size_; }

  private:
    int fd_ = -1;
    void* data_ = nullptr;
    size_t size_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Fields: RFC 4180 quoting on a delimiter, a run of blanks, or none (one field per line).

struct Syntax {
    Syntax() : Syntax(0, false) {}
    Syntax(char delimiterChar, bool runs) : delimiter(delimiterChar), blankRuns(runs) {
        stops['\n'] = stops['\r'] = true;
        if (blankRuns) {
            stops[' '] = stops['\t'] = true;
        } else if (delimiter != 0) {
            stops[static_cast<unsigned char>(delimiter)] = true;
        }
    }

    char delimiter;  // 0: no delimiter; ' ' with blankRuns: runs of blanks and tabs
    bool blankRuns;
    char decimal = '.';
    std::array<bool, 256> stops{};  // bytes that end an unquoted field: one test per byte
};

struct Field {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool quoted = false;
    bool escaped = false;  // holds doubled quotes or text after the closing quote: see Unescape
};

inline bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Blanks around unquoted fields are not data; a tab is data only when it delimits.
inline bool IsBlank(char c, const Syntax& syntax) {
    return c == ' ' || (c == '\t' && syntax.delimiter != '\t');
}

inline bool EndsUnquoted(char c, const Syntax& syntax) {
    return syntax.stops[static_cast<unsigned char>(c)];
}

// Counts the line breaks (LF, CRLF or a lone CR) inside quoted text.
int64_t CountBreaks(const char* p, const char* end) {
    int64_t breaks = 0;
    for (; p < end; ++p) {
        if (*p == '\n') ++breaks;
        if (*p == '\r' && (p + 1 == end || p[1] != '\n')) ++breaks;
    }
    return breaks;
}

// Where a field's quoted part ends: the closing quote, or null when the file ends first.
inline const char* ClosingQuote(const char* p, const char* end, bool& doubled) {
    for (;;) {
        auto* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
        if (quote == nullptr) return nullptr;
        if (quote + 1 < end && quote[1] == '"') {
            doubled = true;
            p = quote + 2;
            continue;
        }
        return quote;
    }
}

// Reads the field at `p`. Returns where the next field starts, or the row's line end (or the end
// of the file) with `last` set. Null when a quote is not closed before the end of the file.
inline const char* ReadField(const char* p, const char* end, const Syntax& syntax, Field& field,
                             bool& last) {
    while (p < end && IsBlank(*p, syntax)) ++p;
    field.quoted = p < end && *p == '"';
    field.escaped = false;
    if (field.quoted) {
        field.begin = p + 1;
        const char* quote = ClosingQuote(field.begin, end, field.escaped);
        if (quote == nullptr) return nullptr;
        field.end = quote;
        p = quote + 1;
        const char* afterQuote = p;
        while (p < end && IsBlank(*p, syntax)) ++p;
        // Between fields delimited by blanks, the blanks after the quote end the field.
        if (syntax.blankRuns && p != afterQuote) p = afterQuote;
        if (p < end && !EndsUnquoted(*p, syntax)) {
            // Text after the closing quote belongs to the field, as lenient readers have it.
            field.escaped = true;
            while (p < end && !EndsUnquoted(*p, syntax)) ++p;
            field.end = p;
            while (field.end > quote + 1 && IsBlank(field.end[-1], syntax)) --field.end;
        }
    } else {
        field.begin = p;
        while (p < end && !EndsUnquoted(*p, syntax)) ++p;
        field.end = p;
        while (field.end > field.begin && IsBlank(field.end[-1], syntax)) --field.end;
    }
    if (p == end || IsLineEnd(*p)) {
        last = true;
        return p;
    }
    ++p;
    if (syntax.blankRuns) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end || IsLineEnd(*p)) {
            last = true;
            return p;
        }
    }
    last = false;
    return p;
}

// The text of an escaped field: doubled quotes as one, and what follows the closing quote kept.
void Unescape(const Field& field, std::string& text) {
    text.clear();
    bool inQuotes = true;
    for (const char* p = field.begin; p < field.end; ++p) {
        if (*p == '"' && inQuotes) {
            if (p + 1 < field.end && p[1] == '"') {
                text += '"';
                ++p;
            } else {
                inQuotes = false;
            }
            continue;
        }
        text += *p;
    }
}

inline std::string_view FieldText(const Field& field, std::string& scratch) {
    if (!field.escaped) return {field.begin, static_cast<size_t>(field.end - field.begin)};
    Unescape(field, scratch);
    return scratch;
}

inline const char* SkipLineEnd(const char* p, const char* end) {
    if (p < end && *p == '\r' && p + 1 < end && p[1] == '\n') return p + 2;
    return p < end ? p + 1 : p;
}

// ---------------------------------------------------------------------------------------------
// Numbers, dates and missing texts.

enum class NumberKind : uint8_t { NotNumber, Number, Beyond };

// Integers with at most this many digits are exact in single precision (2^24 has 8).
constexpr size_t kExactIntegerDigits = 7;
// Room for any number text worth copying to change its decimal comma; longer ones are not
// numbers anyway but go through a string.
constexpr size_t kNumberBuffer = 64;

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsInfinityText(std::string_view text) {
    return text.size() == 3 && (text[0] | 0x20) == 'i' && (text[1] | 0x20) == 'n' &&
           (text[2] | 0x20) == 'f';
}

// Whether an integer text holds a value single precision cannot hold exactly.
bool IntegerRounded(std::string_view digits, float value) {
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    if (digits.size() <= kExactIntegerDigits) return false;
    char exact[kNumberBuffer];
    auto result = std::to_chars(exact, exact + sizeof exact, std::fabs(static_cast<double>(value)),
                                std::chars_format::fixed, 0);
    return std::string_view(exact, static_cast<size_t>(result.ptr - exact)) != digits;
}

// Out of single range: overflow is beyond it, underflow is a zero.
NumberKind OutOfRange(const char* first, const char* last, bool negative, bool negativeExponent,
                      float& value) {
    double wide = 0;
    auto result = std::from_chars(first, last, wide);
    bool tiny =
        result.ec == std::errc::result_out_of_range ? negativeExponent : std::fabs(wide) <= FLT_MAX;
    if (!tiny) return NumberKind::Beyond;
    value = negative ? -0.0f : 0.0f;
    return NumberKind::Number;
}

// Numbers the quick way cannot settle, through from_chars (which reads no '+' and only a
// decimal point).
NumberKind SlowDecimal(const char* s, size_t n, bool point, char decimal, bool negative,
                       bool negativeExponent, float& value) {
    const char* first = s + (s[0] == '+' ? 1 : 0);
    const char* last = s + n;
    char buffer[kNumberBuffer];
    std::string copy;
    if (point && decimal != '.') {
        char* to = buffer;
        if (n > sizeof buffer) {
            copy.resize(n);
            to = copy.data();
        }
        std::memcpy(to, first, static_cast<size_t>(last - first));
        last = to + (last - first);
        first = to;
        *std::find(to, const_cast<char*>(last), decimal) = '.';
    }
    auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        return OutOfRange(first, last, negative, negativeExponent, value);
    }
    return NumberKind::Number;
}

// Decimal mantissas of at most this many digits are exact in double precision (below 2^53).
constexpr int kFastDigits = 15;
// Powers of ten up to this one are exact in double precision.
constexpr int kFastPower = 22;
// Exponent texts are read up to this size; larger ones overflow or underflow anyway.
constexpr int kExponentCap = 100000;

// The quick way for the common number: a mantissa and a power of ten both exact in double, so one
// correctly rounded multiplication or division, then rounding to single precision. That double
// rounding is right unless the double lands exactly halfway between two floats, which is left,
// with subnormal and out-of-range results, to from_chars. False when it cannot decide.
bool FastDecimal(uint64_t mantissa, int power, bool negative, float& value) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (power < -kFastPower || power > kFastPower) return false;
    auto exact = static_cast<double>(mantissa);
    double wide = power < 0 ? exact / kPowers[-power] : exact * kPowers[power];
    if (wide == 0) {
        value = negative ? -0.0f : 0.0f;
        return true;
    }
    if (wide < FLT_MIN || wide > FLT_MAX) return false;
    // Halfway between two floats: the 29 bits below single precision's 24 are 1000...0.
    constexpr uint64_t kLowBits = (uint64_t{1} << 29) - 1, kHalfway = uint64_t{1} << 28;
    if ((std::bit_cast<uint64_t>(wide) & kLowBits) == kHalfway) return false;
    value = static_cast<float>(negative ? -wide : wide);
    return true;
}

// The digits of a number text as they are scanned: significant digits into a mantissa.
struct DecimalDigits {
    uint64_t mantissa = 0;  // the first kFastDigits of them
    int significant = 0;    // digits from the first nonzero one on

    void Add(char c) {
        if (significant == 0 && c == '0') return;
        if (significant < kFastDigits) mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        ++significant;
    }
};

// Decimal numbers: sign, digits, the decimal mark, an exponent. `rounded` is set for integers
// stored inexactly. Hex floats, "nan" and "infinity" are no numbers; "inf" is beyond the range.
NumberKind ParseNumber(std::string_view text, char decimal, float& value, bool& rounded) {
    rounded = false;
    const char* s = text.data();
    size_t n = text.size(), i = 0;
    bool negative = n > 0 && s[0] == '-';
    if (n > 0 && (s[0] == '+' || s[0] == '-')) ++i;
    size_t digits = i;
    DecimalDigits decimalDigits;
    for (; i < n && IsDigit(s[i]); ++i) decimalDigits.Add(s[i]);
    size_t integerEnd = i, fractionDigits = 0;
    int power = 0;
    bool point = i < n && s[i] == decimal;
    if (point) {
        size_t start = ++i;
        for (; i < n && IsDigit(s[i]); ++i) decimalDigits.Add(s[i]);
        fractionDigits = i - start;
        // Only used when every digit is in the mantissa (leading zeros as nothing).
        power = -static_cast<int>(std::min<size_t>(fractionDigits, kExponentCap));
    }
    if (integerEnd == digits && fractionDigits == 0) {
        return !point && IsInfinityText(text.substr(digits)) ? NumberKind::Beyond
                                                             : NumberKind::NotNumber;
    }
    bool exponent = i < n && (s[i] == 'e' || s[i] == 'E'), negativeExponent = false;
    if (exponent) {
        ++i;
        negativeExponent = i < n && s[i] == '-';
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t start = i;
        int exponentValue = 0;
        for (; i < n && IsDigit(s[i]); ++i) {
            exponentValue = std::min(kExponentCap, exponentValue * 10 + (s[i] - '0'));
        }
        if (i == start) return NumberKind::NotNumber;
        power += negativeExponent ? -exponentValue : exponentValue;
    }
    if (i != n) return NumberKind::NotNumber;
    bool exact = decimalDigits.significant <= kFastDigits;
    if (!exact || !FastDecimal(decimalDigits.mantissa, power, negative, value)) {
        NumberKind kind = SlowDecimal(s, n, point, decimal, negative, negativeExponent, value);
        if (kind != NumberKind::Number) return kind;
    }
    if (!point && !exponent && decimalDigits.significant > static_cast<int>(kExactIntegerDigits)) {
        rounded = IntegerRounded(text.substr(digits, integerEnd - digits), value);
    }
    return NumberKind::Number;
}

inline bool DigitsAt(std::string_view t, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!IsDigit(t[i])) return false;
        value = value * 10 + (t[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yearOfEra = y - era * 400;
    int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ValidDate(int year, int month, int day) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Clock time after an ISO date: "THH:MM" or " HH:MM:SS", as a fraction of a day.
bool ParseClock(std::string_view t, double& fraction) {
    int hour = 0, minute = 0, second = 0;
    if (t.size() != 6 && t.size() != 9) return false;
    if ((t[0] != 'T' && t[0] != ' ') || t[3] != ':') return false;
    if (!DigitsAt(t, 1, 2, hour) || !DigitsAt(t, 4, 2, minute)) return false;
    if (t.size() == 9 && (t[6] != ':' || !DigitsAt(t, 7, 2, second))) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return true;
}

constexpr size_t kDateLength = 10;  // YYYY-MM-DD

// An ISO date, optionally with a time, as days since 1960-01-01.
bool ParseIsoDate(std::string_view t, double& days) {
    if (t.size() < kDateLength || t[4] != '-' || t[7] != '-') return false;
    int year = 0, month = 0, day = 0;
    if (!DigitsAt(t, 0, 4, year) || !DigitsAt(t, 5, 2, month) || !DigitsAt(t, 8, 2, day)) {
        return false;
    }
    if (!ValidDate(year, month, day)) return false;
    double fraction = 0;
    if (t.size() > kDateLength && !ParseClock(t.substr(kDateLength), fraction)) return false;
    days =
        static_cast<double>(DaysFromCivil(year, month, day) - DaysFromCivil(1960, 1, 1)) + fraction;
    return true;
}

class MissingTexts {
  public:
    explicit MissingTexts(const std::vector<std::string>& extra) {
        for (const auto& t : DefaultMissingTexts()) Add(t);
        for (const auto& t : extra) Add(t);
    }
    // Only unquoted texts stand for missing values; an empty field does, quoted or not.
    bool Missing(const Field& field) const {
        size_t n = static_cast<size_t>(field.end - field.begin);
        if (n == 0 && !field.escaped) return true;
        // Most fields are told apart by length or first byte, before any comparison.
        if (field.quoted || n > longest_ || !first_[static_cast<unsigned char>(*field.begin)]) {
            return false;
        }
        std::string_view text(field.begin, n);
        return std::find(texts_.begin(), texts_.end(), text) != texts_.end();
    }

  private:
    void Add(const std::string& text) {
        if (text.empty()) return;
        texts_.push_back(text);
        longest_ = std::max(longest_, text.size());
        first_[static_cast<unsigned char>(text[0])] = true;
    }

    std::vector<std::string> texts_;
    size_t longest_ = 0;
    std::array<bool, 256> first_{};
};

// ---------------------------------------------------------------------------------------------
// Rows: where each starts and on which line of the file.

struct Rows {
    std::vector<const char*> starts;
    // (row, line) wherever a row does not start on the line after the previous row's start.
    std::vector<std::pair<int64_t, int64_t>> lineJumps;

    int64_t Line(int64_t row) const {
        auto it =
            std::upper_bound(lineJumps.begin(), lineJumps.end(), std::make_pair(row, INT64_MAX));
        --it;
        return it->second + (row - it->first);
    }
    void Add(const char* start, int64_t line) {
        if (starts.empty() || lastLine + 1 != line) {
            lineJumps.emplace_back(static_cast<int64_t>(starts.size()), line);
        }
        starts.push_back(start);
        lastLine = line;
    }

  private:
    int64_t lastLine = 0;
};

// Reads the row at `p` field by field (the slow path for rows with quotes). Returns its line end,
// or null when a quote is not closed; `breaks` counts the line breaks inside quotes.
const char* ScanQuotedRow(const char* p, const char* end, const Syntax& syntax, int64_t& breaks) {
    Field field;
    bool last = false;
    breaks = 0;
    while (!last) {
        p = ReadField(p, end, syntax, field, last);
        if (p == nullptr) return nullptr;
        if (field.quoted) breaks += CountBreaks(field.begin, field.end);
    }
    return p;
}

bool BlankRow(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p == end || IsLineEnd(*p);
}

// Where the line at `p` ends (LF, CR or the end of the file).
const char* LineEnd(const char* p, const char* end, bool hasCR) {
    auto* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* lineEnd = newline != nullptr ? newline : end;
    if (hasCR) {
        auto* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lineEnd - p)));
        if (cr != nullptr) lineEnd = cr;
    }
    return lineEnd;
}

// Whether the quote at `quote` opens a field (blanks before it aside), as ReadField sees it.
bool StartsField(const char* rowStart, const char* quote, const Syntax& syntax) {
    const char* p = quote;
    while (p > rowStart && IsBlank(p[-1], syntax)) --p;
    if (p == rowStart) return true;
    if (syntax.blankRuns) return p != quote;
    return syntax.delimiter != 0 && p[-1] == syntax.delimiter;
}

// The line end of a row that holds a quote, going from quote to quote: only a quote that opens
// a field starts quoted text, which may run over line ends (counted in `breaks`). Null when a
// quote is not closed.
const char* QuotedRowEnd(const char* rowStart, const char* lineEnd, const char* end,
                         const Syntax& syntax, bool hasCR, int64_t& breaks) {
    breaks = 0;
    for (const char* p = rowStart;;) {
        auto* quote =
            static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(lineEnd - p)));
        if (quote == nullptr) return lineEnd;
        p = quote + 1;
        if (!StartsField(rowStart, quote, syntax)) continue;
        bool doubled = false;
        const char* close = ClosingQuote(p, end, doubled);
        if (close == nullptr) return nullptr;
        breaks += CountBreaks(p, close);
        p = close + 1;
        if (close >= lineEnd) lineEnd = LineEnd(p, end, hasCR);
    }
}

// One pass over the file finding row starts; rows without a quote are found by memchr alone.
// The share of an import's progress that finding the rows stands for; parsing them is the rest.
constexpr double kRowsShare = 0.3;

bool FindRows(const char* begin, const char* end, const Syntax& syntax, Rows& rows,
              int64_t& openQuoteLine) {
    bool hasCR = std::memchr(begin, '\r', static_cast<size_t>(end - begin)) != nullptr;
    int64_t line = 1;
    for (const char* p = begin; p < end;) {
        if (line % data::kUnitsPerPoll == 0) {
            data::ReportFraction(kRowsShare * static_cast<double>(p - begin) /
                                 static_cast<double>(end - begin));
            data::Poll();
        }
        if (IsLineEnd(*p)) {  // wholly empty lines hold no row but count as lines
            p = SkipLineEnd(p, end);
            ++line;
            continue;
        }
        const char* lineEnd = LineEnd(p, end, hasCR);
        int64_t breaks = 0;
        if (std::memchr(p, '"', static_cast<size_t>(lineEnd - p)) != nullptr) {
            lineEnd = QuotedRowEnd(p, lineEnd, end, syntax, hasCR, breaks);
            if (lineEnd == nullptr) {
                openQuoteLine = line;
                return false;
            }
        }
        rows.Add(p, line);
        line += 1 + breaks;
        p = SkipLineEnd(lineEnd, end);
    }
    // Blank lines at the end are layout, not rows of missing values.
    while (!rows.starts.empty() && BlankRow(rows.starts.back(), end)) rows.starts.pop_back();
    while (!rows.lineJumps.empty() &&
           rows.lineJumps.back().first >= static_cast<int64_t>(rows.starts.size())) {
        rows.lineJumps.pop_back();
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Sniffing the delimiter, the decimal mark and the header row from samples of the file.

constexpr int kSampleRows = 100;  // rows read at each jump point
// Jump points in the middle and at the end only pay off in files several samples long.
constexpr size_t kJumpMinimumSize = 3 * 64 * 1024;
// Bytes back from the end where the last sample starts.
constexpr size_t kEndSampleBytes = 16 * 1024;

struct Candidate {
    char delimiter;
    bool blankRuns;
};
constexpr Candidate kCandidates[] = {
    {',', false}, {';', false}, {'\t', false}, {'|', false}, {' ', true}};

// The rows of the samples as (start) pointers, for one syntax.
std::vector<const char*> SampleRows(const char* begin, const char* end, const Syntax& syntax) {
    std::vector<const char*> jumps = {begin};
    auto size = static_cast<size_t>(end - begin);
    if (size >= kJumpMinimumSize) {
        jumps.push_back(begin + size / 2);
        jumps.push_back(end - kEndSampleBytes);
    }
    std::vector<const char*> rows;
    for (const char* p : jumps) {
        if (p != begin) {  // from a jump point, start at the next line
            while (p < end && !IsLineEnd(*p)) ++p;
            while (p < end && IsLineEnd(*p)) ++p;
        }
        for (int taken = 0; taken < kSampleRows && p < end;) {
            if (IsLineEnd(*p)) {
                p = SkipLineEnd(p, end);
                continue;
            }
            int64_t breaks = 0;
            const char* lineEnd = ScanQuotedRow(p, end, syntax, breaks);
            if (lineEnd == nullptr) break;
            rows.push_back(p);
            ++taken;
            p = SkipLineEnd(lineEnd, end);
        }
    }
    return rows;
}

int CountFields(const char* p, const char* end, const Syntax& syntax) {
    Field field;
    bool last = false;
    int count = 0;
    while (!last && p != nullptr) {
        p = ReadField(p, end, syntax, field, last);
        ++count;
    }
    return count;
}

// How many rows agree on the field count most rows have, and that count (ties to the larger
// count). No agreement when the first row has another count: every later row would be refused.
std::pair<int, int> Agreement(const std::vector<const char*>& rows, const char* end,
                              const Syntax& syntax) {
    std::map<int, int> counts;
    for (const char* row : rows) ++counts[CountFields(row, end, syntax)];
    std::pair<int, int> best = {0, 1};
    for (auto [fields, agreeing] : counts) {
        if (agreeing >= best.first) best = {agreeing, fields};
    }
    if (!rows.empty() && CountFields(rows[0], end, syntax) != best.second) return {0, 1};
    return best;
}

// The candidate whose field counts agree on the most sampled rows with more than one field; on
// equal agreement more fields win (a decimal comma splits a ';' row in two on ','), then the
// order of the list. No delimiter when none gives more than one field.
Syntax SniffDelimiter(const char* begin, const char* end, char decimal) {
    Syntax best;
    int bestAgreeing = 0, bestFields = 1;
    for (const Candidate& candidate : kCandidates) {
        if (candidate.delimiter == ',' && decimal == ',') continue;
        Syntax syntax(candidate.delimiter, candidate.blankRuns);
        auto [agreeing, fields] = Agreement(SampleRows(begin, end, syntax), end, syntax);
        if (fields <= 1) continue;
        if (agreeing > bestAgreeing || (agreeing == bestAgreeing && fields > bestFields)) {
            best = syntax;
            bestAgreeing = agreeing;
            bestFields = fields;
        }
    }
    return best;
}

// digits,digits with an optional exponent: a number written with a decimal comma.
bool CommaNumber(std::string_view t) {
    size_t i = t.empty() || (t[0] != '-' && t[0] != '+') ? 0 : 1, start = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    if (i == start || i == t.size() || t[i] != ',') return false;
    start = ++i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    if (i == start) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        if (++i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        start = i;
        while (i < t.size() && IsDigit(t[i])) ++i;
        if (i == start) return false;
    }
    return i == t.size();
}

// A decimal comma when comma numbers occur in the samples and no number with a decimal point.
char SniffDecimal(const char* begin, const char* end, const Syntax& syntax) {
    if (syntax.delimiter == ',') return '.';
    bool comma = false;
    std::string scratch;
    for (const char* p : SampleRows(begin, end, syntax)) {
        Field field;
        bool last = false;
        while (!last && p != nullptr) {
            p = ReadField(p, end, syntax, field, last);
            std::string_view text = FieldText(field, scratch);
            float value = 0;
            bool rounded = false;
            if (text.find('.') != std::string_view::npos &&
                ParseNumber(text, '.', value, rounded) == NumberKind::Number) {
                return '.';
            }
            comma = comma || CommaNumber(text);
        }
    }
    return comma ? ',' : '.';
}

// The first row names the columns when none of its fields is a number or a date: under a row of
// names there are numbers, or texts throughout.
bool SniffHeader(const char* row, const char* end, const Syntax& syntax) {
    Field field;
    bool last = false;
    std::string scratch;
    while (!last) {
        row = ReadField(row, end, syntax, field, last);
        std::string_view text = FieldText(field, scratch);
        float value = 0;
        bool rounded = false;
        double days = 0;
        if (ParseNumber(text, syntax.decimal, value, rounded) != NumberKind::NotNumber ||
            ParseIsoDate(text, days)) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Texts of a column: a small open-addressing table, since a column holds at most 255 of them.

constexpr int kMaxTexts = 255;      // levels are one byte, 0 for missing
constexpr size_t kTextSlots = 512;  // a power of two above twice kMaxTexts keeps probes short

class TextDictionary {
  public:
    // The 1-based index of `text`, added when new (copied when `own`); 0 when the table is full.
    int Find(std::string_view text, bool own) {
        size_t hash = std::hash<std::string_view>{}(text);
        for (size_t slot = hash & (kTextSlots - 1);; slot = (slot + 1) & (kTextSlots - 1)) {
            int index = slots_[slot];
            if (index == 0) {
                if (static_cast<int>(texts_.size()) == kMaxTexts) return 0;
                if (own) text = owned_.emplace_back(text);
                texts_.push_back(text);
                slots_[slot] = static_cast<uint16_t>(texts_.size());
                return static_cast<int>(texts_.size());
            }
            if (texts_[static_cast<size_t>(index - 1)] == text) return index;
        }
    }
    const std::vector<std::string_view>& Texts() const { return texts_; }

  private:
    std::array<uint16_t, kTextSlots> slots_{};
    std::vector<std::string_view> texts_;
    std::deque<std::string> owned_;
};

// ---------------------------------------------------------------------------------------------
// Parsing rows in parallel. Each chunk of rows reads every kept column as numbers while that
// holds, and turns a column to texts when non-numbers pass the rate a number column allows (its
// earlier rows are read again at the chunk's end, in one pass with every other column that
// turned). After the chunks, columns whose chunks disagree with the column's kind are read again
// in those chunks only.

// A number column has fewer than one non-number in this many of its non-missing fields.
constexpr int64_t kNonNumberRate = 20;
// A chunk keeps reading a column as numbers for this many fields before judging the rate.
constexpr int64_t kSwitchMinimum = 20;
// Rows per thread below which another thread costs more than it saves.
constexpr int64_t kRowsPerThread = 20000;

struct ChunkColumn {
    bool texts = false;     // read as texts (levels and dates) rather than numbers
    bool settled = false;   // the column's kind is known: no turning to texts
    int64_t rereadEnd = 0;  // rows of the chunk before this one are to be read again
    int64_t numbers = 0, dates = 0, nonMissing = 0;
    int64_t nonNumbers = 0, firstNonNumberRow = -1;
    std::string firstNonNumberText;
    int64_t rounded = 0, firstRoundedRow = -1;
    int64_t firstBeyondRow = -1;
    std::string firstBeyondText;
    // Made when the column turns to texts: a wide file of numbers needs none.
    std::unique_ptr<TextDictionary> dictionary;
    bool overflow = false;  // more than kMaxTexts texts in this chunk alone

    void Reset(bool asTexts) {
        texts = asTexts;
        numbers = dates = nonMissing = nonNumbers = rounded = 0;
        firstNonNumberRow = firstRoundedRow = firstBeyondRow = -1;
        firstNonNumberText.clear();
        firstBeyondText.clear();
        rereadEnd = 0;
        dictionary.reset();
        overflow = false;
    }
};

struct ParseContext {
    const char* end = nullptr;
    Syntax syntax;
    const Rows* rows = nullptr;
    int64_t headerRows = 0;
    int columns = 0;             // fields per row
    std::vector<int> keptIndex;  // per field: index into `output`, -1 when not kept
    const MissingTexts* missing = nullptr;
    std::vector<ImportColumn>* output = nullptr;
    std::unique_ptr<std::once_flag[]> levelsOnce;
};

struct RaggedRow {
    int64_t row = -1;
    int fields = 0;
};

class ChunkParser {
  public:
    ChunkParser(ParseContext& context, int64_t first, int64_t last)
        : context_(context), first_(first), last_(last), columns_(context.output->size()) {}

    void ParseAll() {
        // The first chunk is parsed by the command's own thread, which polls; the others stop
        // at the same flag. A stopped chunk leaves its columns half-filled: they are dropped.
        bool polling = first_ == 0;
        for (int64_t row = first_; row < last_; ++row) {
            if ((row - first_) % data::kUnitsPerPoll == 0 && row > first_) {
                if (polling) {
                    data::ReportFraction(kRowsShare + (1 - kRowsShare) *
                                                          static_cast<double>(row - first_) /
                                                          static_cast<double>(last_ - first_));
                    if (data::StopWanted()) return;
                } else if (data::StopRequested()) {
                    return;
                }
            }
            int count = 0;
            const char* p = RowStart(row);
            for (bool last = false; !last; ++count) {
                Field field;
                p = ReadField(p, context_.end, context_.syntax, field, last);
                int kept =
                    count < context_.columns ? context_.keptIndex[static_cast<size_t>(count)] : -1;
                if (kept >= 0) Handle(static_cast<size_t>(kept), row, field);
            }
            if (count != context_.columns) {
                ragged_ = {row, count};
                return;
            }
        }
        // Columns that turned to texts read their rows before the turn again, all in one pass.
        std::vector<size_t> turned;
        for (size_t kept = 0; kept < columns_.size(); ++kept) {
            if (columns_[kept].texts) turned.push_back(kept);
        }
        Reread(turned);
    }

    // Reads columns of the chunk again, each as texts or as numbers as `asTexts` says.
    void Reparse(const std::vector<size_t>& kept, bool asTexts) {
        for (size_t k : kept) {
            columns_[k].Reset(asTexts);
            columns_[k].settled = true;
            columns_[k].rereadEnd = last_;
            if (asTexts) EnsureLevels(k);
        }
        Reread(kept);
    }

    const RaggedRow& Ragged() const { return ragged_; }
    ChunkColumn& Column(size_t kept) { return columns_[kept]; }
    int64_t First() const { return first_; }
    int64_t Last() const { return last_; }

  private:
    const char* RowStart(int64_t row) const {
        return context_.rows->starts[static_cast<size_t>(row + context_.headerRows)];
    }

    // Reads the rows from the chunk's first up to each column's rereadEnd once, for all the
    // columns at a time, so that a wide file does not read a row once per column.
    void Reread(const std::vector<size_t>& kept) {
        if (kept.empty()) return;
        int64_t to = first_;
        for (size_t k : kept) to = std::max(to, columns_[k].rereadEnd);
        std::vector<bool> wanted(context_.output->size(), false);
        for (size_t k : kept) wanted[k] = true;
        int lastField = 0;
        for (int i = 0; i < context_.columns; ++i) {
            int k = context_.keptIndex[static_cast<size_t>(i)];
            if (k >= 0 && wanted[static_cast<size_t>(k)]) lastField = i;
        }
        for (int64_t row = first_; row < to; ++row) {
            const char* p = RowStart(row);
            bool last = false;
            for (int i = 0; i <= lastField && !last; ++i) {
                Field field;
                p = ReadField(p, context_.end, context_.syntax, field, last);
                int k = context_.keptIndex[static_cast<size_t>(i)];
                if (k < 0 || !wanted[static_cast<size_t>(k)]) continue;
                if (row < columns_[static_cast<size_t>(k)].rereadEnd) {
                    Handle(static_cast<size_t>(k), row, field);
                }
            }
        }
    }

    void EnsureLevels(size_t kept) {
        ImportColumn& out = (*context_.output)[kept];
        std::call_once(context_.levelsOnce[kept], [&] { out.levels.assign(out.values.size(), 0); });
    }

    void Handle(size_t kept, int64_t row, const Field& field) {
        ChunkColumn& column = columns_[kept];
        ImportColumn& out = (*context_.output)[kept];
        auto unit = static_cast<size_t>(row + 1);
        if (context_.missing->Missing(field)) {
            out.values[unit] = MissingValue;
            if (column.texts) out.levels[unit] = 0;
            return;
        }
        ++column.nonMissing;
        std::string_view text = FieldText(field, scratch_);
        if (column.texts) {
            TextField(column, out, unit, text, field.escaped);
        } else if (!NumberField(column, out, row, text)) {
            // Too many non-numbers for a number column so far: texts from this row on, and the
            // rows before it again at the end of the chunk.
            column.Reset(true);
            column.rereadEnd = row;
            column.nonMissing = 1;
            EnsureLevels(kept);
            TextField(column, out, unit, text, field.escaped);
        }
    }

    // False when the column should be read as texts from here on.
    bool NumberField(ChunkColumn& column, ImportColumn& out, int64_t row, std::string_view text) {
        float value = 0;
        bool rounded = false;
        auto unit = static_cast<size_t>(row + 1);
        NumberKind kind = ParseNumber(text, context_.syntax.decimal, value, rounded);
        if (kind == NumberKind::Number) {
            ++column.numbers;
            out.values[unit] = value;
            if (rounded && column.rounded++ == 0) column.firstRoundedRow = row;
            return true;
        }
        out.values[unit] = MissingValue;
        if (kind == NumberKind::Beyond) {
            ++column.numbers;
            if (column.firstBeyondRow < 0) {
                column.firstBeyondRow = row;
                column.firstBeyondText = text;
            }
            return true;
        }
        double days = 0;
        if (ParseIsoDate(text, days)) ++column.dates;
        if (column.nonNumbers++ == 0) {
            column.firstNonNumberRow = row;
            column.firstNonNumberText = text;
        }
        return column.settled || column.nonMissing < kSwitchMinimum ||
               column.nonNumbers * kNonNumberRate <= column.nonMissing;
    }

    void TextField(ChunkColumn& column, ImportColumn& out, size_t unit, std::string_view text,
                   bool own) {
        float value = 0;
        bool rounded = false;
        if (ParseNumber(text, context_.syntax.decimal, value, rounded) != NumberKind::NotNumber) {
            ++column.numbers;
        }
        double days = 0;
        bool date = ParseIsoDate(text, days);
        column.dates += date ? 1 : 0;
        out.values[unit] = date ? static_cast<float>(days) : MissingValue;
        if (!column.dictionary) column.dictionary = std::make_unique<TextDictionary>();
        int level = column.overflow ? 0 : column.dictionary->Find(text, own);
        if (level == 0) column.overflow = true;
        out.levels[unit] = static_cast<uint8_t>(level);
    }

    ParseContext& context_;
    int64_t first_, last_;
    std::vector<ChunkColumn> columns_;
    RaggedRow ragged_;
    std::string scratch_;
};

// ---------------------------------------------------------------------------------------------
// From chunk results to finished columns.

enum class FinalKind { Number, Date, Texts };

struct ColumnTotals {
    int64_t numbers = 0, dates = 0, nonMissing = 0;
};

FinalKind Decide(const ColumnTotals& totals) {
    if (totals.nonMissing == 0) return FinalKind::Number;
    int64_t nonNumbers = totals.nonMissing - totals.numbers;
    if (totals.numbers > 0 && nonNumbers * kNonNumberRate < totals.nonMissing)
        return FinalKind::Number;
    if (totals.dates == totals.nonMissing) return FinalKind::Date;
    return FinalKind::Texts;
}

void RunThreads(std::vector<std::unique_ptr<ChunkParser>>& chunks,
                const std::function<void(ChunkParser&)>& work) {
    std::vector<std::thread> threads;
    for (size_t i = 1; i < chunks.size(); ++i) threads.emplace_back(work, std::ref(*chunks[i]));
    work(*chunks[0]);
    for (auto& thread : threads) thread.join();
}

class TableBuilder {
  public:
    TableBuilder(ParseContext& context, std::vector<std::unique_ptr<ChunkParser>>& chunks,
                 const std::string& shown)
        : context_(context), chunks_(chunks), shown_(shown) {}

    bool Finish(std::vector<std::string>& names, std::string& error) {
        if (RaggedError(error)) return false;
        std::vector<FinalKind> kinds;
        for (size_t kept = 0; kept < context_.output->size(); ++kept) kinds.push_back(Kind(kept));
        RunThreads(chunks_, [&](ChunkParser& chunk) { Align(chunk, kinds); });
        for (size_t kept = 0; kept < context_.output->size(); ++kept) {
            if (!FinishColumn(kept, kinds[kept], names[kept], error)) return false;
        }
        return true;
    }

  private:
    int64_t Line(int64_t row) const { return context_.rows->Line(row + context_.headerRows); }

    bool RaggedError(std::string& error) const {
        for (const auto& chunk : chunks_) {
            const RaggedRow& ragged = chunk->Ragged();
            if (ragged.row < 0) continue;
            error = "Line " + std::to_string(Line(ragged.row)) + " of " + shown_ + " has " +
                    std::to_string(ragged.fields) + " fields, not " +
                    std::to_string(context_.columns);
            return true;
        }
        return false;
    }

    FinalKind Kind(size_t kept) const {
        ColumnTotals totals;
        for (auto& chunk : chunks_) {
            const ChunkColumn& column = chunk->Column(kept);
            totals.numbers += column.numbers;
            totals.dates += column.dates;
            totals.nonMissing += column.nonMissing;
        }
        return Decide(totals);
    }

    // Re-reads the columns whose reading in the chunk disagrees with their kind.
    static void Align(ChunkParser& chunk, const std::vector<FinalKind>& kinds) {
        std::vector<size_t> toTexts, toNumbers;
        for (size_t kept = 0; kept < kinds.size(); ++kept) {
            bool asTexts = kinds[kept] != FinalKind::Number;
            if (chunk.Column(kept).texts != asTexts)
                (asTexts ? toTexts : toNumbers).push_back(kept);
        }
        chunk.Reparse(toTexts, true);
        chunk.Reparse(toNumbers, false);
    }

    bool FinishColumn(size_t kept, FinalKind kind, const std::string& name, std::string& error) {
        ImportColumn& out = (*context_.output)[kept];
        if (kind == FinalKind::Number) return FinishNumbers(out, kept, name, error);
        if (kind == FinalKind::Date) {
            out.date = true;
            std::vector<uint8_t>().swap(out.levels);
            return true;
        }
        return FinishTexts(out, kept, name, error);
    }

    bool FinishNumbers(ImportColumn& out, size_t kept, const std::string& name,
                       std::string& error) {
        std::vector<uint8_t>().swap(out.levels);
        for (auto& chunk : chunks_) {
            ChunkColumn& column = chunk->Column(kept);
            if (column.firstBeyondRow >= 0) {
                error = "Value " + column.firstBeyondText + " in column " + name + " on line " +
                        std::to_string(Line(column.firstBeyondRow)) + " is beyond single precision";
                return false;
            }
            if (column.nonNumbers > 0 && out.nonNumbers == 0) {
                out.firstNonNumberLine = Line(column.firstNonNumberRow);
                out.firstNonNumberText = column.firstNonNumberText;
            }
            out.nonNumbers += column.nonNumbers;
            if (column.rounded > 0 && out.rounded == 0)
                out.firstRoundedLine = Line(column.firstRoundedRow);
            out.rounded += column.rounded;
        }
        return true;
    }

    // The chunks' texts in one sorted list, and each chunk's levels renumbered into it.
    bool FinishTexts(ImportColumn& out, size_t kept, const std::string& name, std::string& error) {
        std::vector<std::string_view> all;
        bool overflow = false;
        for (auto& chunk : chunks_) {
            const ChunkColumn& column = chunk->Column(kept);
            overflow = overflow || column.overflow;
            if (column.dictionary) {
                const auto& texts = column.dictionary->Texts();
                all.insert(all.end(), texts.begin(), texts.end());
            }
        }
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        if (overflow || all.size() > static_cast<size_t>(kMaxTexts)) {
            error = "Column " + name + " has more than 255 distinct texts";
            return false;
        }
        for (auto& chunk : chunks_) {
            const ChunkColumn& column = chunk->Column(kept);
            if (!column.dictionary) continue;  // missing values only
            const auto& local = column.dictionary->Texts();
            std::array<uint8_t, kMaxTexts + 1> map{};
            for (size_t i = 0; i < local.size(); ++i) {
                auto at = std::lower_bound(all.begin(), all.end(), local[i]) - all.begin();
                map[i + 1] = static_cast<uint8_t>(at + 1);
            }
            for (int64_t row = chunk->First(); row < chunk->Last(); ++row) {
                uint8_t& level = out.levels[static_cast<size_t>(row + 1)];
                level = map[level];
            }
        }
        out.texts.assign(all.begin(), all.end());
        out.kind = ColumnKind::Levels;
        std::vector<float>().swap(out.values);
        return true;
    }

    ParseContext& context_;
    std::vector<std::unique_ptr<ChunkParser>>& chunks_;
    const std::string& shown_;
};

// ---------------------------------------------------------------------------------------------
// The read, step by step.

// Control bytes other than these in the head of a file mark it as binary.
constexpr size_t kTextCheckBytes = 64 * 1024;
// Share of other control bytes (one in this many) that a text file does not reach.
constexpr size_t kControlRate = 100;

bool LooksBinary(const char* begin, const char* end) {
    if (std::memchr(begin, 0, static_cast<size_t>(end - begin)) != nullptr) return true;
    size_t head = std::min(static_cast<size_t>(end - begin), kTextCheckBytes), control = 0;
    for (size_t i = 0; i < head; ++i) {
        auto c = static_cast<unsigned char>(begin[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' &&
            c != 0x1a) {
            ++control;
        }
    }
    return control * kControlRate > head;
}

std::string Describe(const Syntax& syntax, bool header) {
    std::string text;
    if (syntax.blankRuns) {
        text = "delimiter blanks";
    } else if (syntax.delimiter == '\t') {
        text = "delimiter tab";
    } else if (syntax.delimiter == 0) {
        text = "no delimiter";
    } else {
        text = std::string("delimiter '") + syntax.delimiter + "'";
    }
    if (syntax.decimal == ',') text += ", decimal comma";
    text += header ? ", header row" : ", no header row";
    return text;
}

std::vector<std::string> RowTexts(const char* p, const char* end, const Syntax& syntax) {
    std::vector<std::string> texts;
    std::string scratch;
    Field field;
    for (bool last = false; !last;) {
        p = ReadField(p, end, syntax, field, last);
        texts.emplace_back(FieldText(field, scratch));
    }
    return texts;
}

int ThreadCount(int requested, int64_t rows) {
    int64_t threads = requested;
    if (threads <= 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
        threads = std::min(threads, rows / kRowsPerThread);
    }
    return static_cast<int>(std::clamp<int64_t>(std::min(threads, rows), 1, INT32_MAX));
}

class Reader {
  public:
    Reader(const std::string& shown, const DelimitedOptions& options)
        : shown_(shown), options_(options), missing_(options.missingTexts) {}

    bool Read(const std::string& path, ImportTable& table, std::string& error) {
        if (!file_.Open(path)) {
            error = "IO error reading " + shown_;
            return false;
        }
        begin_ = file_.Begin();
        end_ = file_.End();
        if (end_ - begin_ >= 3 && std::memcmp(begin_, "\xEF\xBB\xBF", 3) == 0) begin_ += 3;
        if (begin_ == end_) {
            error = shown_ + " holds no data";
            return false;
        }
        if (LooksBinary(begin_, end_)) {
            error = shown_ + " is not a text file";
            return false;
        }
        return ChooseSyntax(error) && SplitRows(error) && ParseColumns(table, error);
    }

  private:
    bool ChooseSyntax(std::string& error) {
        char forcedDecimal = options_.decimal;
        if (options_.delimiter != 0) {
            syntax_ = Syntax(options_.delimiter, options_.delimiter == ' ');
        } else {
            syntax_ = SniffDelimiter(begin_, end_, forcedDecimal);
        }
        if (forcedDecimal == ',' && syntax_.delimiter == ',') {
            error = "Decimal comma and delimiter comma cannot be used together";
            return false;
        }
        syntax_.decimal = forcedDecimal != 0 ? forcedDecimal : SniffDecimal(begin_, end_, syntax_);
        return true;
    }

    bool SplitRows(std::string& error) {
        int64_t openQuoteLine = 0;
        if (!FindRows(begin_, end_, syntax_, rows_, openQuoteLine)) {
            error = "Quote opened on line " + std::to_string(openQuoteLine) + " of " + shown_ +
                    " is not closed";
            return false;
        }
        if (rows_.starts.empty()) {
            error = shown_ + " holds no data";
            return false;
        }
        header_ = options_.header >= 0 ? options_.header == 1
                                       : SniffHeader(rows_.starts[0], end_, syntax_);
        if (rows_.starts.size() <= (header_ ? 1u : 0u)) {
            error = shown_ + " holds no data";
            return false;
        }
        return true;
    }

    bool ParseColumns(ImportTable& table, std::string& error) {
        ParseContext context;
        context.end = end_;
        context.syntax = syntax_;
        context.rows = &rows_;
        context.headerRows = header_ ? 1 : 0;
        context.missing = &missing_;
        int64_t dataRows = static_cast<int64_t>(rows_.starts.size()) - context.headerRows;
        std::vector<std::string> headerTexts = RowTexts(rows_.starts[0], end_, syntax_);
        context.columns = static_cast<int>(headerTexts.size());
        std::vector<ImportColumn> columns;
        std::vector<std::string> names;  // for messages: V1, V2, ... where a name is wanting
        for (int i = 0; i < context.columns; ++i) {
            std::string name = header_ ? headerTexts[static_cast<size_t>(i)] : "";
            bool keep = !options_.keep || options_.keep(i, name);
            context.keptIndex.push_back(keep ? static_cast<int>(columns.size()) : -1);
            if (!keep) continue;
            names.push_back(name.empty() ? "V" + std::to_string(i + 1) : name);
            ImportColumn& column = columns.emplace_back();
            column.name = name;
            column.values.resize(static_cast<size_t>(dataRows + 1));
        }
        context.output = &columns;
        context.levelsOnce = std::make_unique<std::once_flag[]>(columns.size());

        int threads = ThreadCount(options_.threads, dataRows);
        std::vector<std::unique_ptr<ChunkParser>> chunks;
        for (int i = 0; i < threads; ++i) {
            chunks.push_back(std::make_unique<ChunkParser>(context, dataRows * i / threads,
                                                           dataRows * (i + 1) / threads));
        }
        RunThreads(chunks, [](ChunkParser& chunk) { chunk.ParseAll(); });
        data::Poll();
        TableBuilder builder(context, chunks, shown_);
        if (!builder.Finish(names, error)) return false;
        table.columns = std::move(columns);
        table.rows = dataRows;
        table.detected = Describe(syntax_, header_);
        return true;
    }

    const std::string& shown_;
    const DelimitedOptions& options_;
    MissingTexts missing_;
    MappedFile file_;
    const char* begin_ = nullptr;
    const char* end_ = nullptr;
    Syntax syntax_;
    Rows rows_;
    bool header_ = false;
};

// ---------------------------------------------------------------------------------------------
// Writing.

// Rows each thread turns into text before the blocks are written in order.
constexpr size_t kWriteBlockRows = 1 << 16;

// Turns rows into text, RFC 4180 quoting where a text would not read back as itself.
class RowFormatter {
  public:
    RowFormatter(std::string& buffer, char delimiter) : buffer_(buffer), delimiter_(delimiter) {}

    void Text(std::string_view text) {
        if (!NeedsQuotes(text)) {
            buffer_ += text;
            return;
        }
        buffer_ += '"';
        for (char c : text) {
            if (c == '"') buffer_ += '"';
            buffer_ += c;
        }
        buffer_ += '"';
    }
    void Number(float value) {
        char digits[kNumberBuffer];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        buffer_.append(digits, result.ptr);
    }
    void Raw(std::string_view text) { buffer_ += text; }
    void Delimiter() { buffer_ += delimiter_; }
    void EndRow() { buffer_ += '\n'; }

  private:
    bool NeedsQuotes(std::string_view text) const {
        if (text.empty()) return false;
        for (char c : text) {
            if (c == delimiter_ || c == '"' || c == '\n' || c == '\r') return true;
        }
        auto blank = [](char c) { return c == ' ' || c == '\t'; };
        if (blank(text.front()) || blank(text.back())) return true;
        const auto& missing = DefaultMissingTexts();
        return std::find(missing.begin(), missing.end(), text) != missing.end();
    }

    std::string& buffer_;
    char delimiter_;
};

size_t Units(const ExportColumn& column) {
    return column.kind == ColumnKind::Number ? column.values.size() : column.levels.size();
}

void WriteCell(RowFormatter& writer, const ExportColumn& column, size_t unit,
               std::string_view missing) {
    if (column.kind == ColumnKind::Number) {
        float value = unit < column.values.size() ? column.values[unit] : MissingValue;
        if (value == MissingValue) {
            writer.Raw(missing);
        } else {
            writer.Number(value);
        }
        return;
    }
    int level = unit < column.levels.size() ? column.levels[unit] : 0;
    if (column.texts.empty()) {
        writer.Number(static_cast<float>(level));
        return;
    }
    auto index = static_cast<size_t>(level);
    std::string_view text =
        index < column.texts.size() ? std::string_view(column.texts[index]) : "";
    if (!text.empty()) {
        writer.Text(text);
    } else if (level == 0) {
        writer.Raw(missing);
    } else {
        writer.Number(static_cast<float>(level));  // an unnamed level of a named factor
    }
}

void FormatRows(std::string& buffer, const std::vector<ExportColumn>& columns, char delimiter,
                bool writeNA, size_t from, size_t to) {
    RowFormatter writer(buffer, delimiter);
    std::string_view missing = writeNA ? "NA" : "";
    for (size_t unit = from; unit < to; ++unit) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i > 0) writer.Delimiter();
            WriteCell(writer, columns[i], unit, missing);
        }
        writer.EndRow();
    }
}

}  // namespace

bool ReadDelimited(const std::string& path, const std::string& shown,
                   const DelimitedOptions& options, ImportTable& table, std::string& error) {
    table = ImportTable();
    Reader reader(shown, options);
    if (reader.Read(path, table, error)) return true;
    table = ImportTable();
    return false;
}

bool WriteDelimited(std::FILE* file, const std::vector<ExportColumn>& columns, char delimiter,
                    bool writeNA) {
    std::string header;
    RowFormatter headerRow(header, delimiter);
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) headerRow.Delimiter();
        headerRow.Text(columns[i].name);
    }
    headerRow.EndRow();
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    size_t units = 0;
    for (const auto& column : columns) units = std::max(units, Units(column));
    auto threads = static_cast<size_t>(ThreadCount(0, static_cast<int64_t>(units)));
    std::vector<std::string> blocks(threads);
    for (size_t first = 0; first < units && ok; first += threads * kWriteBlockRows) {
        auto format = [&](size_t block) {
            blocks[block].clear();
            size_t from = std::min(units, first + block * kWriteBlockRows);
            size_t to = std::min(units, from + kWriteBlockRows);
            FormatRows(blocks[block], columns, delimiter, writeNA, from, to);
        };
        std::vector<std::thread> helpers;
        for (size_t block = 1; block < threads; ++block) helpers.emplace_back(format, block);
        format(0);
        for (auto& helper : helpers) helper.join();
        for (const std::string& block : blocks) {
            ok = ok && std::fwrite(block.data(), 1, block.size(), file) == block.size();
        }
    }
    return ok && std::fflush(file) == 0 && std::ferror(file) == 0;
}

}  // namespace korw::io
