#include "interp/command_table.h"

#include <algorithm>
#include <utility>

#include "data/vectors.h"

namespace korw::interp {

namespace {

using detail::Names;

constexpr std::array<std::string_view, kCommandCount> kTable = {
    "BARTLETT",
    "CLOSEPSFILE",
    "COMPUTE",
    "CONSTRUCTMINIMUM",
    "CORMAT",
    "DELETE",
    "ECHO",
    "EDIT",
    "ESTIMATE",
    "EXCLUDE",
    "EXCLUDELEVEL",
    "EXCLUDEMISSING",
    "EXPORT",
    "FACTOR",
    "FITANOVA",
    "FITCLOGIT",
    "FITCOXMODEL",
    "FITCRASCH",
    "FITLINEARNORMAL",
    "FITLOGITLINEAR",
    "FITLOGLINEAR",
    "FITMCCLOGLOG",
    "FITMCLOGIT",
    "FITMCPROBIT",
    "FITNEGBIN",
    "FITNONLINEAR",
    "FOCUSONLEVEL",
    "FRAMETEXT",
    "GENERATELEVELS",
    "GETDATA",
    "GOTO",
    "GROUP",
    "HISTOGRAM",
    "IMPORT",
    "INCLUDE",
    "INCLUDEALL",
    "KEYS",
    "L",
    "L1",
    "LIST",
    "LIST1",
    "LISTPARAMETERS",
    "ONEWAYTABLE",
    "OPEN",
    "OPENCOMMANDFILE",
    "OPENINFILE",
    "OPENPSFILE",
    "OUTFILE",
    "PLOT",
    "PSFRAME",
    "QUIT",
    "RAMSTATUS",
    "READ",
    "REMARK",
    "RENAME",
    "RUN",
    "SAVE",
    "SAVEDATA",
    "SAVEFITTED",
    "SAVENORMEDRESIDUALS",
    "SAVEPARAMETERS",
    "SHELL",
    "SHOW",
    "SKIPITEM",
    "SKIPLINE",
    "SORT",
    "SPEARMAN",
    "SUBSTITUTE",
    "SUMMARY",
    "TABULATE",
    "TESTMODELCHANGE",
    "THREEWAYTABLE",
    "TRANSFER",
    "TWOWAYTABLE",
    "VARIATE",
    "WILCOXON",
    "XTEXT",
    "YTEXT",
};

bool BeginsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

int PrefixCount(Names names, std::string_view word, std::string_view* only) {
    int count = 0;
    for (std::string_view name : names)
        if (BeginsWith(name, word)) ++count, *only = name;
    return count;
}

// The word is longer than a table name that it begins with (LISTX begins with LIST).
bool LongerThanAName(Names names, std::string_view word) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        return word.size() > name.size() && BeginsWith(word, name);
    });
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

const std::array<std::string_view, kCommandCount>& CommandTable() {
    return kTable;
}

std::string MatchCommand(std::string_view word) {
    return detail::MatchCommandIn(kTable, word);
}

std::string ExpandCommandLine(const std::string& text, bool* invalid) {
    return detail::ExpandCommandLineIn(kTable, text, invalid);
}

namespace detail {

std::string MatchCommandIn(Names names, std::string_view word) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (!BeginsWith(names[i], word)) continue;
        if (i + 1 == names.size() || !BeginsWith(names[i + 1], word) || word == names[i])
            return std::string(names[i]);
        return "";
    }
    return "";
}

