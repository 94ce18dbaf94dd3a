// The command table of the KOR language and the matching of command words.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korw::interp {

inline constexpr int kCommandCount = 78;

// The command names in table order (alphabetical; the matching rule depends on it).
const std::array<std::string_view, kCommandCount>& CommandTable();

// The full command name for an upper-case word: the exact name, or the name of which the word
// is a unique prefix; "" when the word matches none or is ambiguous.
std::string MatchCommand(std::string_view word);

// The completion of a typed command word at each key release and at Return. `invalid` is set
// when the word matches no command (the warning beep).
std::string ExpandCommandLine(const std::string& text, bool* invalid = nullptr);

// The upper-case names of the vectors in the table, sorted (completion and browsing of names).
std::vector<std::string> VectorNames();

// Ctrl+Right / Ctrl+Left: the word at `caret` replaced by the next or previous command name
// (caret in the command word) or vector name (caret in the parameters) in alphabetical order; at
// either end of the list its last or first name stays. `caret` moves behind the new word.
std::string BrowseName(const std::string& text, int& caret, bool forward);

// The short words that the command window completes further: EX, TR, I, LI, OP, SA, SK.
std::string CompleteShortWord(const std::string& text);

// What the completion at the last key release of a command window made of a short word: the
// word ("I") and the line it became ("INCLUDE"); both empty after any other completion.
struct ShortCompletion {
    std::string shortWord;
    std::string completed;
};

// The completion at a key release of the terminal's and the window's command line:
// ExpandCommandLine, then CompleteShortWord. A character typed right after a short word's
// completion that no longer fits the completed name is taken as typed after the short word when
// that begins a name the completion hid (I then M gives IMPORT, EX then P gives EXPORT);
// otherwise it is cut back as before (I then N stays INCLUDE). `last` is the front end's memory
// of the previous key; `invalid` is set when the word is still invalid (the warning beep).
std::string CompleteTypedLine(const std::string& line, ShortCompletion& last, bool* invalid);

namespace detail {

using Names = std::span<const std::string_view>;

// The matching and completion rules on any alphabetical list of names (the command table's
// functions apply them to the table), so that a new table can be checked against an old one.
std::string MatchCommandIn(Names names, std::string_view word);
std::string ExpandCommandLineIn(Names names, const std::string& text, bool* invalid);

}  // namespace detail

}  // namespace korw::interp
