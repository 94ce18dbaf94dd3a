// The cost of one iteration at the limit: the blocked cross-product kernel alone (X'DX and the
// score, unit weights) on the design of the fit just made, every unit taking part.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "models/cross_product.h"
#include "models/fit_record.h"

namespace korw::bench {

// Best of three passes, in seconds; `extraColumns` parameters after the design's columns
// (alpha of FITNEGBIN, the cut points of FITMCLOGIT) widen the matrix as in the fit.
inline double KernelSeconds(int extraColumns = 0) {
    using namespace korw::models::detail;
    Design design;
    if (!MakeDesign(Fit().terms, design)) return 0;
    int p = design.columns + extraColumns;
    std::vector<double> m(Packed(p + 1, 0));
    UnitList units{nullptr, static_cast<size_t>(Fit().nUnits)};
    BlockWeights weights = [](size_t, size_t count, double* d, double* s) {
        std::fill(d, d + count, 1.0);
        std::fill(s, s + count, 1.0);
    };
    double best = 1e30;
    for (int repeat = 0; repeat < 3; ++repeat) {
        auto start = std::chrono::steady_clock::now();
        std::fill(m.begin(), m.end(), 0.0);
        AccumulateCrossProducts(design, units, weights, 1, m);
        std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
        best = std::min(best, d.count());
    }
    return best;
}

// "  kernel 0.0123 s; fit 0.0456 s per iteration = 3.7 x kernel"
inline void PrintKernelMultiple(double fitSeconds, int iterations, double kernelSeconds) {
    double perIteration = fitSeconds / std::max(iterations, 1);
    std::printf("  kernel %.4f s; fit %.4f s per iteration (%d) = %.1f x kernel\n", kernelSeconds,
                perIteration, iterations, perIteration / kernelSeconds);
}

}  // namespace korw::bench
