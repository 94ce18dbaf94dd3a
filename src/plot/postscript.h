// The PostScript picture file: header, frame placement on the page, and the fragment that each
// drawing primitive writes beside its screen drawing.
//
// Coordinates given to the fragment writers are screen pixels (fractional allowed, y growing
// downwards); PSX and PSY place the 640 x 480 screen as a 16 cm x 12 cm rectangle on the page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korw::plot {

// Set by the command that opens a picture file before PlotBegin; every fragment writer tests it.
inline bool psRequested = false;
inline std::string psFileName = "KORW.PS";

bool PSHeaderWritten();
bool PSIsEps();

// Opens psFileName and writes the header, unless not requested or already open.
void PlotBegin();
// Starts frame `frame` (1-based) of a page laid out for perPage frames.
void PSFrame(int frame, int perPage);
// Ends the page ("showpage" except on EPS) and closes the file.
void ClosePSFile();

double PSX(double x);
double PSY(double y);

// The text as it may stand inside PostScript parentheses: the Danish letters in the
// StandardEncoding bytes, the a-ring spelled "aa" / "Aa".
std::string PSText(std::string_view text);

// One line into the open picture file (the command layer's "grestore").
void PSWriteLine(const std::string& line);

struct PSSegmentPoints {
    double x1, y1, x2, y2;
};
struct PSLabel {
    double x, y;  // baseline point of the number
    std::string text;
};

void PSFrameRectangle(double left, double top, double right, double bottom);
void PSTicks(const std::vector<PSSegmentPoints>& ticks, bool grid);
void PSXNumbers(const std::vector<PSLabel>& labels);
void PSYNumbers(const std::vector<PSLabel>& labels);
void PSTitle(const std::string& text, int fontSize);
void PSXAxisText(const std::string& text, int fontSize);
void PSYAxisText(const std::string& text, int fontSize);
void PSSegment(double x1, double y1, double x2, double y2);
void PSMarker(int type, int size, double x, double y);
void PSBar(double x1, double y1, double x2, double y2, int colour);
void PSTextAt(double x, double y, const std::string& text);

// Offsets in pixels of a marker's strokes around its centre; shared by the screen and the
// PostScript drawing so that both show the same shape.
struct MarkerStroke {
    std::vector<std::pair<int, int>> points;  // a polyline
    bool closed = false;
};
std::vector<MarkerStroke> MarkerStrokes(int type, int size);

}  // namespace korw::plot
