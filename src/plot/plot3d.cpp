#include "plot/plot3d.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "data/errors.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "plot/canvas.h"
#include "plot/frame.h"
#include "plot/settings.h"

namespace korw::plot {

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

constexpr double turnStep = 0.03;  // radians per cursor key
constexpr double zoomStep = 1.03;  // view scale factor per +/- key
constexpr double centreX = 319.5, centreY = 239.5;
constexpr double pixelsPerUnit = 125;                 // half the box side at view scale 1
constexpr double firstTilt = -1.15, firstTurn = 0.6;  // an oblique first view, z upwards
constexpr double orthogonalCos = 0.995;  // an axis this close to the line of sight points at you
constexpr int maxCells = 50;
constexpr double unset = std::numeric_limits<double>::quiet_NaN();

enum class Kind { None, Points, Histogram };

struct View {
    Matrix rotation{};
    double scale = 1;
    Kind last = Kind::None;
    std::string a, b, c, d;  // arguments of the last picture
    std::array<std::string, 3> names;
};
View view;

Matrix Multiply(const Matrix& p, const Matrix& q) {
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += p[i][k] * q[k][j];
    return r;
}

Matrix AboutX(double a) {
    return {{{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}}};
}
Matrix AboutY(double a) {
    return {{{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}}};
}
Matrix AboutZ(double a) {
    return {{{std::cos(a), -std::sin(a), 0}, {std::sin(a), std::cos(a), 0}, {0, 0, 1}}};
}

void FirstView() {
    view.rotation = Multiply(AboutX(firstTilt), AboutZ(firstTurn));
    view.scale = 1;
}

struct Screen {
    double x, y;
};

// A point of the box [-1, 1]^3 on the screen: rotated, then seen along the z axis.
Screen Project(double u, double v, double w) {
    if (view.rotation[0][0] == 0 && view.rotation[1][1] == 0 && view.rotation[2][2] == 0)
        FirstView();
    const Matrix& r = view.rotation;
    const double k = pixelsPerUnit / view.scale;
    return {centreX + k * (r[0][0] * u + r[0][1] * v + r[0][2] * w),
            centreY - k * (r[1][0] * u + r[1][1] * v + r[1][2] * w)};
}

int Px(double v) {
    return static_cast<int>(std::lround(v));
}

void Line3(const std::array<double, 3>& p, const std::array<double, 3>& q, int colour) {
    const Screen a = Project(p[0], p[1], p[2]), b = Project(q[0], q[1], q[2]);
    ScreenLine(Px(a.x), Px(a.y), Px(b.x), Px(b.y), colour);
}

struct Axis {
    const data::Vector* v = nullptr;
    double lower = 0, upper = 0, step = unset;
};

double NumberItem(const std::string& item) {
    std::string text = item.substr(0, 8);
    text.erase(0, text.find_first_not_of(' '));
    if (text.empty()) return unset;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value) ? value : unset;
}

