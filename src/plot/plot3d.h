// Three-dimensional point plots and histograms of two variates, with a view that the user turns
// and zooms. Drawn on the bitmap only, never into a picture file.
#pragma once

#include <string>

namespace korw::plot {

// Points (x, y, z) in an axis box; each axis argument as for PLOT (name "=" lower, step, upper);
// colourArg as for PLOT.
void Plot3d(const std::string& xArg, const std::string& yArg, const std::string& zArg,
            const std::string& colourArg);

// Counts of (x, y) in a grid of cells, drawn as columns; the middle item of an axis argument
// is its number of cells.
void VarHistogram3d(const std::string& xArg, const std::string& yArg);

enum class ViewKey { Down, Up, Right, Left, ZoomIn, ZoomOut };

// Turns or zooms the view and draws the last 3-d picture again; false when there is none.
bool TurnView(ViewKey key);

// The lines the picture window shows for the current view.
std::string ViewHint();

// Back to the first view, and no last picture (the graphics reset).
void ResetView();

}  // namespace korw::plot
