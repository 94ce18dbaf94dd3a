// The blocked cross-product kernel of the fits: the design rows of a block of units built at
// once, the weighted cross-products X'DX and the score X's summed over the block with plain
// loops the compiler vectorises, and the blocks shared out over the machine's cores.
//
// Results never depend on the number of threads: the units are cut into slices that depend on
// their number only, every slice sums its own blocks in unit order, and the slices' sums are
// added in slice order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "models/fit_record.h"

namespace korw::models::detail {

// One term of the design: the columns firstColumn.. (odometer order over its factors), its
// value the product of its variates.
struct DesignTerm {
    int firstColumn = 0;
    int lastColumn = 0;
    std::vector<const uint8_t*> factors;
    std::vector<int> levels;
    std::vector<const float*> variates;
};

// The terms of a fit, for blocked passes over its units. A term without factors is a dense
// column; a term with factors has one nonzero column per unit and is kept sparse.
struct Design {
    std::vector<DesignTerm> terms;  // in the fit's term order
    int columns = 0;
};

// The design of `terms`; false with the deleted-vector message when a vector of the terms is
// no longer in the table as the kind it was.
bool MakeDesign(const std::vector<Term>& terms, Design& design);

// The fit's units: units[i] at position i, or unit i + 1 when the list is empty.
struct UnitList {
    const std::vector<int32_t>* list = nullptr;
    size_t count = 0;
};

// Units per block: a block of 20 dense columns (160 kB with its weighted copies) stays in the
// second-level cache.
constexpr size_t kBlockUnits = 1024;

// Fills d[0..count) (the weights of X'DX) and the factors of each score vector X's_j,
// s[j * kBlockUnits + i], for the units at positions begin..begin + count.
using BlockWeights = std::function<void(size_t begin, size_t count, double* d, double* s)>;

// Adds X'DX and `scores` score vectors X's_j to the packed symmetric matrix m of order
// design.columns + scores: score j in row design.columns + j. Every design value of the units
// must be present.
void AccumulateCrossProducts(const Design& design, const UnitList& units,
                             const BlockWeights& weights, int scores, std::vector<double>& m);

// eta[i] = offset + x_i'beta at every position i (offset null: none); each unit sums its
// terms in term order.
void LinearPredictor(const Design& design, const UnitList& units, const std::vector<double>& beta,
                     const float* offset, std::vector<double>& eta);

// One pass over the units at the estimates beta, for fits whose weights depend on the linear
// predictor: block after block, eta of the block's units (offset + x'beta, formed as
// LinearPredictor forms it) is handed to `block`, which adds the block's terms to its slice's
// running `sums` (so each slice sums in unit order) and, when m is given, fills the weights as
// BlockWeights does; X'DX and the scores are then added to *m. totals[0..sums) receive the
// slices' sums added in slice order. One pass builds each design row once instead of once for
// eta and again for the cross-products.
using EtaBlock = std::function<void(size_t begin, size_t count, const double* eta, double* d,
                                    double* s, double* sums)>;
void PassAt(const Design& design, const UnitList& units, const std::vector<double>& beta,
            const float* offset, const EtaBlock& block, int sums, double* totals, int scores,
            std::vector<double>* m);

// The sums over positions 0..count of `sums` quantities: part(begin, end, sums) fills
// sums[0..sums) of its range [begin, end), summed in order; the ranges' sums are added range
// after range. A part that runs long asks LeaveSlice between its pieces.
void SumsInSlices(size_t count, int sums,
                  const std::function<void(size_t begin, size_t end, double* sums)>& part,
                  double* total);

// For a part of SumsInSlices that runs long: true when the command is to stop (asked on the
// command's thread only, where it polls); the part then returns at once, whatever it has summed,
// and the command is interrupted once every slice has ended.
bool LeaveSlice();

// a[0]b[0] + ... + a[n-1]b[n-1] in four independent lanes added in a fixed order (the same sum
// on every processor), built for AVX2 as well where the processor has it.
double Dot(const double* a, const double* b, size_t n);

// The number of threads the kernel uses (at least 1); results do not depend on it.
void SetKernelThreads(int threads);
int KernelThreads();

}  // namespace korw::models::detail