// Reads "name=lower,step,upper" and settles the limits from the values present.
bool ReadAxis(const std::string& arg, const char* letter, Axis& axis, std::string& name) {
    const size_t eq = arg.find('=');
    name = data::UpperName(arg.substr(0, eq));
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    std::vector<double> items;
    if (eq != std::string::npos) {
        std::string rest = arg.substr(eq + 1);
        for (size_t start = 0;;) {
            const size_t comma = rest.find(',', start);
            items.push_back(NumberItem(rest.substr(start, comma - start)));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    items.resize(3, unset);
    const int index = data::FindVector(name);
    if (index == 0 || data::Entry(index).kind != data::VariateKind) {
        data::ReportError("Variate " + name + " does not exist");
        return false;
    }
    axis.v = &data::Entry(index);
    bool any = false;
    double lo = 0, hi = 0;
    for (int32_t unit = 1; unit <= axis.v->length; ++unit) {
        const float x = axis.v->variate[unit];
        if (!data::UnitIncluded(unit) || x == data::MissingValue) continue;
        lo = any ? std::min<double>(lo, x) : x;
        hi = any ? std::max<double>(hi, x) : x;
        any = true;
    }
    if (!any) {
        data::ReportError(name + " has no values");
        return false;
    }
    axis.lower = std::isnan(items[0]) ? lo : items[0];
    axis.upper = std::isnan(items[2]) ? hi : items[2];
    axis.step = items[1];
    if (!(axis.upper > axis.lower)) {
        data::ReportError(std::string(letter) + "Upper<=" + letter + "Lower");
        return false;
    }
    return true;
}

bool SameLengths(const Axis& first, const Axis& other) {
    if (other.v->length == first.v->length) return true;
    data::ReportError(other.v->name + " of incorrect length");
    return false;
}

double Unit(const Axis& axis, double value) {
    return 2 * (value - axis.lower) / (axis.upper - axis.lower) - 1;
}

// The lines of the view hint in the top left corner, each with the y of its top.
struct HintLine {
    std::string text;
    double y;
};
constexpr double hintX = 4, hintY = 2;
constexpr double lineSpacing = 1.25;  // font sizes from line to line: one font height and a little
constexpr double labelSpacing = 6;    // pixels at least between two labels, so each reads alone

std::vector<HintLine> HintLines() {
    const std::string hint = ViewHint();
    const size_t newline = hint.find('\n');
    std::vector<HintLine> lines{{hint.substr(0, newline), hintY}};
    if (newline != std::string::npos)
        lines.push_back({hint.substr(newline + 1), hintY + PixelsForPoints(10) * lineSpacing});
    return lines;
}

bool Free(const TextBox& box, const std::vector<TextBox>& placed) {
    return InsideBitmap(box) && std::none_of(placed.begin(), placed.end(),
                                             [&](const TextBox& p) { return Overlap(box, p); });
}

// A label goes where it is asked for when that place is free; else, where the box's corners and
// edges bring labels together, to the nearest free place on rings around it, first away from the
// centre of the picture. False when there is none (a crowded view may lose a label).
bool Place(const TextBox& label, const std::vector<TextBox>& placed, TextBox& box) {
    constexpr double margin = 2, ringStep = 3, farthest = 240;
    constexpr int directions = 16;
    const TextBox start = MovedInside(label, margin);
    const double outward = std::atan2((start.top + start.bottom) / 2 - centreY,
                                      (start.left + start.right) / 2 - centreX);
    for (double r = 0; r <= farthest; r += ringStep)
        for (int k = 0; k < (r == 0 ? 1 : directions); ++k) {
            // Directions in turn on either side of outwards: 0, +1, -1, +2, -2, ...
            const double a =
                outward + (k % 2 == 1 ? 1 : -1) * ((k + 1) / 2) * 2 * M_PI / directions;
            box = Moved(start, r * std::cos(a), r * std::sin(a));
            if (Free(box, placed)) return true;
        }
    return false;
}

// The box, its axis names at the far ends and the limits at both ends of each axis.
void DrawBox(const std::array<Axis, 3>& axes) {
    const int colour = Settings().frameColour;
    for (int i = 0; i < 3; ++i)
        for (int s = -1; s <= 1; s += 2)
            for (int t = -1; t <= 1; t += 2) {
                std::array<double, 3> p{}, q{};
                p[i] = -1, q[i] = 1;
                p[(i + 1) % 3] = q[(i + 1) % 3] = s;
                p[(i + 2) % 3] = q[(i + 2) % 3] = t;
                Line3(p, q, colour);
            }
    // Each axis is labelled along its own edge of the box, so that the labels of the three axes
    // do not meet in one corner.
    constexpr std::array<std::array<double, 3>, 3> edges = {{{0, -1, -1}, {1, 0, -1}, {-1, 1, 0}}};
    const double pixels = PixelsForPoints(10);
    std::vector<TextBox> labels;  // names first: they keep their places before the numbers
    for (int i = 0; i < 3; ++i) {
        std::array<double, 3> at = edges[i];
        at[i] = 1.15;
        const Screen p = Project(at[0], at[1], at[2]);
        labels.push_back(
            MeasureText(p.x, p.y - pixels / 2, view.names[i], pixels, Anchor::TopCentre));
    }
    for (int i = 0; i < 3; ++i) {
        const int decimals = AxisDecimals(-1, axes[i].lower, axes[i].upper);
        for (int s = -1; s <= 1; s += 2) {
            std::array<double, 3> at = edges[i];
            at[i] = 0.9 * s;
            const Screen p = Project(at[0], at[1], at[2]);
            const std::string text = AxisNumber(s < 0 ? axes[i].lower : axes[i].upper, decimals);
            labels.push_back(MeasureText(p.x, p.y + 2, text, pixels, Anchor::TopCentre));
        }
    }
    std::vector<TextBox> placed;
    for (const HintLine& line : HintLines())
        placed.push_back(MeasureText(hintX, line.y, line.text, pixels, Anchor::TopLeft));
    for (const TextBox& label : labels) {
        TextBox box;
        if (!Place(label, placed, box)) continue;
        ScreenText(box.left, box.top, box.text, pixels, Anchor::TopLeft, colour);
        placed.push_back(box);
    }
}

void DrawHint() {
    const double pixels = PixelsForPoints(10);
    for (const HintLine& line : HintLines())
        ScreenText(hintX, line.y, line.text, pixels, Anchor::TopLeft, 0);
}

}  // namespace

void Plot3d(const std::string& xArg, const std::string& yArg, const std::string& zArg,
            const std::string& colourArg) {
    if (!data::Enter("Plot3d")) return;
    std::array<Axis, 3> axes;
    std::array<std::string, 3> names;
    if (!ReadAxis(xArg, "x", axes[0], names[0]) || !ReadAxis(yArg, "y", axes[1], names[1]) ||
        !ReadAxis(zArg, "z", axes[2], names[2]))
        return;
    if (!SameLengths(axes[0], axes[1]) || !SameLengths(axes[0], axes[2])) return;
    const int colour = colourArg.empty() ? Settings().markerColour : ColourCode(colourArg);
    if (colour < 0) return data::ReportError("Invalid colour " + colourArg);
    view.last = Kind::Points;
    view.a = xArg, view.b = yArg, view.c = zArg, view.d = colourArg;
    view.names = names;
    ClearBitmap();
    DrawBox(axes);
    const PlotSettings& s = Settings();
    for (int32_t unit = 1; unit <= axes[0].v->length; ++unit) {
        if (!data::UnitIncluded(unit)) continue;
        std::array<double, 3> p{};
        bool inside = true;
        for (int i = 0; i < 3; ++i) {
            const float value = axes[i].v->variate[unit];
            p[i] = Unit(axes[i], value);
            inside = inside && value != data::MissingValue && std::fabs(p[i]) <= 1;
        }
        if (!inside) continue;
        const Screen q = Project(p[0], p[1], p[2]);
        ScreenMarker(s.markerType, s.markerSize, Px(q.x), Px(q.y), colour);
    }
    DrawHint();
}

void VarHistogram3d(const std::string& xArg, const std::string& yArg) {
    if (!data::Enter("VarHistogram3d")) return;
    std::array<Axis, 3> axes;
    std::array<std::string, 3> names;
    if (!ReadAxis(xArg, "x", axes[0], names[0]) || !ReadAxis(yArg, "y", axes[1], names[1])) return;
    if (!SameLengths(axes[0], axes[1])) return;
    int present = 0;
    for (int32_t unit = 1; unit <= axes[0].v->length; ++unit) present += data::UnitIncluded(unit);
    // Cells per axis: the middle item, else the cube root of the units present.
    std::array<int, 2> cells{};
    for (int i = 0; i < 2; ++i) {
        const double given = axes[i].step;
        const long k = !std::isnan(given) && given != 0
                           ? std::lround(std::min(std::fabs(given), static_cast<double>(maxCells)))
                           : std::lround(std::cbrt(present));
        cells[i] = static_cast<int>(std::clamp(k, 1L, long(maxCells)));
    }
    std::vector<double> count(cells[0] * cells[1], 0);
    double largest = 0;
    for (int32_t unit = 1; unit <= axes[0].v->length; ++unit) {
        if (!data::UnitIncluded(unit)) continue;
        std::array<int, 2> cell{};
        bool inside = true;
        for (int i = 0; i < 2; ++i) {
            const float value = axes[i].v->variate[unit];
            inside = inside && value != data::MissingValue && value >= axes[i].lower &&
                     value <= axes[i].upper;
            if (!inside) break;
            const double part = (value - axes[i].lower) / (axes[i].upper - axes[i].lower);
            cell[i] = std::min(cells[i] - 1, static_cast<int>(part * cells[i]));
        }
        if (!inside) continue;
        double& c = count[cell[0] * cells[1] + cell[1]];
        largest = std::max(largest, ++c);
    }
    axes[2].lower = 0, axes[2].upper = largest + 1;
    names[2] = "Count";
    view.last = Kind::Histogram;
    view.a = xArg, view.b = yArg;
    view.names = names;
    ClearBitmap();
    DrawBox(axes);
    const int colour = Settings().barColour;
    for (int i = 0; i < cells[0]; ++i)
        for (int j = 0; j < cells[1]; ++j) {
            const double c = count[i * cells[1] + j];
            if (c <= 0) continue;
            const double u0 = -1 + 2 * (i + 0.1) / cells[0], u1 = -1 + 2 * (i + 0.9) / cells[0];
            const double v0 = -1 + 2 * (j + 0.1) / cells[1], v1 = -1 + 2 * (j + 0.9) / cells[1];
            const double top = Unit(axes[2], c);
            const std::array<std::array<double, 2>, 4> corners = {
                {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}}};
            for (int k = 0; k < 4; ++k) {
                const auto& p = corners[k];
                const auto& q = corners[(k + 1) % 4];
                Line3({p[0], p[1], -1}, {p[0], p[1], top}, colour);
                Line3({p[0], p[1], top}, {q[0], q[1], top}, colour);
                Line3({p[0], p[1], -1}, {q[0], q[1], -1}, colour);
            }
        }
    DrawHint();
}

