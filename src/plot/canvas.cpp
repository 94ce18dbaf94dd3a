#include "plot/canvas.h"

#include <cairo-tee.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "data/vectors.h"
#include "plot/postscript.h"

namespace korw::plot {

namespace {

constexpr double pointsPerPixel = 16.0 / 640 * 72 / 2.54;
constexpr double numberPoints = 10;  // axis numbers and texts at data points

cairo_surface_t* surface = nullptr;    // the bitmap
cairo_surface_t* recording = nullptr;  // the same drawing as operations, since the last clear
cairo_surface_t* tee = nullptr;        // draws on both
cairo_t* context = nullptr;
std::vector<TextBox>* recordedBoxes = nullptr;

cairo_surface_t* NewRecording() {
    const cairo_rectangle_t extents{0, 0, BitmapWidth, BitmapHeight};
    return cairo_recording_surface_create(CAIRO_CONTENT_COLOR, &extents);
}

// Frees the bitmap and the font caches of cairo and fontconfig at program end, so that leak
// checkers see only what the program itself still holds.
void ReleaseBitmap() {
    if (context != nullptr) cairo_destroy(context);
    for (cairo_surface_t* s : {tee, recording, surface})
        if (s != nullptr) cairo_surface_destroy(s);
    context = nullptr;
    surface = recording = tee = nullptr;
    cairo_debug_reset_static_data();
    FcFini();
}

cairo_t* Context() {
    if (context == nullptr) {
        std::atexit(ReleaseBitmap);
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, BitmapWidth, BitmapHeight);
        recording = NewRecording();
        tee = cairo_tee_surface_create(surface);
        cairo_tee_surface_add(tee, recording);
        context = cairo_create(tee);
        cairo_set_antialias(context, CAIRO_ANTIALIAS_NONE);
        cairo_set_line_width(context, 1);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
        cairo_set_font_options(context, options);
        cairo_font_options_destroy(options);
        // Liberation Mono has the metrics of the font the layout was made for; fontconfig falls
        // back to DejaVu Sans Mono when it is missing.
        cairo_select_font_face(context, "Liberation Mono", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
        ClearBitmap();
    }
    return context;
}

void Colour(int index) {
    const Rgb c = PaletteColour(index);
    cairo_set_source_rgb(Context(), c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

bool Missing(double v) {
    return v == static_cast<double>(data::MissingValue);
}

int Round(double v) {
    return static_cast<int>(std::lround(v));
}

// A pixel is a unit square; a line runs between pixel centres with square ends, so both end
// pixels are set.
void StrokeBetween(double x1, double y1, double x2, double y2) {
    cairo_t* cr = Context();
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    cairo_move_to(cr, x1 + 0.5, y1 + 0.5);
    cairo_line_to(cr, x2 + 0.5, y2 + 0.5);
    cairo_stroke(cr);
}

}  // namespace

cairo_surface_t* Bitmap() {
    Context();
    cairo_surface_flush(tee);
    return surface;
}

cairo_surface_t* Recording() {
    Context();
    cairo_surface_flush(tee);
    return recording;
}

Rgb Pixel(int x, int y) {
    cairo_surface_t* s = Bitmap();
    if (x < 0 || y < 0 || x >= BitmapWidth || y >= BitmapHeight) return {};
    const unsigned char* row =
        cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    const uint32_t value = reinterpret_cast<const uint32_t*>(row)[x];
    return {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

void ClearBitmap() {
    cairo_t* cr = Context();
    cairo_tee_surface_remove(tee, recording);
    cairo_surface_destroy(recording);
    recording = NewRecording();
    cairo_tee_surface_add(tee, recording);
    Colour(White);
    cairo_paint(cr);
    Colour(0);
}

double PixelsForPoints(double points) {
    return points / pointsPerPixel;
}

double ScreenX(double x) {
    const PlotSettings& s = Settings();
    return s.left + (x - s.xLower) / (s.xUpper - s.xLower) * (s.right - s.left);
}

double ScreenY(double y) {
    const PlotSettings& s = Settings();
    return s.bottom - (y - s.yLower) / (s.yUpper - s.yLower) * (s.bottom - s.top);
}

void ScreenLine(int x1, int y1, int x2, int y2, int colour) {
    Colour(colour);
    StrokeBetween(x1, y1, x2, y2);
}

void ScreenDottedLine(int x1, int y1, int x2, int y2, int colour) {
    const int steps = std::max(std::abs(x2 - x1), std::abs(y2 - y1));
    for (int i = 0; i <= steps; i += 2) {
        const double t = steps == 0 ? 0 : static_cast<double>(i) / steps;
        ScreenPixel(Round(x1 + t * (x2 - x1)), Round(y1 + t * (y2 - y1)), colour);
    }
}

void ScreenPixel(int x, int y, int colour) {
    Colour(colour);
    cairo_rectangle(Context(), x, y, 1, 1);
    cairo_fill(Context());
}

void ScreenMarker(int type, int size, int x, int y, int colour) {
    if (type == MarkerNone) return;
    if (size == 0) return ScreenPixel(x, y, colour);
    Colour(colour);
    cairo_t* cr = Context();
    if (type == MarkerCircle) {
        cairo_new_path(cr);
        cairo_arc(cr, x + 0.5, y + 0.5, size, 0, 2 * M_PI);
        cairo_stroke(cr);
        return;
    }
    for (const MarkerStroke& stroke : MarkerStrokes(type, size)) {
        const size_t n = stroke.points.size();
        const size_t segments = stroke.closed ? n : n - 1;
        for (size_t i = 0; i < segments; ++i) {
            const auto& [ax, ay] = stroke.points[i];
            const auto& [bx, by] = stroke.points[(i + 1) % n];
            StrokeBetween(x + ax, y + ay, x + bx, y + by);
        }
    }
}

namespace {

// Where a text starts: the offset from its anchor to the start of its baseline, measured along
// the text (turned with it for MiddleLeftUpwards), and the metrics the offset comes from.
struct Placement {
    double dx = 0, dy = 0;
    cairo_text_extents_t extents{};
    cairo_font_extents_t font{};
};

Placement Place(const std::string& text, double pixels, Anchor anchor) {
    cairo_t* cr = Context();
    cairo_set_font_size(cr, pixels);
    Placement p;
    cairo_text_extents(cr, text.c_str(), &p.extents);
    cairo_font_extents(cr, &p.font);
    const double advance = p.extents.x_advance, ascent = p.font.ascent, descent = p.font.descent;
    switch (anchor) {
        case Anchor::TopCentre:
            p.dx = -advance / 2, p.dy = ascent;
            break;
        case Anchor::BottomCentre:
            p.dx = -advance / 2, p.dy = -descent;
            break;
        case Anchor::TopLeft:
            p.dy = ascent;
            break;
        case Anchor::MiddleRight:
            p.dx = -advance, p.dy = (ascent - descent) / 2;
            break;
        case Anchor::MiddleLeftUpwards:
            p.dx = -advance / 2, p.dy = ascent;
            break;
    }
    return p;
}

TextBox BoxOf(double x, double y, const std::string& text, const Placement& p, Anchor anchor) {
    // Glyphs may reach past their advance (the advances are whole pixels, the outlines not).
    const cairo_text_extents_t& ink = p.extents;
    const double along0 = p.dx + std::min(0.0, ink.x_bearing);
    const double along1 = p.dx + std::max(ink.x_advance, ink.x_bearing + ink.width);
    const double across0 = p.dy + std::min(-p.font.ascent, ink.y_bearing);
    const double across1 = p.dy + std::max(p.font.descent, ink.y_bearing + ink.height);
    // Turned upwards, the text runs towards smaller y and its top faces left.
    if (anchor == Anchor::MiddleLeftUpwards)
        return {x + across0, y - along1, x + across1, y - along0, text};
    return {x + along0, y + across0, x + along1, y + across1, text};
}

}  // namespace

TextBox MeasureText(double x, double y, const std::string& text, double pixels, Anchor anchor) {
    return BoxOf(x, y, text, Place(text, pixels, anchor), anchor);
}

bool Overlap(const TextBox& a, const TextBox& b, double gap) {
    return a.left < b.right + gap && b.left < a.right + gap && a.top < b.bottom + gap &&
           b.top < a.bottom + gap;
}

bool InsideBitmap(const TextBox& box) {
    return box.left >= 0 && box.top >= 0 && box.right <= BitmapWidth && box.bottom <= BitmapHeight;
}

TextBox Moved(TextBox box, double dx, double dy) {
    box.left += dx, box.right += dx, box.top += dy, box.bottom += dy;
    return box;
}

TextBox MovedInside(TextBox box, double margin) {
    const double dx = box.left < margin                  ? margin - box.left
                      : box.right > BitmapWidth - margin ? BitmapWidth - margin - box.right
                                                         : 0;
    const double dy = box.top < margin                     ? margin - box.top
                      : box.bottom > BitmapHeight - margin ? BitmapHeight - margin - box.bottom
                                                           : 0;
    return Moved(box, dx, dy);
}

void RecordTextBoxes(std::vector<TextBox>* boxes) {
    recordedBoxes = boxes;
}

void ScreenText(double x, double y, const std::string& text, double pixels, Anchor anchor,
                int colour) {
    if (text.empty()) return;
    cairo_t* cr = Context();
    Colour(colour);
    const Placement p = Place(text, pixels, anchor);
    if (recordedBoxes != nullptr) recordedBoxes->push_back(BoxOf(x, y, text, p, anchor));
    cairo_save(cr);
    cairo_translate(cr, x, y);
    if (anchor == Anchor::MiddleLeftUpwards) cairo_rotate(cr, -M_PI / 2);
    cairo_move_to(cr, p.dx, p.dy);
    cairo_show_text(cr, text.c_str());
    cairo_restore(cr);
}

void DrawSegment(double x1, double y1, double x2, double y2, int colour) {
    if (Missing(x1) || Missing(y1) || Missing(x2) || Missing(y2)) return;
    const double a = ScreenX(x1), b = ScreenY(y1), c = ScreenX(x2), d = ScreenY(y2);
    ScreenLine(Round(a), Round(b), Round(c), Round(d), colour);
    PSSegment(a, b, c, d);
}

void DrawMarker(double x, double y, int type, int size, int colour) {
    if (Missing(x) || Missing(y)) return;
    const double a = ScreenX(x), b = ScreenY(y);
    ScreenMarker(type, size, Round(a), Round(b), colour);
    PSMarker(type, size, a, b);
}

void DrawBar(double x1, double y1, double x2, double y2, int colour) {
    if (Missing(x1) || Missing(y1) || Missing(x2) || Missing(y2)) return;
    const double a = ScreenX(x1), b = ScreenY(y1), c = ScreenX(x2), d = ScreenY(y2);
    const int l = Round(std::min(a, c)), r = Round(std::max(a, c));
    const int t = Round(std::min(b, d)), u = Round(std::max(b, d));
    Colour(colour);
    cairo_rectangle(Context(), l, t, r - l + 1, u - t + 1);
    cairo_fill(Context());
    ScreenLine(l, t, r, t, 0);
    ScreenLine(r, t, r, u, 0);
    ScreenLine(r, u, l, u, 0);
    ScreenLine(l, u, l, t, 0);
    PSBar(a, b, c, d, colour);
}

void DrawTextAt(double x, double y, const std::string& text, int colour) {
    if (Missing(x) || Missing(y)) return;
    const double a = ScreenX(x), b = ScreenY(y);
    ScreenText(a, b, text, PixelsForPoints(numberPoints), Anchor::TopLeft, colour);
    PSTextAt(a, b, text);
}

}  // namespace korw::plot
