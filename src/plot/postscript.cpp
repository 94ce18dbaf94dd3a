#include "plot/postscript.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "data/errors.h"
#include "data/files.h"
#include "data/format.h"
#include "plot/settings.h"

namespace korw::plot {

namespace {

// Page geometry: the screen stands for a 16 cm x 12 cm rectangle whose top left corner lies
// 3.0 cm from the left edge and 1.6 cm below the reference line y = 810 points.
constexpr double paperWidth = 16.0, paperHeight = 12.0;  // cm
constexpr double leftOffset = 3.0, topOffset = 1.6;      // cm
constexpr double originX = 0, originY = 810;             // points
constexpr double screenWidth = 640, screenHeight = 480;  // pixels
constexpr double pointsPerCm = 72 / 2.54;
constexpr double pointsPerPixel = paperWidth / screenWidth * pointsPerCm;

// Titles longer than this are shrunk in proportion so that they fit above the frame.
constexpr int longTitle = 25;

bool headerWritten = false;
bool isEps = false;
std::FILE* file = nullptr;

void Line(const std::string& text) {
    if (file == nullptr) return;
    std::fputs(text.c_str(), file);
    std::fputc('\n', file);
}

bool Writing() {
    return psRequested && headerWritten && file != nullptr;
}

// A transformed point: each coordinate with one decimal, followed by a blank.
std::string Point(double x, double y) {
    return data::Fixed(PSX(x), 2, 1) + " " + data::Fixed(PSY(y), 2, 1) + " ";
}

std::string Placement(double value) {
    return data::Fixed(value, 8, 2);
}

bool IsSquare(int n) {
    const int root = static_cast<int>(std::lround(std::sqrt(n)));
    return root * root == n;
}

size_t CharacterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

bool IsEpsName(const std::string& name) {
    if (name.size() <= 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return tail == ".EPS";
}

void FailedToOpen() {
    psRequested = false;
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    data::ReportError("Failed to open " + psFileName);
}

}  // namespace

bool PSHeaderWritten() {
    return headerWritten;
}
bool PSIsEps() {
    return isEps;
}

double PSX(double x) {
    return (paperWidth * x / screenWidth + leftOffset) * pointsPerCm + originX;
}

double PSY(double y) {
    return originY - (paperHeight * y / screenHeight + topOffset) * pointsPerCm;
}

void PlotBegin() {
    if (!data::Enter("PlotBegin")) return;
    if (!psRequested || headerWritten) return;
    file = data::OpenFile(psFileName, "w");
    if (file == nullptr) return FailedToOpen();
    isEps = IsEpsName(psFileName);
    if (isEps) {
        Line("%!PS-Adobe-3.0 EPSF-3.0");
        Line("%%BoundingBox: " + std::to_string(std::lround(PSX(0))) + " " +
             std::to_string(std::lround(PSY(screenHeight))) + " " +
             std::to_string(std::lround(PSX(screenWidth))) + " " +
             std::to_string(std::lround(PSY(0))));
    } else {
        Line("%!");
    }
    Line("gsave");
    Line("0.5 setlinewidth");
    if (std::fflush(file) != 0 || std::ferror(file)) {
        isEps = false;
        return FailedToOpen();
    }
    headerWritten = true;
}

void PSFrame(int frame, int perPage) {
    // These errors carry no procedure name of their own.
    if (!data::Enter("")) return;
    if (!psRequested) return data::ReportError("PS file not open");
    if (isEps) return data::ReportError("Only one image on Encapsulated Postscript File");
    // The command layer admits only the listed layouts; anything else must not divide by zero.
    perPage = std::max(perPage, 1);
    frame = std::clamp(frame, 1, perPage);
    Line("gsave");
    const double w = PSX(screenWidth) - PSX(0);
    const double h = PSY(0) - PSY(screenHeight);
    int m = perPage;
    if (IsSquare(perPage)) {
        Line(Placement(2.55 * w) + " 0 translate 90 rotate 1.414 1.414 scale");
        m = 2 * perPage;
    }
    const double r = std::sqrt(m / 2.0);
    const int k = static_cast<int>(std::lround(r));
    const int col = (frame - 1) % k + 1;
    const int row = (frame - 1) / k + 1;
    Line(Placement(1 / r) + " " + data::Exponent(1 / r) + " scale");
    const double tx = (r - 1) * PSX(0) + (col - 1) * w;
    const double ty = (r - 1) * PSY(2 * screenHeight) + (2 * k - row - 1) * h;
    Line(Placement(tx) + " " + Placement(ty) + " translate");
}

void ClosePSFile() {
    if (psRequested && headerWritten) {
        if (!isEps) Line("showpage");
        if (file != nullptr) std::fclose(file);
        file = nullptr;
    }
    headerWritten = false;
    psRequested = false;
    isEps = false;
}

std::string PSText(std::string_view text) {
    // Parentheses that pair up may stand in a PostScript string as they are; one without its
    // partner would end the string early or leave it open, so it is escaped, as is a backslash.
    std::vector<bool> unpaired(text.size(), false);
    std::vector<size_t> open;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '(') {
            open.push_back(i);
        } else if (text[i] == ')') {
            if (open.empty())
                unpaired[i] = true;
            else
                open.pop_back();
        }
    }
    for (size_t i : open) unpaired[i] = true;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (unpaired[i] || c == '\\') out += '\\';
        // UTF-8 forms of the same letters: C3 A6, C3 B8, C3 86, C3 98, C3 A5, C3 85.
        unsigned char latin = c;
        if (c == 0xC3 && i + 1 < text.size()) {
            const unsigned char next = text[i + 1];
            if (next == 0xA6 || next == 0xB8 || next == 0x86 || next == 0x98 || next == 0xA5 ||
                next == 0x85) {
                latin = static_cast<unsigned char>(next + 0x40);
                ++i;
            }
        }
        switch (latin) {
            case 0xE6:
                out += '\xF1';
                break;  // ae
            case 0xF8:
                out += '\xF9';
                break;  // o-slash
            case 0xC6:
                out += '\xE1';
                break;  // AE
            case 0xD8:
                out += '\xE9';
                break;  // O-slash
            case 0xE5:
                out += "aa";
                break;
            case 0xC5:
                out += "Aa";
                break;
            default:
                out += static_cast<char>(latin);
        }
    }
    return out;
}

