#include "data/summaries.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>

#include "data/errors.h"
#include "data/restrict.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

// The variate a summary is of, or nullptr after the error (the procedure entered).
const Vector* SummarisedVariate(const char* procedure, const std::string& name) {
    if (!Enter(procedure)) return nullptr;
    std::string n = name;
    int index = LookUpVariate(n);
    return index == 0 ? nullptr : &Entry(index);
}

// Calls use(value) for every present, non-missing value of the variate; false after an error.
template <typename Use>
bool EachValue(const char* procedure, const std::string& name, Use use) {
    const Vector* found = SummarisedVariate(procedure, name);
    if (found == nullptr) return false;
    const Vector& v = *found;
    // The restriction is read once: nothing here changes it, and the summaries of long vectors
    // (MEAN(X) in COMPUTE) should cost one pass over the data.
    const uint8_t* present = RestrictList().data();
    const int32_t last = std::min(v.length, MaxLength());
    for (int32_t u = 1; u <= last; ++u)
        if (present[u] != 0 && v.variate[u] != MissingValue) use(static_cast<double>(v.variate[u]));
    return true;
}

struct SumCount {
    double sum = 0;
    long long count = 0;
};

// The sum and the number of the present, non-missing values of units first .. last. The
// values go to four running sums in turn (GCC vector lanes: lane j sums units j, j + 4, ...),
// added at the end, so that the additions need not wait for each other.
SumCount SumRange(const uint8_t* present, const float* x, int32_t first, int32_t last) {
    using Quad = double __attribute__((vector_size(32)));
    using FloatQuad = float __attribute__((vector_size(16)));
    using MaskQuad = int32_t __attribute__((vector_size(16)));
    Quad part{0, 0, 0, 0};
    MaskQuad used{0, 0, 0, 0};
    int32_t u = first;
    for (; u + 3 <= last; u += 4) {
        FloatQuad f;
        std::memcpy(&f, x + u, sizeof f);
        MaskQuad flags{present[u], present[u + 1], present[u + 2], present[u + 3]};
        MaskQuad use = (flags != 0) & (f != MissingValue);
        used -= use;
        part += __builtin_convertvector(use ? f : FloatQuad{0, 0, 0, 0}, Quad);
    }
    long long counted = static_cast<long long>(used[0]) + used[1] + used[2] + used[3];
    for (; u <= last; ++u) {
        if (present[u] != 0 && x[u] != MissingValue) {
            part[0] += static_cast<double>(x[u]);
            ++counted;
        }
    }
    return {(part[0] + part[1]) + (part[2] + part[3]), counted};
}

// Vectors of at least this many units are summed in two halves at once, on two threads (two
// halves whatever the processor, so that the sum does not depend on the machine).
constexpr int32_t HalvedLength = 1 << 20;

SumCount SumAndCount(const char* procedure, const std::string& name) {
    const Vector* v = SummarisedVariate(procedure, name);
    if (v == nullptr) return {};
    const uint8_t* present = RestrictList().data();
    const float* x = v->variate.data();
    const int32_t last = std::min(v->length, MaxLength());
    if (last < HalvedLength) return SumRange(present, x, 1, last);
    const int32_t half = last / 2;
    SumCount low;
    std::thread lower([&] { low = SumRange(present, x, 1, half); });
    SumCount high = SumRange(present, x, half + 1, last);
    lower.join();
    return {low.sum + high.sum, low.count + high.count};
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
    return SumAndCount("Sum", variate).sum;
}

double Mean(const std::string& variate) {
    SumCount s = SumAndCount("Mean", variate);
    return s.count == 0 ? 0 : s.sum / s.count;
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
    if (!EachValue("Variance", variate, [&](double x) { sum += x, ++count; }) || count < 2)
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
