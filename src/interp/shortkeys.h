// The shortkey table: 130 entries of key code, modifier set and command text, kept between
// sessions in SHORTKEY.BIN (4-byte records) and SHORTKEY.TXT (one text per line).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korw::interp {

inline constexpr int kShortKeyCount = 130;

// Modifier bits, combined.
inline constexpr uint8_t kShift = 1;
inline constexpr uint8_t kAlt = 2;
inline constexpr uint8_t kCtrl = 4;

// Key codes as stored in SHORTKEY.BIN: letters and digits by their upper-case character code,
// function key Fn as 111 + n.
inline constexpr uint16_t FunctionKey(int n) {
    return static_cast<uint16_t>(111 + n);
}

struct ShortKey {
    uint16_t key = 0;  // 0: a free entry
    uint8_t modifiers = 0;
    std::string text;
};

const ShortKey& ShortKeyEntry(int index);  // 1..kShortKeyCount
void ClearShortKeys();

// Loads SHORTKEY.BIN and SHORTKEY.TXT from the root directory when the first exists.
void LoadShortKeys();
void SaveShortKeys();

// Defines (or with an empty text frees) the entry of a key; false when the table is full.
bool DefineShortKey(uint16_t key, uint8_t modifiers, const std::string& text);

// The text of the entry for a key and its modifiers.
std::optional<std::string> FindShortKey(uint16_t key, uint8_t modifiers);

}  // namespace korw::interp