void PSWriteLine(const std::string& line) {
    if (Writing()) Line(line);
}

void PSFrameRectangle(double left, double top, double right, double bottom) {
    if (!Writing()) return;
    Line("1 setlinewidth");
    Line("newpath");
    Line(Point(left, bottom) + "moveto");
    Line(Point(left, top) + "lineto");
    Line(Point(right, top) + "lineto");
    Line(Point(right, bottom) + "lineto");
    Line("closepath");
    Line("stroke");
    Line("0.5 setlinewidth");
}

void PSTicks(const std::vector<PSSegmentPoints>& ticks, bool grid) {
    if (!Writing()) return;
    Line("newpath");
    for (const PSSegmentPoints& t : ticks) {
        Line(Point(t.x1, t.y1) + "moveto");
        Line(Point(t.x2, t.y2) + "lineto");
    }
    if (grid) Line("0.2 setlinewidth");
    Line("stroke");
    if (grid) Line("0.5 setlinewidth");
}

void PSXNumbers(const std::vector<PSLabel>& labels) {
    if (!Writing()) return;
    Line("/Times-Roman findfont");
    Line("10 scalefont");
    Line("setfont");
    for (const PSLabel& label : labels) {
        Line(Point(label.x, label.y) + "moveto");
        Line("(" + PSText(label.text) + ") dup stringwidth");
        Line("pop neg 2 div");
        Line("0 rmoveto show");
    }
}

void PSYNumbers(const std::vector<PSLabel>& labels) {
    if (!Writing()) return;
    Line("/Times-Roman findfont");
    Line("10 scalefont setfont");
    for (const PSLabel& label : labels) {
        Line(Point(label.x, label.y) + "moveto");
        Line("(" + PSText(label.text) + ") dup stringwidth pop");
        Line("0 exch sub");
        Line("0 rmoveto show");
    }
}

void PSTitle(const std::string& text, int fontSize) {
    if (!Writing()) return;
    Line("/Times-Roman findfont");
    const size_t length = CharacterCount(text);
    if (length <= longTitle)
        Line(data::Fixed(2.5 * fontSize, 6, 1) + " scalefont");
    else
        Line(data::Fixed(2.5 * fontSize * longTitle / length, 4, 0) + " scalefont");
    Line("setfont");
    Line(Point(320, 16) + "moveto");
    Line("(" + PSText(text) + ")");
    Line("dup stringwidth pop 2 div neg 0 rmoveto show");
}