std::string ExpandCommandLineIn(Names names, const std::string& input, bool* invalid) {
    std::string text = input;
    std::string first = text.substr(0, text.find(' '));
    size_t eq = first.find('=');
    if ((eq != std::string::npos && eq + 1 < text.size()) || (text.size() > 1 && text[0] == '+')) {
        if (text[0] == '=' || text[0] == '+') text.erase(0, 1);
        text = "COMPUTE " + text;
    }
    if (invalid != nullptr) *invalid = false;
    if (text.empty() || text[0] == ' ') return text;
    size_t blank = text.find(' ');
    std::string word = Upper(text.substr(0, blank));
    std::string rest = blank == std::string::npos ? "" : text.substr(blank);
    std::string_view only;
    bool bad = LongerThanAName(names, word) || PrefixCount(names, word, &only) == 0;
    int count = PrefixCount(names, word, &only);
    if (count == 1 || BeginsWith(names.back(), word))
        word = std::string(count == 1 ? only : names.back());
    if (PrefixCount(names, word, &only) == 0) {
        bad = true;
        while (LongerThanAName(names, word)) word.pop_back();
        if (PrefixCount(names, word, &only) == 1) word = std::string(only);
        while (!word.empty() && PrefixCount(names, word, &only) == 0) word.pop_back();
    }
    if (invalid != nullptr) *invalid = bad;
    return word + rest;
}

}  // namespace detail

std::string CompleteShortWord(const std::string& text) {
    static const std::pair<const char*, const char*> kShort[] = {
        {"EX", "EXCLUDE"}, {"TR", "TRANSFER"}, {"I", "INCLUDE"}, {"LI", "LIST"},
        {"OP", "OPEN"},    {"SA", "SAVE"},     {"SK", "SKIP"},
    };
    for (const auto& [shortWord, full] : kShort)
        if (text == shortWord) return full;
    return text;
}

namespace {

// A word (upper case) begins a table name that does not begin with the completed name.
bool BeginsAnotherName(std::string_view word, std::string_view completed) {
    return std::any_of(kTable.begin(), kTable.end(), [&](std::string_view name) {
        return BeginsWith(name, word) && !BeginsWith(name, completed);
    });
}

}  // namespace

std::string CompleteTypedLine(const std::string& line, ShortCompletion& last, bool* invalid) {
    // A key that typed nothing (Caps Lock, an arrow) leaves the completion as it was.
    if (!last.completed.empty() && line == last.completed) {
        if (invalid != nullptr) *invalid = false;
        return line;
    }
    ShortCompletion previous = std::exchange(last, {});
    std::string text = line;
    const std::string& completed = previous.completed;
    if (!completed.empty() && line.size() == completed.size() + 1 &&
        line.compare(0, completed.size(), completed) == 0) {
        bool runsPast = false;
        ExpandCommandLine(line, &runsPast);
        std::string retyped = previous.shortWord + Upper(line.substr(completed.size()));
        if (runsPast && BeginsAnotherName(retyped, completed)) text = retyped;
    }
    std::string expanded = ExpandCommandLine(text, invalid);
    std::string result = CompleteShortWord(expanded);
    if (result != expanded) last = {expanded, result};
    return result;
}

std::vector<std::string> VectorNames() {
    std::vector<std::string> names;
    for (int i = 1; i <= data::TableSize; ++i)
        if (data::Entry(i).kind != data::FreeEntry) names.push_back(data::Entry(i).name);
    std::sort(names.begin(), names.end());
    return names;
}

std::string BrowseName(const std::string& text, int& caret, bool forward) {
    size_t point = static_cast<size_t>(std::clamp(caret, 0, static_cast<int>(text.size())));
    size_t firstBlank = text.find(' ');
    size_t begin = point == 0 ? 0 : text.find_last_of(' ', point - 1);
    begin = begin == std::string::npos || point == 0 ? 0 : begin + 1;
    size_t end = text.find(' ', begin);
    if (end == std::string::npos) end = text.size();
    std::string upper = data::UpperName(text.substr(begin, end - begin));
    std::vector<std::string> names;
    if (firstBlank == std::string::npos || point <= firstBlank)
        names.assign(kTable.begin(), kTable.end());  // already alphabetical
    else
        names = VectorNames();
    if (names.empty()) return text;
    std::string chosen;
    if (forward) {
        auto it = std::upper_bound(names.begin(), names.end(), upper);
        chosen = it == names.end() ? names.back() : *it;
    } else {
        auto it = std::lower_bound(names.begin(), names.end(), upper);
        chosen = it == names.begin() ? names.front() : *(it - 1);
    }
    caret = static_cast<int>(begin + chosen.size());
    return text.substr(0, begin) + chosen + text.substr(end);
}

}  // namespace korw::interp
