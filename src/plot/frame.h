// The plot frame: rectangle, ticks, axis numbers, grid lines, title and axis texts.
#pragma once

#include <string>

namespace korw::plot {

// Draws the frame of the current settings on the bitmap and into the picture file.
void DrawFrame();

// Decimals of the numbers of an axis: the setting when >= 0, else chosen from the range.
int AxisDecimals(int setting, double lower, double upper);

// An axis number: fixed notation in a field of 20, leading blanks stripped.
std::string AxisNumber(double value, int decimals);

}  // namespace korw::plot