void PSXAxisText(const std::string& text, int fontSize) {
    if (!Writing()) return;
    Line("/Times-Roman findfont");
    Line(data::Fixed(1.7 * fontSize, 6, 1) + " scalefont");
    Line("setfont");
    Line(Point(345, 468) + "moveto");
    Line("(" + PSText(text) + ")");
    Line("dup stringwidth pop 2 div neg 0 rmoveto show");
}

void PSYAxisText(const std::string& text, int fontSize) {
    if (!Writing()) return;
    Line("newpath");
    Line("/Times-Roman findfont");
    Line(data::Fixed(1.7 * fontSize, 6, 1) + " scalefont");
    Line("setfont");
    Line(Point(16, 238) + "translate");
    Line("90 rotate");
    Line("(" + PSText(text) + ")");
    Line("dup stringwidth pop 2 div neg 0 moveto show");
    Line("-90 rotate");
    Line("-" + data::Fixed(PSX(16), 2, 1) + " -" + data::Fixed(PSY(238), 2, 1) + " translate");
}

void PSSegment(double x1, double y1, double x2, double y2) {
    if (!Writing()) return;
    Line("newpath");
    Line(Point(x1, y1) + "moveto");
    Line(Point(x2, y2) + "lineto");
    Line("stroke");
}

void PSMarker(int type, int size, double x, double y) {
    if (!Writing() || type == MarkerNone) return;
    Line("newpath");
    if (size == 0) {
        Line(Point(x, y) + "moveto");
        Line(Point(x, y) + "lineto");
    } else if (type == MarkerCircle) {
        Line(Point(x, y) + data::Fixed(size * pointsPerPixel, 2, 1) + " 0 360 arc");
    } else {
        for (const MarkerStroke& stroke : MarkerStrokes(type, size)) {
            const char* verb = "moveto";
            for (const auto& [dx, dy] : stroke.points) {
                Line(Point(x + dx, y + dy) + verb);
                verb = "lineto";
            }
            if (stroke.closed) Line("closepath");
        }
    }
    Line("stroke");
}

void PSBar(double x1, double y1, double x2, double y2, int colour) {
    if (!Writing()) return;
    auto outline = [&] {
        Line(Point(x1, y1) + "moveto");
        Line(Point(x2, y1) + "lineto");
        Line(Point(x2, y2) + "lineto");
        Line(Point(x1, y2) + "lineto");
    };
    Line("newpath");
    Line(data::Fixed(colour / 15.0, 5, 2) + " setgray");
    outline();
    Line("closepath gsave fill");
    Line("grestore 0 setgray 0.5 setlinewidth");
    outline();
    Line("closepath stroke");
}

void PSTextAt(double x, double y, const std::string& text) {
    if (!Writing()) return;
    Line("/Times-Roman findfont");
    Line("10 scalefont setfont");
    Line(Point(x, y) + "moveto");
    Line("(" + PSText(text) + ") show");
}

std::vector<MarkerStroke> MarkerStrokes(int type, int h) {
    const int d = static_cast<int>(std::lround(0.707 * h));
    const int half = static_cast<int>(std::lround(0.866 * h));
    const int low = static_cast<int>(std::lround(h / 1.99999));
    const MarkerStroke cross1{{{-d, -d}, {d, d}}, false}, cross2{{{-d, d}, {d, -d}}, false};
    const MarkerStroke plus1{{{-h, 0}, {h, 0}}, false}, plus2{{{0, -h}, {0, h}}, false};
    switch (type) {
        case MarkerCross:
            return {cross1, cross2};
        case MarkerPlus:
            return {plus1, plus2};
        case MarkerStar:
            return {cross1, cross2, plus1, plus2};
        case MarkerDelta:
            return {{{{0, -h}, {half, low}, {-half, low}}, true}};
        case MarkerNapla:
            return {{{{0, h}, {half, -low}, {-half, -low}}, true}};
        case MarkerSquare:
            return {{{{-d, -d}, {d, -d}, {d, d}, {-d, d}}, true}};
        case MarkerDiamond:
            return {{{{0, -h}, {h, 0}, {0, h}, {-h, 0}}, true}};
        default:
            return {};
    }
}

}  // namespace korw::plot
