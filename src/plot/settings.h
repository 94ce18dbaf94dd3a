// The settings record of the graphics, the 16-colour palette and the marker types.
//
// Every plot fills the one settings record from its arguments, draws, and puts back the record
// that was in force before (SaveSettings / RestoreSettings), so that limits given to one plot do
// not carry over to the next.
#pragma once

#include <cstdint>
#include <string>

namespace korw::plot {

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
};

inline constexpr int PaletteSize = 16;
inline constexpr int White = 15;

// Palette colour 0..15; any other index gives the out-of-palette colour 0, 127, 255.
Rgb PaletteColour(int index);

// Colour of a colour-list item: "0".."15" or a palette name compared on its first 8 letters
// ("NONE" is white); -1 when the item names no colour.
int ColourCode(const std::string& item);

enum MarkerType : uint8_t {
    MarkerNone = 0,
    MarkerCross = 1,
    MarkerPlus = 2,
    MarkerCircle = 3,
    MarkerStar = 4,
    MarkerDelta = 5,
    MarkerNapla = 6,
    MarkerSquare = 7,
    MarkerDiamond = 8,
};

// Marker of a marker-list item: a digit "0".."8" or a name, compared on the first 8 characters;
// -1 when the item names no marker.
int MarkerCode(const std::string& item);

struct PlotSettings {
    int left = 60, right = 630, top = 30, bottom = 425;
    double xLower = 0, xUpper = 1, yLower = 0, yUpper = 1;
    // A step of 0 draws nothing; a negative step draws grid lines at its absolute value.
    double xTickStep = 0, xLabelStep = 1, yTickStep = 0, yLabelStep = 1;
    int xDecimals = -1, yDecimals = -1;  // -1: chosen from the axis range
    std::string frameText, xText, yText;
    uint8_t frameTextSize = 7, xTextSize = 6, yTextSize = 6;
    int frameTextX = 320, frameTextY = 1;
    int xTextX = 345, xTextY = 478;
    int yTextX = 1, yTextY = 238;
    uint8_t tickLength = 3, labelTickLength = 6;
    uint8_t markerType = MarkerPlus, markerSize = 1, markerColour = 0;
    uint8_t frameColour = 0, axisColour = 0;
    bool joinPoints = false;
    uint8_t barColour = 8;
    // Last drawn point in screen pixels, the start of the next joining line.
    double lastX = 0, lastY = 0;
    bool lastPointValid = false;
};

// The module's settings record.
PlotSettings& Settings();

// Copies the whole record aside and back; the copies nest like a stack.
void SaveSettings();
void RestoreSettings();

// Back to the defaults (the graphics reset of the session).
void ResetSettings();

// Text typed as one argument: every "|" becomes a blank.
std::string BarsToBlanks(std::string text);

}  // namespace korw::plot