bool TurnView(ViewKey key) {
    if (view.last == Kind::None) return false;
    switch (key) {
        case ViewKey::Down:
            view.rotation = Multiply(AboutX(turnStep), view.rotation);
            break;
        case ViewKey::Up:
            view.rotation = Multiply(AboutX(-turnStep), view.rotation);
            break;
        case ViewKey::Right:
            view.rotation = Multiply(AboutY(turnStep), view.rotation);
            break;
        case ViewKey::Left:
            view.rotation = Multiply(AboutY(-turnStep), view.rotation);
            break;
        case ViewKey::ZoomIn:
            view.scale /= zoomStep;
            break;
        case ViewKey::ZoomOut:
            view.scale *= zoomStep;
            break;
    }
    if (view.last == Kind::Points)
        Plot3d(view.a, view.b, view.c, view.d);
    else
        VarHistogram3d(view.a, view.b);
    return true;
}

std::string ViewHint() {
    std::string hint = "Use cursor keys to rotate, num +/- to zoom/unzoom";
    if (view.last == Kind::None) return hint;
    Project(0, 0, 0);  // makes sure the first view is set
    for (int i = 0; i < 3; ++i)
        if (view.rotation[2][i] >= orthogonalCos)
            hint +=
                "\n" + view.names[i] +
                (view.last == Kind::Points ? "-axis is orthogonal to screen, pointing towards you"
                                           : "-axis is vertical to screen, pointing towards you");
    return hint;
}

void ResetView() {
    FirstView();
    view.last = Kind::None;
}

}  // namespace korw::plot
