#include "plot/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "data/errors.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "plot/canvas.h"
#include "plot/frame.h"
#include "plot/postscript.h"
#include "plot/settings.h"

namespace korw::plot {

namespace {

constexpr size_t itemChars = 8;  // limit and step items are read from their first 8 characters
constexpr double unset = std::numeric_limits<double>::quiet_NaN();

// Restores the settings when a plot ends, whichever way it ends.
struct SettingsGuard {
    SettingsGuard() { SaveSettings(); }
    ~SettingsGuard() { RestoreSettings(); }
};

std::vector<std::string> SplitItems(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        items.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

// "name=items": the name and the items after "="; no "=" gives no items.
void SplitArgument(const std::string& arg, std::string& name, std::vector<std::string>& items) {
    const size_t eq = arg.find('=');
    name = data::UpperName(arg.substr(0, eq));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    items.clear();
    if (eq != std::string::npos) items = SplitItems(arg.substr(eq + 1));
}

// An item as a number; NaN when empty or unreadable.
double NumberItem(const std::string& item) {
    std::string text = item.substr(0, itemChars);
    while (!text.empty() && text.front() == ' ') text.erase(0, 1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) return unset;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value) ? value : unset;
}

double Item(const std::vector<std::string>& items, size_t i) {
    return i < items.size() ? NumberItem(items[i]) : unset;
}

const data::Vector* FindKind(const std::string& name, uint8_t kind) {
    const int index = data::FindVector(name);
    if (index == 0 || data::Entry(index).kind != kind) return nullptr;
    return &data::Entry(index);
}

const data::Vector* RequireVariate(const std::string& name) {
    const data::Vector* v = FindKind(name, data::VariateKind);
    if (v == nullptr) data::ReportError("Variate " + name + " does not exist");
    return v;
}

bool SameLength(const data::Vector& a, const data::Vector& b) {
    if (a.length == b.length) return true;
    data::ReportError("LengthOf('" + a.name + "')<>LengthOf('" + b.name + "')");
    return false;
}

struct Range {
    double min = 0, max = 0;
    int count = 0;  // present units with a value
};

Range ValueRange(const data::Vector& v) {
    Range r;
    for (int32_t unit = 1; unit <= v.length; ++unit) {
        const float value = v.variate[unit];
        if (!data::UnitIncluded(unit) || value == data::MissingValue) continue;
        if (r.count == 0 || value < r.min) r.min = value;
        if (r.count == 0 || value > r.max) r.max = value;
        ++r.count;
    }
    return r;
}

// Settles the limits and steps of one axis from its items and the vector's values.
void AxisLimits(const std::vector<std::string>& items, const data::Vector& v, bool widen,
                double& lower, double& upper, double& labelStep) {
    const Range r = ValueRange(v);
    const double margin = widen && r.count > 0 ? 0.5 * (r.max - r.min) / r.count : 0;
    lower = Item(items, 0);
    upper = Item(items, 2);
    if (std::isnan(lower)) lower = r.min - margin;
    if (std::isnan(upper)) upper = r.max + margin;
    const double step = Item(items, 1);
    labelStep = std::isnan(step) ? NiceStep(upper - lower) : step;
}

// One value per group (factor level, level 0 first), or one for every point.
struct GroupTable {
    const data::Vector* factor = nullptr;
    std::vector<int> codes;
    int At(int32_t unit) const {
        if (factor == nullptr) return codes.front();
        const size_t level = factor->factor[unit];
        return level < codes.size() ? codes[level] : codes.back();
    }
};

// Reads a colour or marker argument; `code` turns an item into its number (-1 when invalid).
bool ReadGroups(const std::string& arg, int fallback, int (*code)(const std::string&),
                const char* what, const data::Vector& x, GroupTable& table) {
    table.codes = {fallback};
    if (arg.empty()) return true;
    std::vector<std::string> items;
    if (arg.find('=') == std::string::npos) {
        items = {arg};
    } else {
        std::string name;
        SplitArgument(arg, name, items);
        table.factor = FindKind(name, data::FactorKind);
        if (table.factor == nullptr) {
            data::ReportError("Factor " + name + " does not exist");
            return false;
        }
        if (!SameLength(x, *table.factor)) return false;
    }
    table.codes.clear();
    for (const std::string& item : items) {
        const int c = code(data::UpperName(item));
        if (c < 0) {
            data::ReportError(std::string("Invalid ") + what + " " + item);
            return false;
        }
        table.codes.push_back(c);
    }
    return true;
}

// The marker argument: "#" widens the limits, a first item beginning with "L" joins the
// points. The rest of that item is its marker when it names one ("L3"); otherwise ("L",
// "LINE") the item keeps the current marker.
std::string MarkerOptions(std::string arg, bool& widen) {
    PlotSettings& s = Settings();
    widen = arg == "#";
    if (widen) return "";
    const size_t eq = arg.find('=');
    const size_t first = eq == std::string::npos ? 0 : eq + 1;
    if (first < arg.size() && (arg[first] == 'L' || arg[first] == 'l')) {
        s.joinPoints = true;
        const size_t end = std::min(arg.find(',', first), arg.size());
        const std::string rest = arg.substr(first + 1, end - first - 1);
        const bool named = !rest.empty() && MarkerCode(data::UpperName(rest)) >= 0;
        arg.replace(first, end - first, named ? rest : std::to_string(s.markerType));
    }
    return arg;
}

bool LimitsInOrder() {
    const PlotSettings& s = Settings();
    if (!(s.xUpper > s.xLower))
        data::ReportError("xUpper<=xLower");
    else if (!(s.yUpper > s.yLower))
        data::ReportError("yUpper<=yLower");
    return data::ErrorFree;
}

void DrawPoints(const data::Vector& x, const data::Vector& y, const GroupTable& colours,
                const GroupTable& markers) {
    PlotSettings& s = Settings();
    s.lastPointValid = false;
    for (int32_t unit = 1; unit <= x.length; ++unit) {
        if (!data::UnitIncluded(unit)) continue;
        const float xv = x.variate[unit], yv = y.variate[unit];
        if (xv == data::MissingValue || yv == data::MissingValue) {
            s.lastPointValid = false;  // a missing point breaks the line
            continue;
        }
        const int colour = colours.At(unit);
        const double px = ScreenX(xv), py = ScreenY(yv);
        if (s.joinPoints && s.lastPointValid) {
            ScreenLine(std::lround(s.lastX), std::lround(s.lastY), std::lround(px), std::lround(py),
                       colour);
            PSSegment(s.lastX, s.lastY, px, py);
        }
        DrawMarker(xv, yv, markers.At(unit), s.markerSize, colour);
        s.lastX = px, s.lastY = py, s.lastPointValid = true;
    }
}

// Weights of the present units: none negative or missing, not all zero.
bool CheckWeights(const data::Vector& w) {
    bool anyPositive = false;
    for (int32_t unit = 1; unit <= w.length; ++unit) {
        if (!data::UnitIncluded(unit)) continue;
        const float value = w.variate[unit];
        if (value == data::MissingValue || value < 0) {
            data::ReportError("Negative or missing weight");
            return false;
        }
        anyPositive = anyPositive || value > 0;
    }
    if (!anyPositive) data::ReportError("All weights are zero");
    return anyPositive;
}

double UnitWeight(const data::Vector* w, int32_t unit) {
    return w == nullptr ? 1 : w->variate[unit];
}

constexpr int maxBins = 255;

// Bins 1..k of a variate (element 0 unused); sets the x axis of the histogram.
bool VariateBins(const data::Vector& v, const data::Vector* w,
                 const std::vector<std::string>& items, std::vector<double>& bins) {
    PlotSettings& s = Settings();
    const Range r = ValueRange(v);
    s.xLower = std::isnan(Item(items, 0)) ? r.min : Item(items, 0);
    s.xUpper = std::isnan(Item(items, 2)) ? r.max : Item(items, 2);
    if (!(s.xUpper > s.xLower)) {
        data::ReportError("xUpper<=xLower");
        return false;
    }
    const double given = Item(items, 1);
    // A given count is clamped before it is rounded, so that no value overflows the integer.
    long k = !std::isnan(given) && given != 0
                 ? std::lround(std::min(std::fabs(given), static_cast<double>(maxBins)))
                 : std::lround(std::sqrt(r.count + 1.0));
    k = std::clamp(k, 1L, long(maxBins));
    const double width = (s.xUpper - s.xLower) / k;
    s.xTickStep = width;
    s.xLabelStep = width;
    if (k > 100)
        s.xLabelStep = 20 * width;
    else if (k > 50)
        s.xLabelStep = 10 * width;
    else if (k > 25)
        s.xLabelStep = 5 * width;
    else if (k > 10)
        s.xLabelStep = 2 * width;
    bins.assign(k + 1, 0);
    for (int32_t unit = 1; unit <= v.length; ++unit) {
        const float x = v.variate[unit];
        if (!data::UnitIncluded(unit) || x == data::MissingValue) continue;
        if (x < s.xLower || x > s.xUpper) continue;
        const long bin =
            std::min(k, long(std::trunc((x - s.xLower) * k / (s.xUpper - s.xLower))) + 1);
        bins[bin] += UnitWeight(w, unit);
    }
    return true;
}

// Bins of a factor's levels; level 0 gets bin 0, shown only when asked for.
std::vector<double> FactorBins(const data::Vector& f, const data::Vector* w, bool showLevelZero) {
    PlotSettings& s = Settings();
    const int levels = f.levels;
    s.xUpper = levels + 0.5;
    s.xLower = showLevelZero ? -0.5 : 0.5;
    s.xDecimals = 0;
    s.xTickStep = 0;
    s.xLabelStep = levels > 120 ? 50 : levels > 60 ? 10 : levels > 20 ? 5 : 1;
    std::vector<double> bins(levels + 1, 0);
    for (int32_t unit = 1; unit <= f.length; ++unit)
        if (data::UnitIncluded(unit)) bins[f.factor[unit]] += UnitWeight(w, unit);
    // The bars are drawn for bins 1.. from xLower on, so level 0 moves into bin 1 when shown.
    if (showLevelZero) bins.insert(bins.begin(), 0);
    return bins;
}

// y limits and numbers of a histogram from its largest bin.
void HistogramYAxis(const std::vector<double>& bins, bool weighted) {
    PlotSettings& s = Settings();
    double largest = 0;
    for (size_t i = 1; i < bins.size(); ++i) largest = std::max(largest, bins[i]);
    s.yLower = 0;
    if (weighted) {
        s.yUpper = largest > 0 ? 1.02 * largest : 1;  // no weight inside the limits
        double step = std::pow(10.0, std::lround(std::log10(s.yUpper))) / 5;
        if (s.yUpper < 3 * step) step /= 2;
        s.yLabelStep = step;
        return;
    }
    s.yUpper = largest + 1;
    s.yDecimals = 0;
    // Count steps: the step grows with the largest count, always with grid lines.
    constexpr struct {
        double above, step;
    } steps[] = {
        {1200000, 500000}, {600000, 100000}, {120000, 50000}, {60000, 10000},
        {12000, 5000},     {6000, 1000},     {1200, 500},     {600, 100},
        {120, 50},         {60, 10},         {20, 5},
    };
    s.yLabelStep = -1;
    for (const auto& [above, step] : steps)
        if (s.yUpper > above) {
            s.yLabelStep = -step;
            break;
        }
}

}  // namespace

double NiceStep(double range) {
    if (!(range > 0) || !std::isfinite(range)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(range)));
    for (double factor : {0.1, 0.2, 0.5, 1.0, 2.0})
        if (range / (factor * power) <= 10) return factor * power;
    return 5 * power;
}

