#include "plot/frame.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/format.h"
#include "plot/canvas.h"
#include "plot/postscript.h"
#include "plot/settings.h"

namespace korw::plot {

namespace {

// More marks than this on one axis would fill the frame solid; such a step draws nothing.
constexpr double maxMarks = 5000;
// A multiple of the step counts as inside the limits up to this part of the range, so that
// rounding does not lose the mark on the upper limit.
constexpr double edgeTolerance = 1e-9;
constexpr double numberPoints = 10;
constexpr double titlePointsPerSize = 2.5;
constexpr double axisTextPointsPerSize = 1.7;
constexpr int numberGap = 2;      // pixels between a numbered tick and its number
constexpr int numberSpacing = 4;  // pixels at least between two numbers, so each reads alone
constexpr int edgeMargin = 2;     // pixels kept free between a number and the edge of the bitmap

struct Axis {
    bool horizontal;
    double lower, upper;
};

bool Inside(double v, const Axis& axis) {
    const double slack = edgeTolerance * (axis.upper - axis.lower);
    return v >= axis.lower - slack && v <= axis.upper + slack;
}

// Mark indices are counted in integers, so very distant limits relative to the step are
// refused along with too many marks.
constexpr double maxIndex = 1e15;

bool Drawable(double step, const Axis& axis) {
    if (step == 0) return false;
    const double a = std::fabs(step);
    return (axis.upper - axis.lower) / a <= maxMarks && std::fabs(axis.lower / a) < maxIndex &&
           std::fabs(axis.upper / a) < maxIndex;
}

// One mark of an axis at value v: the tick outwards from the edge, and with `grid` a dotted
// line across the frame. Adds the PostScript stroke of both to `strokes`.
void Mark(const Axis& axis, double v, int length, bool grid,
          std::vector<PSSegmentPoints>& strokes) {
    const PlotSettings& s = Settings();
    if (axis.horizontal) {
        const double px = ScreenX(v);
        const int x = static_cast<int>(std::lround(px));
        ScreenLine(x, s.bottom, x, s.bottom + length, s.axisColour);
        if (grid) ScreenDottedLine(x, s.top, x, s.bottom, s.axisColour);
        strokes.push_back(
            {px, grid ? double(s.top) : double(s.bottom), px, double(s.bottom + length)});
    } else {
        const double py = ScreenY(v);
        const int y = static_cast<int>(std::lround(py));
        ScreenLine(s.left, y, s.left - length, y, s.axisColour);
        if (grid) ScreenDottedLine(s.right, y, s.left, y, s.axisColour);
        strokes.push_back(
            {grid ? double(s.right) : double(s.left), py, double(s.left - length), py});
    }
}

void PlainTicks(const Axis& axis, double step) {
    if (!Drawable(step, axis)) return;
    const double a = std::fabs(step);
    std::vector<PSSegmentPoints> strokes;
    for (double i = std::ceil(axis.lower / a - edgeTolerance);
         i * a <= axis.upper + a * edgeTolerance; ++i)
        if (Inside(i * a, axis)) Mark(axis, i * a, Settings().tickLength, step < 0, strokes);
    PSTicks(strokes, step < 0);
}

// An axis number on the bitmap: its mark index (the value is index times the step) and the box
// it fills.
struct Number {
    long index;
    TextBox box;
};

// Every `every`-th number: the multiples of `every` times the step, or counted from the first
// number when fewer than two of those are on the axis.
std::vector<TextBox> EveryNth(const std::vector<Number>& numbers, long every) {
    const auto rest = [every](const Number& n) { return (n.index % every + every) % every; };
    const auto multiple = [&rest](const Number& n) { return rest(n) == 0; };
    const long from =
        std::count_if(numbers.begin(), numbers.end(), multiple) >= 2 ? 0 : rest(numbers.front());
    std::vector<TextBox> kept;
    for (const Number& n : numbers)
        if (rest(n) == from) kept.push_back(n.box);
    return kept;
}

bool StandApart(const std::vector<TextBox>& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (Overlap(boxes[i], boxes[j], numberSpacing)) return false;
    return true;
}

// The numbers of an axis thinned to every 1st, 2nd, 5th, 10th, 20th, 50th, ..., the first of
// these that keeps any two apart; the numbers kept are then multiples of a round multiple of the
// step.
std::vector<TextBox> Thinned(const std::vector<Number>& numbers) {
    if (numbers.empty()) return {};
    for (long power = 1;; power *= 10)
        for (long f : {1, 2, 5}) {
            std::vector<TextBox> kept = EveryNth(numbers, f * power);
            if (kept.size() <= 1 || StandApart(kept)) return kept;
        }
}

// A number that meets one drawn before (the lowest y number and the first x number share the
// corner of the frame) is moved up clear of it; when that makes it meet another, it is left out.
bool Clear(TextBox& box, const std::vector<TextBox>& before, const std::vector<TextBox>& others) {
    const auto meets = [&box](const TextBox& other) { return Overlap(box, other, numberSpacing); };
    for (const TextBox& other : before)
        if (Overlap(box, other, numberSpacing))
            box = Moved(box, 0, other.top - numberSpacing - box.bottom);
    return InsideBitmap(box) && std::none_of(before.begin(), before.end(), meets) &&
           std::none_of(others.begin(), others.end(), meets);
}

// Draws the numbers of one axis that stay after thinning and are clear of the numbers already on
// the bitmap (`placed`, where the numbers drawn here are added).
void ScreenNumbers(const std::vector<Number>& numbers, double pixels, int colour,
                   std::vector<TextBox>& placed) {
    std::vector<TextBox> kept = Thinned(numbers);
    const std::vector<TextBox> before = placed;
    for (size_t i = 0; i < kept.size(); ++i) {
        TextBox box = kept[i];
        std::vector<TextBox> others = kept;
        others.erase(others.begin() + static_cast<long>(i));
        if (!Clear(box, before, others)) continue;
        kept[i] = box;
        ScreenText(box.left, box.top, box.text, pixels, Anchor::TopLeft, colour);
        placed.push_back(box);
    }
}

// The numbered marks of an axis. The picture file gets every number at its tick; the bitmap gets
// them shifted inside its edges and thinned where they would run into each other.
void NumberedTicks(const Axis& axis, double step, int decimals, std::vector<TextBox>& placed) {
    if (!Drawable(step, axis)) return;
    const PlotSettings& s = Settings();
    const double a = std::fabs(step);
    std::vector<PSSegmentPoints> strokes;
    std::vector<PSLabel> labels;
    std::vector<Number> numbers;
    const double pixels = PixelsForPoints(numberPoints);
    const int gap = s.labelTickLength + numberGap;
    const long first = static_cast<long>(std::trunc(axis.lower / a)) - 1;
    const long last = static_cast<long>(std::trunc(axis.upper / a)) + 1;
    for (long i = first; i <= last; ++i) {
        const double v = i * a;
        if (!Inside(v, axis)) continue;
        Mark(axis, v, s.labelTickLength, step < 0, strokes);
        const std::string text = AxisNumber(v, decimals);
        if (axis.horizontal) {
            const double px = ScreenX(v);
            numbers.push_back(
                {i, MeasureText(px, s.bottom + gap, text, pixels, Anchor::TopCentre)});
            labels.push_back({px, s.bottom + gap + pixels * 0.8, text});
        } else {
            const double py = ScreenY(v);
            numbers.push_back(
                {i, MeasureText(s.left - gap, py, text, pixels, Anchor::MiddleRight)});
            labels.push_back({double(s.left - gap), py + pixels * 0.3, text});
        }
        // An end number that would stand out over the edge of the bitmap is set inside it.
        numbers.back().box = MovedInside(numbers.back().box, edgeMargin);
    }
    ScreenNumbers(numbers, pixels, s.axisColour, placed);
    PSTicks(strokes, step < 0);
    if (axis.horizontal)
        PSXNumbers(labels);
    else
        PSYNumbers(labels);
}

bool Shown(const std::string& text) {
    return !text.empty() && text != " ";
}

void Texts() {
    const PlotSettings& s = Settings();
    if (Shown(s.frameText)) {
        ScreenText(s.frameTextX, s.frameTextY, s.frameText,
                   PixelsForPoints(titlePointsPerSize * s.frameTextSize), Anchor::TopCentre,
                   s.frameColour);
        PSTitle(s.frameText, s.frameTextSize);
    }
    if (Shown(s.xText)) {
        ScreenText(s.xTextX, s.xTextY, s.xText,
                   PixelsForPoints(axisTextPointsPerSize * s.xTextSize), Anchor::BottomCentre,
                   s.frameColour);
        PSXAxisText(s.xText, s.xTextSize);
    }
    if (Shown(s.yText)) {
        ScreenText(s.yTextX, s.yTextY, s.yText,
                   PixelsForPoints(axisTextPointsPerSize * s.yTextSize), Anchor::MiddleLeftUpwards,
                   s.frameColour);
        PSYAxisText(s.yText, s.yTextSize);
    }
}

}  // namespace

int AxisDecimals(int setting, double lower, double upper) {
    if (setting >= 0) return setting;
    const double range = upper - lower;
    if (range > 40) return 0;
    return 2 - static_cast<int>(std::lround(std::log10(range)));
}

std::string AxisNumber(double value, int decimals) {
    const std::string text = data::Fixed(value, 20, decimals);
    return text.substr(text.find_first_not_of(' '));
}

void DrawFrame() {
    const PlotSettings& s = Settings();
    ScreenLine(s.left, s.top, s.right, s.top, s.frameColour);
    ScreenLine(s.right, s.top, s.right, s.bottom, s.frameColour);
    ScreenLine(s.right, s.bottom, s.left, s.bottom, s.frameColour);
    ScreenLine(s.left, s.bottom, s.left, s.top, s.frameColour);
    PSFrameRectangle(s.left, s.top, s.right, s.bottom);
    const Axis x{true, s.xLower, s.xUpper}, y{false, s.yLower, s.yUpper};
    std::vector<TextBox> numbers;  // on the bitmap so far
    PlainTicks(x, s.xTickStep);
    NumberedTicks(x, s.xLabelStep, AxisDecimals(s.xDecimals, s.xLower, s.xUpper), numbers);
    PlainTicks(y, s.yTickStep);
    NumberedTicks(y, s.yLabelStep, AxisDecimals(s.yDecimals, s.yLower, s.yUpper), numbers);
    Texts();
}

}  // namespace korw::plot
