// The command table of the KOR language and the matching of command words.
#pragma once

#include <array>
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

}  // namespace korw::interp