void Plot(const std::string& xArg, const std::string& yArg, const std::string& frameText,
          const std::string& colourArg, const std::string& markerArg) {
    if (!data::Enter("Plot")) return;
    SettingsGuard guard;
    PlotSettings& s = Settings();
    std::string xName, yName;
    std::vector<std::string> xItems, yItems;
    SplitArgument(xArg, xName, xItems);
    SplitArgument(yArg, yName, yItems);
    const data::Vector* x = RequireVariate(xName);
    if (x == nullptr) return;
    const data::Vector* y = RequireVariate(yName);
    if (y == nullptr || !SameLength(*x, *y)) return;
    bool widen = false;
    const std::string markers = MarkerOptions(markerArg, widen);
    GroupTable colourTable, markerTable;
    if (!ReadGroups(colourArg, s.markerColour, ColourCode, "colour", *x, colourTable)) return;
    if (!ReadGroups(markers, s.markerType, MarkerCode, "marker", *x, markerTable)) return;
    AxisLimits(xItems, *x, widen, s.xLower, s.xUpper, s.xLabelStep);
    AxisLimits(yItems, *y, widen, s.yLower, s.yUpper, s.yLabelStep);
    if (!LimitsInOrder()) return;
    if (!frameText.empty()) s.frameText = frameText;
    ClearBitmap();
    DrawFrame();
    DrawPoints(*x, *y, colourTable, markerTable);
}

