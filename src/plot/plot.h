// PLOT and HISTOGRAM: scatter and line plots, histograms of variates and factors.
//
// Each fills the settings record from its arguments, draws frame and data on the bitmap (and
// into the picture file when one is open), and restores the settings in force before the call,
// also after an error.
#pragma once

#include <string>

namespace korw::plot {

// xArg, yArg: vector name, optionally "=" lower "," step "," upper (empty items automatic).
// colourArg: a colour, or factor "=" one colour per level (level 0 first).
// markerArg: the same for markers; a first item beginning with "L" joins the points, "#"
// widens automatic limits by half the mean spacing. A non-empty frameText is the title.
void Plot(const std::string& xArg, const std::string& yArg, const std::string& frameText,
          const std::string& colourArg, const std::string& markerArg);

// arg: a variate "=" lower "," bins "," upper, or a factor (with "=" and a first item to show
// level 0). weight: an optional weight variate for a variate histogram.
void VarHistogram(const std::string& arg, const std::string& weight = "");

// A step of about five to ten numbers over the range: 1, 2 or 5 times a power of ten.
double NiceStep(double range);

}  // namespace korw::plot
