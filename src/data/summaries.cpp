#include "data/summaries.h"

#include <cmath>

#include "data/errors.h"
#include "data/restrict.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

// Calls use(value) for every present, non-missing value of the variate; the index or 0.
template <typename Use>
int EachValue(const char* procedure, const std::string& name, Use use) {
    if (!Enter(procedure)) return 0;
    std::string n = name;
    int index = LookUpVariate(n);
    if (index == 0) return 0;
    const Vector& v = Entry(index);
    for (int32_t u = 1; u <= v.length; ++u)
        if (UnitIncluded(u) && v.variate[u] != MissingValue) use(static_cast<double>(v.variate[u]));
    return index;
}

}  // namespace

int32_t UnitsPresent(const std::string& name) {
    if (!Enter("UnitsPresent")) return 0;
    std::string n = name;
    int index = LookUp(n);
    if (index == 0) return 0;
    const Vector& v = Entry(index);
    int32_t count = 0;
    for (int32_t u = 1; u <= v.length; ++u)
        if (UnitIncluded(u) && (v.kind == FactorKind || v.variate[u] != MissingValue)) ++count;
    return count;
}

double Sum(const std::string& variate) {
    double sum = 0;
    EachValue("Sum", variate, [&](double x) { sum += x; });
    return sum;
}

double Mean(const std::string& variate) {
    double sum = 0;
    long long count = 0;
    EachValue("Mean", variate, [&](double x) { sum += x, ++count; });
    return count == 0 ? 0 : sum / count;
}

double Max(const std::string& variate) {
    double best = -1.0E300;
    long long count = 0;
    EachValue("Max", variate, [&](double x) { best = std::fmax(best, x), ++count; });
    return count == 0 ? 0 : best;
}

double Min(const std::string& variate) {
    double best = 1.0E300;
    long long count = 0;
    EachValue("Min", variate, [&](double x) { best = std::fmin(best, x), ++count; });
    return count == 0 ? 0 : best;
}

double Variance(const std::string& variate) {
    double sum = 0;
    long long count = 0;
    if (EachValue("Variance", variate, [&](double x) { sum += x, ++count; }) == 0 || count < 2)
        return 0;
    double mean = sum / count, squares = 0;
    EachValue("Variance", variate, [&](double x) { squares += (x - mean) * (x - mean); });
    return squares / (count - 1);
}

double Correlation(const std::string& x, const std::string& y) {
    if (!Enter("Correlation")) return 0;
    std::string nx = x, ny = y;
    int ix = LookUpVariate(nx);
    if (ix == 0) return 0;
    int iy = LookUpVariate(ny);
    if (iy == 0) return 0;
    const Vector& vx = Entry(ix);
    const Vector& vy = Entry(iy);
    if (vx.length != vy.length) {
        ReportError(nx + " and " + ny + " should be of the same length");
        return 0;
    }
    auto used = [&](int32_t u) {
        return UnitIncluded(u) && vx.variate[u] != MissingValue && vy.variate[u] != MissingValue;
    };
    double sx = 0, sy = 0;
    long long n = 0;
    for (int32_t u = 1; u <= vx.length; ++u)
        if (used(u)) sx += vx.variate[u], sy += vy.variate[u], ++n;
    if (n < 2) return 0;
    double mx = sx / n, my = sy / n, sxx = 0, syy = 0, sxy = 0;
    for (int32_t u = 1; u <= vx.length; ++u) {
        if (!used(u)) continue;
        double dx = vx.variate[u] - mx, dy = vy.variate[u] - my;
        sxx += dx * dx, syy += dy * dy, sxy += dx * dy;
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

}  // namespace korw::data