void VarHistogram(const std::string& arg, const std::string& weight) {
    if (!data::Enter("VarHistogram")) return;
    SettingsGuard guard;
    std::string name;
    std::vector<std::string> items;
    SplitArgument(arg, name, items);
    const int index = data::FindVector(name);
    const bool isFactor = index != 0 && data::Entry(index).kind == data::FactorKind;
    const data::Vector* v = isFactor ? &data::Entry(index) : RequireVariate(name);
    if (v == nullptr) return;
    const data::Vector* w = nullptr;
    if (!weight.empty()) {
        const std::string weightName = data::UpperName(weight);
        w = RequireVariate(weightName);
        if (w == nullptr) return;
        if (w->length != v->length)
            return data::ReportError("Weight variate " + weightName + " of incorrect length");
        if (!CheckWeights(*w)) return;
    }
    std::vector<double> bins;
    if (isFactor)
        bins = FactorBins(*v, w, !items.empty());
    else if (!VariateBins(*v, w, items, bins))
        return;
    PlotSettings& s = Settings();
    if (s.frameText.empty()) {
        s.frameText = "Histogram for " + v->name;
        if (w != nullptr) s.frameText += ", weighted by " + w->name;
    }
    if (w == nullptr && s.yText.empty()) s.yText = "Count";
    HistogramYAxis(bins, w != nullptr);
    ClearBitmap();
    DrawFrame();
    const double width = isFactor ? 1 : (s.xUpper - s.xLower) / (bins.size() - 1);
    for (size_t i = 1; i < bins.size(); ++i)
        if (bins[i] > 0)
            DrawBar(s.xLower + (i - 0.9) * width, 0, s.xLower + (i - 0.1) * width, bins[i],
                    s.barColour);
}

}  // namespace korw::plot
