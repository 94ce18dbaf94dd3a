// The blocked cross-product kernel; see cross_product.h.
//
// A block's design is held term after term: a dense term as kBlockUnits values, a sparse term
// as kBlockUnits (column, value) pairs. Products of two dense columns are dot products over
// the block; a sparse term's products are sums per level (the unit's column), added where the
// unit's level points.
#include "models/cross_product.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "data/errors.h"
#include "data/long_work.h"
#include "data/vectors.h"

namespace korw::models::detail {

namespace {

// Units per slice, and at most this many slices: enough slices to keep two cores equally busy,
// few enough that their partial matrices cost little to add up. A fit of up to kSliceUnits
// units is one slice, summed in unit order.
constexpr size_t kSliceUnits = 65536;
constexpr int kMaxSlices = 8;
// Independent partial sums of a dot product: the compiler keeps them in vector registers.
constexpr int kLanes = 4;

int threadCount = 0;  // 0: one per core

int SliceCount(size_t count) {
    size_t slices = (count + kSliceUnits - 1) / kSliceUnits;
    return static_cast<int>(std::clamp<size_t>(slices, 1, kMaxSlices));
}

size_t SliceStart(int slice, int slices, size_t count) {
    return count * static_cast<size_t>(slice) / static_cast<size_t>(slices);
}

// The stop of a command while slices run: asked on the command's own thread between its blocks
// (worker threads may not poll; see LeaveSlice); then every thread leaves its slice at its next
// block, and RunSlices interrupts the command once the workers are joined, so partial sums never
// leave.
thread_local std::atomic<bool>* sliceAbandon = nullptr;
thread_local bool onCommandThread = false;

// Runs work(slice) for every slice, the slices shared out over the threads.
void RunSlices(int slices, const std::function<void(int)>& work) {
    int threads = std::min(KernelThreads(), slices);
    std::atomic<int> next{0};
    std::atomic<bool> abandon{false};
    auto worker = [&](bool commandThread) {
        sliceAbandon = &abandon;
        onCommandThread = commandThread;
        for (int s; !abandon && (s = next++) < slices;) work(s);
        sliceAbandon = nullptr;
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(worker, false);
    worker(true);
    for (std::thread& t : pool) t.join();
    if (abandon) {
        data::Poll();  // throws: StopWanted found the flag up and no stop held
        throw data::Interrupted{};
    }
}

int32_t UnitAt(const UnitList& units, size_t i) {
    return units.list != nullptr ? (*units.list)[i] : static_cast<int32_t>(i + 1);
}

// The design rows of the units at positions begin..begin + count.
struct Block {
    size_t count = 0;
    std::vector<double> value;    // term k at k * kBlockUnits
    std::vector<int32_t> column;  // sparse terms only
    explicit Block(size_t terms) : value(terms * kBlockUnits), column(terms * kBlockUnits) {}
};

void FillDense(const DesignTerm& term, const UnitList& units, size_t begin, Block& block,
               double* x) {
    if (term.variates.empty()) {
        std::fill(x, x + block.count, 1.0);
        return;
    }
    const float* v = term.variates[0];
    if (units.list == nullptr) {
        for (size_t i = 0; i < block.count; ++i) x[i] = v[begin + i + 1];
    } else {
        const int32_t* u = units.list->data() + begin;
        for (size_t i = 0; i < block.count; ++i) x[i] = v[u[i]];
    }
    for (size_t k = 1; k < term.variates.size(); ++k) {
        const float* w = term.variates[k];
        for (size_t i = 0; i < block.count; ++i) x[i] *= w[UnitAt(units, begin + i)];
    }
}

// A unit whose level of a factor is 0 (or above the factor's count) has no column in the
// term: its value is 0 at the term's first column.
void FillSparse(const DesignTerm& term, const UnitList& units, size_t begin, Block& block,
                double* x, int32_t* column) {
    if (term.factors.size() == 1 && term.variates.empty()) {
        const uint8_t* f = term.factors[0];
        int levels = term.levels[0];
        for (size_t i = 0; i < block.count; ++i) {
            int level = f[UnitAt(units, begin + i)];
            bool zero = level == 0 || level > levels;
            column[i] = zero ? term.firstColumn : term.firstColumn + level - 1;
            x[i] = zero ? 0.0 : 1.0;
        }
        return;
    }
    for (size_t i = 0; i < block.count; ++i) {
        int32_t u = UnitAt(units, begin + i);
        int offset = 0;
        bool zero = false;
        for (size_t f = 0; f < term.factors.size(); ++f) {
            int level = term.factors[f][u];
            if (level == 0 || level > term.levels[f]) zero = true;
            offset = offset * term.levels[f] + (level > 0 ? level - 1 : 0);
        }
        double value = 1.0;
        for (const float* v : term.variates) value *= v[u];
        column[i] = zero ? term.firstColumn : term.firstColumn + offset;
        x[i] = zero ? 0.0 : value;
    }
}

void FillBlock(const Design& design, const UnitList& units, size_t begin, Block& block) {
    for (size_t k = 0; k < design.terms.size(); ++k) {
        const DesignTerm& term = design.terms[k];
        double* x = &block.value[k * kBlockUnits];
        if (term.factors.empty())
            FillDense(term, units, begin, block, x);
        else
            FillSparse(term, units, begin, block, x, &block.column[k * kBlockUnits]);
    }
}

// What one slice needs besides the block: the dense and sparse term numbers, the weights and
// the weighted dense columns.
struct SliceWork {
    std::vector<size_t> dense, sparse;
    std::vector<double> d, s, weighted;
    std::vector<size_t> rowStart;  // Packed(c, 0) of every column c
    SliceWork(const Design& design, int scores) : d(kBlockUnits), s(scores * kBlockUnits) {
        for (int c = 0; c <= design.columns; ++c) rowStart.push_back(Packed(c, 0));
        for (size_t k = 0; k < design.terms.size(); ++k)
            (design.terms[k].factors.empty() ? dense : sparse).push_back(k);
        weighted.resize(design.terms.size() * kBlockUnits);
    }
};

// m += the block's X'DX; the products of two terms are formed as (d x_later) x_earlier.
void AddBlock(const Design& design, const Block& block, SliceWork& w, int scores,
              std::vector<double>& m) {
    const size_t n = block.count;
    const int p = design.columns;
    auto x = [&](size_t k) { return &block.value[k * kBlockUnits]; };
    auto dx = [&](size_t k) { return &w.weighted[k * kBlockUnits]; };
    for (size_t k = 0; k < design.terms.size(); ++k) {
        const double* xk = x(k);
        double* out = dx(k);
        for (size_t i = 0; i < n; ++i) out[i] = w.d[i] * xk[i];
    }
    for (size_t a : w.dense) {
        int ca = design.terms[a].firstColumn;
        for (size_t b : w.dense) {
            int cb = design.terms[b].firstColumn;
            if (cb > ca) continue;
            m[Packed(ca, cb)] += Dot(dx(a), x(b), n);
        }
        for (int j = 0; j < scores; ++j)
            m[Packed(p + j, ca)] += Dot(&w.s[j * kBlockUnits], x(a), n);
    }
    for (size_t t : w.sparse) {
        const int32_t* c = &block.column[t * kBlockUnits];
        const double* v = x(t);
        const double* dv = dx(t);
        const size_t* row = w.rowStart.data();
        for (size_t i = 0; i < n; ++i) m[row[c[i]] + c[i]] += dv[i] * v[i];
        for (size_t a : w.dense) {
            int ca = design.terms[a].firstColumn;
            if (ca < design.terms[t].firstColumn) {
                const double* xa = x(a);
                for (size_t i = 0; i < n; ++i) m[row[c[i]] + ca] += dv[i] * xa[i];
            } else {
                const double* dxa = dx(a);
                size_t line = Packed(ca, 0);
                for (size_t i = 0; i < n; ++i) m[line + c[i]] += dxa[i] * v[i];
            }
        }
        for (size_t e : w.sparse) {
            if (e >= t) break;
            const int32_t* ce = &block.column[e * kBlockUnits];
            const double* ve = x(e);
            for (size_t i = 0; i < n; ++i) m[row[c[i]] + ce[i]] += dv[i] * ve[i];
        }
        for (int j = 0; j < scores; ++j) {
            size_t line = Packed(p + j, 0);
            const double* s = &w.s[j * kBlockUnits];
            for (size_t i = 0; i < n; ++i) m[line + c[i]] += s[i] * v[i];
        }
    }
}

// eta[0..block.count) of a filled block: offset, then each term in term order.
void BlockEta(const Design& design, const UnitList& units, size_t begin, const Block& block,
              const std::vector<double>& beta, const float* offset, double* e) {
    for (size_t i = 0; i < block.count; ++i)
        e[i] = offset != nullptr ? offset[UnitAt(units, begin + i)] : 0.0;
    for (size_t k = 0; k < design.terms.size(); ++k) {
        const double* x = &block.value[k * kBlockUnits];
        if (design.terms[k].factors.empty()) {
            double b = beta[design.terms[k].firstColumn];
            for (size_t i = 0; i < block.count; ++i) e[i] += b * x[i];
        } else {
            const int32_t* c = &block.column[k * kBlockUnits];
            for (size_t i = 0; i < block.count; ++i) e[i] += beta[c[i]] * x[i];
        }
    }
}

// Runs work(begin, block) for the blocks of one slice in unit order, each block's design rows
// filled, until the slice ends or the command is to stop.
template <typename Work>
void ForEachBlock(const Design& design, const UnitList& units, int slice, int slices, Block& block,
                  const Work& work) {
    size_t end = SliceStart(slice + 1, slices, units.count);
    for (size_t begin = SliceStart(slice, slices, units.count); begin < end && !LeaveSlice();
         begin += kBlockUnits) {
        block.count = std::min(kBlockUnits, end - begin);
        FillBlock(design, units, begin, block);
        work(begin, block);
    }
}

// total[0..sums) = the slices' sums (`sums` per slice), added in slice order.
void AddSliceSums(const std::vector<double>& bySlice, int slices, int sums, double* total) {
    std::fill(total, total + sums, 0.0);
    for (int slice = 0; slice < slices; ++slice)
        for (int k = 0; k < sums; ++k) total[k] += bySlice[static_cast<size_t>(slice) * sums + k];
}

// m += the slices' partial matrices, in slice order.
void AddPartials(const std::vector<std::vector<double>>& partial, std::vector<double>& m) {
    for (const std::vector<double>& sum : partial)
        for (size_t k = 0; k < m.size(); ++k) m[k] += sum[k];
}

}  // namespace

// Built for AVX2 as well where the processor has it: the same operations in the same order, so
// the same sums, only more lanes at a time.
__attribute__((target_clones("avx2", "default"))) double Dot(const double* a, const double* b,
                                                             size_t n) {
    double lane[kLanes] = {};
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) lane[j] += a[i + j] * b[i + j];
    double sum = (lane[0] + lane[2]) + (lane[1] + lane[3]);
    for (; i < n; ++i) sum += a[i] * b[i];
    return sum;
}

bool LeaveSlice() {
    if (sliceAbandon == nullptr) return false;
    if (onCommandThread && !*sliceAbandon && data::StopWanted()) *sliceAbandon = true;
    return *sliceAbandon;
}

bool MakeDesign(const std::vector<Term>& terms, Design& design) {
    design.terms.clear();
    design.columns = 0;
    for (const Term& term : terms) {
        DesignTerm t;
        t.firstColumn = term.firstColumn;
        t.lastColumn = term.lastColumn;
        for (int f : term.factors) {
            const data::Vector& v = data::Entry(f);
            if (v.kind != data::FactorKind) {
                data::ReportError("A vector in the model formula has been deleted");
                return false;
            }
            t.factors.push_back(v.factor.data());
            t.levels.push_back(v.levels);
        }
        for (int x : term.variates) {
            const data::Vector& v = data::Entry(x);
            if (v.kind != data::VariateKind) {
                data::ReportError("A vector in the model formula has been deleted");
                return false;
            }
            t.variates.push_back(v.variate.data());
        }
        design.columns = std::max(design.columns, term.lastColumn + 1);
        design.terms.push_back(std::move(t));
    }
    return true;
}

void AccumulateCrossProducts(const Design& design, const UnitList& units,
                             const BlockWeights& weights, int scores, std::vector<double>& m) {
    int slices = SliceCount(units.count);
    std::vector<std::vector<double>> partial(slices);
    RunSlices(slices, [&](int slice) {
        std::vector<double>& sum = partial[slice];
        sum.assign(m.size(), 0.0);
        Block block(design.terms.size());
        SliceWork work(design, scores);
        ForEachBlock(design, units, slice, slices, block, [&](size_t begin, const Block& rows) {
            weights(begin, rows.count, work.d.data(), work.s.data());
            AddBlock(design, rows, work, scores, sum);
        });
    });
    AddPartials(partial, m);
}

void LinearPredictor(const Design& design, const UnitList& units, const std::vector<double>& beta,
                     const float* offset, std::vector<double>& eta) {
    int slices = SliceCount(units.count);
    RunSlices(slices, [&](int slice) {
        Block block(design.terms.size());
        ForEachBlock(design, units, slice, slices, block, [&](size_t begin, const Block& rows) {
            BlockEta(design, units, begin, rows, beta, offset, &eta[begin]);
        });
    });
}

void PassAt(const Design& design, const UnitList& units, const std::vector<double>& beta,
            const float* offset, const EtaBlock& block, int sums, double* totals, int scores,
            std::vector<double>* m) {
    int slices = SliceCount(units.count);
    std::vector<std::vector<double>> partial(m != nullptr ? slices : 0);
    std::vector<double> bySlice(static_cast<size_t>(slices) * sums, 0.0);
    RunSlices(slices, [&](int slice) {
        Block rows(design.terms.size());
        SliceWork work(design, m != nullptr ? scores : 0);
        std::vector<double> eta(kBlockUnits);
        if (m != nullptr) partial[slice].assign(m->size(), 0.0);
        double* sliceSums = bySlice.data() + static_cast<size_t>(slice) * sums;
        ForEachBlock(design, units, slice, slices, rows, [&](size_t begin, const Block& filled) {
            BlockEta(design, units, begin, filled, beta, offset, eta.data());
            block(begin, filled.count, eta.data(), m != nullptr ? work.d.data() : nullptr,
                  m != nullptr ? work.s.data() : nullptr, sliceSums);
            if (m != nullptr) AddBlock(design, filled, work, scores, partial[slice]);
        });
    });
    AddSliceSums(bySlice, slices, sums, totals);
    if (m != nullptr) AddPartials(partial, *m);
}

void SumsInSlices(size_t count, int sums,
                  const std::function<void(size_t begin, size_t end, double* sums)>& part,
                  double* total) {
    int slices = SliceCount(count);
    std::vector<double> bySlice(static_cast<size_t>(slices) * sums, 0.0);
    RunSlices(slices, [&](int slice) {
        part(SliceStart(slice, slices, count), SliceStart(slice + 1, slices, count),
             bySlice.data() + static_cast<size_t>(slice) * sums);
    });
    AddSliceSums(bySlice, slices, sums, total);
}

void SetKernelThreads(int threads) {
    threadCount = std::max(threads, 0);
}

int KernelThreads() {
    if (threadCount > 0) return threadCount;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace korw::models::detail
