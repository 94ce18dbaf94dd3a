#include "interp/shortkeys.h"

#include <array>
#include <cstdio>
#include <fstream>

#include "data/files.h"
#include "interp/state.h"

namespace korw::interp {

namespace {

std::array<ShortKey, kShortKeyCount> table;

std::string BinaryFile() {
    return RootDirectory + "/SHORTKEY.BIN";
}
std::string TextFile() {
    return RootDirectory + "/SHORTKEY.TXT";
}

}  // namespace

const ShortKey& ShortKeyEntry(int index) {
    return table.at(index - 1);
}

void ClearShortKeys() {
    table.fill(ShortKey{});
}

void LoadShortKeys() {
    ClearShortKeys();
    std::FILE* bin = data::OpenFile(BinaryFile(), "rb");
    if (bin == nullptr) return;
    std::ifstream texts(data::ResolveExisting(TextFile()));
    unsigned char record[4];
    for (int i = 0; i < kShortKeyCount && std::fread(record, 1, 4, bin) == 4; ++i) {
        table[i].key = static_cast<uint16_t>(record[0] | record[1] << 8);
        table[i].modifiers = record[2];
        if (!std::getline(texts, table[i].text)) table[i].text.clear();
        if (!table[i].text.empty() && table[i].text.back() == '\r') table[i].text.pop_back();
    }
    std::fclose(bin);
}

void SaveShortKeys() {
    std::FILE* bin = data::OpenFile(BinaryFile(), "wb");
    std::FILE* txt = data::OpenFile(TextFile(), "w");
    for (const ShortKey& entry : table) {
        if (entry.key == 0) continue;
        unsigned char record[4] = {static_cast<unsigned char>(entry.key & 0xFF),
                                   static_cast<unsigned char>(entry.key >> 8), entry.modifiers, 0};
        if (bin != nullptr) std::fwrite(record, 1, 4, bin);
        if (txt != nullptr) std::fprintf(txt, "%s\n", entry.text.c_str());
    }
    if (bin != nullptr) std::fclose(bin);
    if (txt != nullptr) std::fclose(txt);
}

bool DefineShortKey(uint16_t key, uint8_t modifiers, const std::string& text) {
    ShortKey* slot = nullptr;
    for (ShortKey& entry : table)
        if (entry.key == key && entry.modifiers == modifiers) slot = &entry;
    if (slot == nullptr && text.empty()) return true;
    for (ShortKey& entry : table)
        if (slot == nullptr && entry.key == 0) slot = &entry;
    if (slot == nullptr) return false;
    *slot = text.empty() ? ShortKey{} : ShortKey{key, modifiers, text};
    return true;
}

std::optional<std::string> FindShortKey(uint16_t key, uint8_t modifiers) {
    for (const ShortKey& entry : table)
        if (entry.key != 0 && entry.key == key && entry.modifiers == modifiers) return entry.text;
    return {};
}

}  // namespace korw::interp
