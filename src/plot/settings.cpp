#include "plot/settings.h"

#include <array>
#include <vector>

#include "data/vectors.h"

namespace korw::plot {

namespace {

constexpr std::array<Rgb, PaletteSize> palette = {{
    {0, 0, 0},
    {0, 0, 180},
    {0, 180, 0},
    {0, 180, 180},
    {180, 0, 0},
    {180, 0, 180},
    {180, 120, 0},
    {180, 180, 180},
    {90, 90, 90},
    {0, 0, 255},
    {0, 255, 0},
    {0, 255, 255},
    {255, 0, 0},
    {255, 0, 255},
    {220, 200, 0},
    {255, 255, 255},
}};

struct Name {
    const char* text;
    int code;
};

// Names are matched on their first 8 letters, so LIGHTMAGENTA and LIGHTMAG are the same.
constexpr Name colourNames[] = {
    {"BLACK", 0},     {"BLUE", 1},        {"GREEN", 2},      {"CYAN", 3},      {"RED", 4},
    {"MAGENTA", 5},   {"BROWN", 6},       {"GRAY", 7},       {"LIGHTGRAY", 7}, {"DARKGRAY", 8},
    {"LIGHTBLUE", 9}, {"LIGHTGREEN", 10}, {"LIGHTCYAN", 11}, {"LIGHTRED", 12}, {"LIGHTMAGENTA", 13},
    {"YELLOW", 14},   {"WHITE", 15},      {"NONE", 15},
};

constexpr Name markerNames[] = {
    {"NONE", 0},     {"X", 1},      {"CROSS", 1},  {"+", 2},       {"PLUS", 2},
    {"O", 3},        {"CIRCLE", 3}, {"*", 4},      {"STAR", 4},    {"DELTA", 5},
    {"TRIANGLE", 5}, {"NAPLA", 6},  {"SQUARE", 7}, {"DIAMOND", 8},
};

std::string First8(const std::string& text) {
    return data::UpperName(text.substr(0, 8));
}

int NumberItem(const std::string& item, int highest) {
    if (item.empty() || item.size() > 2) return -1;
    int value = 0;
    for (char c : item) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= highest ? value : -1;
}

template <size_t N>
int NameItem(const std::string& item, const Name (&names)[N]) {
    const std::string key = First8(item);
    for (const Name& name : names)
        if (First8(name.text) == key) return name.code;
    return -1;
}

PlotSettings settings;
std::vector<PlotSettings> saved;

}  // namespace

Rgb PaletteColour(int index) {
    if (index < 0 || index >= PaletteSize) return {0, 127, 255};
    return palette[index];
}

int ColourCode(const std::string& item) {
    const int number = NumberItem(item, PaletteSize - 1);
    return number >= 0 ? number : NameItem(item, colourNames);
}

int MarkerCode(const std::string& item) {
    const int number = NumberItem(item.substr(0, 8), MarkerDiamond);
    return number >= 0 ? number : NameItem(item, markerNames);
}

PlotSettings& Settings() {
    return settings;
}

void SaveSettings() {
    saved.push_back(settings);
}

void RestoreSettings() {
    if (saved.empty()) return;
    settings = saved.back();
    saved.pop_back();
}

void ResetSettings() {
    settings = PlotSettings{};
    saved.clear();
}

std::string BarsToBlanks(std::string text) {
    for (char& c : text)
        if (c == '|') c = ' ';
    return text;
}

}  // namespace korw::plot
