// Elementary functions four values at a time, in GCC's portable vector types, for loops over
// units that would otherwise call the C library once per unit. Each lane follows the same
// operations, so a unit's value does not depend on which lane or block it falls in.
#pragma once

#include <cstdint>
#include <cstring>

namespace korw::distr {

// Four values at a time, so that loops of plain arithmetic run several units per instruction (two
// with SSE2, four with AVX2 where a caller is also compiled for it). A comparison gives a mask of
// -1 (holds) or 0 per lane, and subtracting masks counts. Every lane follows the scalar rules
// exactly: the same IEEE operations, and no contraction into fused multiply-adds. The functions
// are always inlined: a caller built for AVX2 passes Quad in other registers than an out-of-line
// copy built without it would expect.
inline constexpr int Lanes = 4;
using Quad = double __attribute__((vector_size(8 * Lanes)));
using QuadMask = int64_t __attribute__((vector_size(8 * Lanes)));
using FloatQuad = float __attribute__((vector_size(4 * Lanes)));

[[gnu::always_inline]] inline Quad Load(const double* p) {
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline void Save(double* p, Quad v) {
    std::memcpy(p, &v, sizeof v);
}
[[gnu::always_inline]] inline Quad Splat(double x) {
    return Quad{x, x, x, x};
}
// e^t for -708 <= t <= 709, lane by lane: t = k ln 2 + r with |r| <= ln 2 / 2 (ln 2 in two
// parts, so that k ln 2 is exact), e^r by its Taylor series to r^13 (the rest is below 5E-18),
// times 2^k made in the exponent bits. The result is within one unit in the last place of e^t.
// A single value uses the same lanes, so every unit gets the same value whichever way the units
// are taken.
[[gnu::always_inline]] inline Quad ExpLanes(Quad t) {
    constexpr double Shifter = 0x1.8p52;  // adding it rounds to an integer, kept in the low bits
    constexpr double Ln2High = 6.93147180369123816490e-01;
    constexpr double Ln2Low = 1.90821492927058770002e-10;
    constexpr double Factor[14] = {1.0,
                                   1.0,
                                   1.0 / 2,
                                   1.0 / 6,
                                   1.0 / 24,
                                   1.0 / 120,
                                   1.0 / 720,
                                   1.0 / 5040,
                                   1.0 / 40320,
                                   1.0 / 362880,
                                   1.0 / 3628800,
                                   1.0 / 39916800,
                                   1.0 / 479001600,
                                   1.0 / 6227020800};
    Quad kd = t * Splat(1.4426950408889634) + Splat(Shifter);
    QuadMask k = reinterpret_cast<QuadMask>(kd) - reinterpret_cast<QuadMask>(Splat(Shifter));
    kd -= Splat(Shifter);
    Quad r = (t - kd * Splat(Ln2High)) - kd * Splat(Ln2Low);
    Quad p = Splat(Factor[13]);
#pragma GCC unroll 16
    for (int i = 12; i >= 0; --i) p = p * r + Splat(Factor[i]);
    QuadMask scale = (k + 1023) << 52;
    return p * reinterpret_cast<Quad>(scale);
}

// ln(1 + t) for 0 <= t <= 1, lane by lane, within about one unit in the last place. u = 1 + t
// is split as 2^k m with sqrt(1/2) <= m < sqrt(2); ln m = f - (f^2/2 - s (f^2/2 + R(s^2))) with
// f = m - 1 and s = f / (2 + f), R a minimax polynomial; the part of t that rounding lost in u
// is added back as c / u, so that small t keep their precision.
[[gnu::always_inline]] inline Quad Log1pLanes(Quad t) {
    constexpr double Ln2High = 6.93147180369123816490e-01;
    constexpr double Ln2Low = 1.90821492927058770002e-10;
    constexpr double Root2 = 1.41421356237309504880;
    constexpr double Lg[7] = {6.666666666666735130e-01, 3.999999999940941908e-01,
                              2.857142874366239149e-01, 2.222219843214978396e-01,
                              1.818357216161805012e-01, 1.531383769920937332e-01,
                              1.479819860511658591e-01};
    Quad u = t + Splat(1.0);
    Quad c = t - (u - Splat(1.0));
    QuadMask big = u > Splat(Root2);
    Quad m = big ? u * Splat(0.5) : u;
    Quad k = big ? Splat(1.0) : Splat(0.0);
    Quad f = m - Splat(1.0);
    Quad s = f / (Splat(2.0) + f);
    Quad z = s * s;
    Quad r = Splat(Lg[6]);
#pragma GCC unroll 16
    for (int i = 5; i >= 0; --i) r = r * z + Splat(Lg[i]);
    r = r * z;
    Quad half = Splat(0.5) * f * f;
    Quad logM = f - (half - s * (half + r));
    return k * Splat(Ln2High) + (logM + (k * Splat(Ln2Low) + c / u));
}

}  // namespace korw::distr
