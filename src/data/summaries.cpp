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

// Calls use(value) for every present, non-missing value of the variate; the index or 0.
template <typename Use>
int EachValue(const char* procedure, const std::string& name, Use use) {
    if (!Enter(procedure)) return 0;
    std::string n = name;
    int index = LookUpVariate(n);
    if (index == 0) return 0;
    const Vector& v = Entry(index);
    // The restriction is read once: nothing here changes it, and the summaries of long vectors
    // (MEAN(X) in COMPUTE) should cost one pass over the data.
    const uint8_t* present = RestrictList().data();
    const int32_t last = std::min(v.length, MaxLength());
    for (int32_t u = 1; u <= last; ++u)
        if (present[u] != 0 && v.variate[u] != MissingValue) use(static_cast<double>(v.variate[u]));
    return index;
}

// The sum and the number of the present, non-missing values of units first .. last. The
// values go to four running sums in turn (GCC vector lanes: lane j sums units j, j + 4, ...),
// added at the end, so that the additions need not wait for each other.
void SumRange(const uint8_t* present, const float* x, int32_t first, int32_t last, double& sum,
              long long& count) {
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
    sum = (part[0] + part[1]) + (part[2] + part[3]);
    count = counted;
}

// Vectors of at least this many units are summed in two halves at once, on two threads (two
// halves whatever the processor, so that the sum does not depend on the machine).
constexpr int32_t HalvedLength = 1 << 20;

void SumAndCount(const char* procedure, const std::string& name, double& sum, long long& count) {
    sum = 0;
    count = 0;
    if (!Enter(procedure)) return;
    std::string n = name;
    int index = LookUpVariate(n);
    if (index == 0) return;
    const Vector& v = Entry(index);
    const uint8_t* present = RestrictList().data();
    const float* x = v.variate.data();
    const int32_t last = std::min(v.length, MaxLength());
    if (last < HalvedLength) return SumRange(present, x, 1, last, sum, count);
    const int32_t half = last / 2;
    double low = 0, high = 0;
    long long lowCount = 0, highCount = 0;
    std::thread lower([&] { SumRange(present, x, 1, half, low, lowCount); });
    SumRange(present, x, half + 1, last, high, highCount);
    lower.join();
    sum = low + high;
    count = lowCount + highCount;
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
    long long count = 0;
    SumAndCount("Sum", variate, sum, count);
    return sum;
}

double Mean(const std::string& variate) {
    double sum = 0;
    long long count = 0;
    SumAndCount("Mean", variate, sum, count);
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
