// The 640 x 480 picture bitmap and the drawing primitives of every plot.
//
// Each primitive draws on the bitmap (antialiasing off, so lines and markers are whole pixels)
// and then writes its PostScript fragment when a picture file is open. Primitives named Draw...
// take data coordinates and map them with the current axis limits; a coordinate equal to the
// missing value makes them draw nothing.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "plot/settings.h"

namespace korw::plot {

inline constexpr int BitmapWidth = 640;
inline constexpr int BitmapHeight = 480;

// The bitmap (created on first use). The surface stays owned by this module.
cairo_surface_t* Bitmap();
Rgb Pixel(int x, int y);
// The drawing on the bitmap since it was last cleared, as cairo operations in bitmap pixels, so
// that a window on a screen with several device pixels to a pixel can replay the picture at its
// scale and have it sharp. Owned by this module, valid until the next clear.
cairo_surface_t* Recording();

// Paints the bitmap white; the pen is black again.
void ClearBitmap();

// Data coordinates to fractional screen pixels with the current limits and frame.
double ScreenX(double x);
double ScreenY(double y);

// Screen-only drawing in pixels; the PostScript side is written by the callers.
void ScreenLine(int x1, int y1, int x2, int y2, int colour);
void ScreenDottedLine(int x1, int y1, int x2, int y2, int colour);  // every second pixel
void ScreenPixel(int x, int y, int colour);
void ScreenMarker(int type, int size, int x, int y, int colour);

enum class Anchor { TopCentre, BottomCentre, TopLeft, MiddleRight, MiddleLeftUpwards };
// Text of `pixels` height; MiddleLeftUpwards writes it turned by 90 degrees, its top to the left.
void ScreenText(double x, double y, const std::string& text, double pixels, Anchor anchor,
                int colour);

// The rectangle a text fills on the bitmap: its advance along and the font's ascent and descent
// across, widened to any ink beyond them (turned for MiddleLeftUpwards). Two texts whose boxes do
// not meet cannot touch.
struct TextBox {
    double left = 0, top = 0, right = 0, bottom = 0;
    std::string text;
};
TextBox MeasureText(double x, double y, const std::string& text, double pixels, Anchor anchor);
// True when the boxes meet or come closer than `gap` pixels.
bool Overlap(const TextBox& a, const TextBox& b, double gap = 0);
bool InsideBitmap(const TextBox& box);
TextBox Moved(TextBox box, double dx, double dy);
// Moved the least distance that brings it `margin` pixels inside the bitmap, where it fits.
TextBox MovedInside(TextBox box, double margin);

// Test hook: while set, every text written on the bitmap adds its box to `boxes`.
void RecordTextBoxes(std::vector<TextBox>* boxes);

// Font height in pixels for a PostScript size in points, so both pictures match.
double PixelsForPoints(double points);

void DrawSegment(double x1, double y1, double x2, double y2, int colour);
void DrawMarker(double x, double y, int type, int size, int colour);
void DrawBar(double x1, double y1, double x2, double y2, int colour);
void DrawTextAt(double x, double y, const std::string& text, int colour);

}  // namespace korw::plot
