// FITCOXMODEL T*D-E/S = X1 + ... + X5 on 16379 units (censoring, delayed entry, 4 strata)
// against R's coxph(Surv(entry, exit, status) ~ x1 + ... + x5 + strata(s), ties = "breslow")
// on the same data, timed in the same run, with the peak memory of both processes.
//
// The command takes at most MaxCoxUnits units; the large case (10^6 units of the same kind)
// times the partial likelihood's own pieces, as the command calls them in each iteration, in
// a plain Newton iteration to R's convergence, against coxph() on the same data.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "kernel_timing.h"
#include "models/cross_product.h"
#include "models/models.h"
#include "special/cox.h"

namespace {

namespace data = korw::data;
constexpr int kUnits = 16379;
constexpr int kVariates = 5;
constexpr int kStrata = 4;
constexpr int kRepeats = 5;
constexpr int kLargeUnits = 1000000;
const char* const kDataFile = "/tmp/korw_cox_bench.bin";
const char* const kOutFile = "/tmp/korw_cox_bench.out";

// T, D, E, S and X1..X5; written in single precision to kDataFile (column after column) for R.
void MakeData(int n) {
    data::DeclareVariate("T E", n);
    data::DeclareFactor("D", n, 1);
    data::DeclareFactor("S", n, kStrata);
    std::mt19937 random(16);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<double> uniform;
    std::vector<std::vector<float>> columns(4 + kVariates, std::vector<float>(n));
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
    }
    float* t = data::VariatePointer("T");
    float* e = data::VariatePointer("E");
    uint8_t* d = data::FactorPointer("D");
    uint8_t* s = data::FactorPointer("S");
    for (int u = 1; u <= n; ++u) {
        s[u] = static_cast<uint8_t>(1 + random() % kStrata);
        double eta = 0.2 * s[u];
        for (int k = 0; k < kVariates; ++k) {
            x[k][u] = normal(random);
            eta += 0.1 * (k + 1) * (k % 2 ? -1 : 1) * x[k][u];
        }
        // Exit times rounded to a tenth, so that deaths tie; entry before exit.
        double exit = std::round(10 * -std::log(uniform(random)) / std::exp(eta) * 20) / 10 + 0.1;
        t[u] = static_cast<float>(exit);
        e[u] = static_cast<float>(std::floor(10 * exit * uniform(random) * 0.5) / 10);
        d[u] = uniform(random) < 0.7 ? 1 : 0;
        columns[0][u - 1] = t[u];
        columns[1][u - 1] = d[u];
        columns[2][u - 1] = e[u];
        columns[3][u - 1] = s[u];
        for (int k = 0; k < kVariates; ++k) columns[4 + k][u - 1] = x[k][u];
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's coxph() of the same model, timed inside R, the best of kRepeats fits: "seconds -2loglik";
// empty without R.
std::string RResult(int n, int repeats = kRepeats) {
    std::string script =
        "suppressMessages(library(survival)); n <- " + std::to_string(n) + "; con <- file('" +
        kDataFile + "', 'rb'); m <- matrix(readBin(con, 'double', " +
        std::to_string(4 + kVariates) +
        " * n, size = 4), n); close(con); "
        "d <- data.frame(m); names(d) <- c('exit', 'status', 'entry', 's', paste0('x', 1:5)); "
        "f <- Surv(entry, exit, status) ~ x1 + x2 + x3 + x4 + x5 + strata(s); "
        "t <- min(sapply(1:" +
        std::to_string(repeats) +
        ", function(i) system.time(g <<- coxph(f, data = d, ties = 'breslow'))[['elapsed']]))"
        "; cat(t, sprintf('%.4f', -2 * g[['loglik']][2]), g[['iter']])";
    return korw::bench::RunRscript(script);
}

namespace cox = korw::special::cox;

// The units and design of the data in the vector table, every unit taking part.
void ReadUnits(int n, cox::Units& units, cox::SparseDesign& x) {
    const float* t = data::VariatePointer("T");
    const float* e = data::VariatePointer("E");
    const uint8_t* d = data::FactorPointer("D");
    const uint8_t* s = data::FactorPointer("S");
    units.leftTruncated = true;
    x.columns = kVariates;
    for (int u = 1; u <= n; ++u) {
        units.exit.push_back(t[u]);
        units.entry.push_back(e[u]);
        units.death.push_back(d[u] == 1);
        units.stratum.push_back(s[u]);
        for (int k = 0; k < kVariates; ++k) {
            x.column.push_back(k);
            x.value.push_back(data::VariatePointer("X" + std::to_string(k + 1))[u]);
        }
        x.start.push_back(static_cast<int32_t>(x.column.size()));
    }
}

// The kernel's X'DX and score on X1..X5 of n units, best of three.
double LargeKernelSeconds(int n) {
    namespace detail = korw::models::detail;
    detail::Design design;
    for (int k = 0; k < kVariates; ++k) {
        detail::DesignTerm term;
        term.firstColumn = term.lastColumn = k;
        term.variates.push_back(data::VariatePointer("X" + std::to_string(k + 1)));
        design.terms.push_back(term);
    }
    design.columns = kVariates;
    std::vector<double> m(detail::Packed(kVariates + 1, 0));
    detail::UnitList all{nullptr, static_cast<size_t>(n)};
    detail::BlockWeights weights = [](size_t, size_t count, double* w, double* s) {
        std::fill(w, w + count, 1.0);
        std::fill(s, s + count, 1.0);
    };
    return korw::bench::Seconds([&] {
        std::fill(m.begin(), m.end(), 0.0);
        detail::AccumulateCrossProducts(design, all, weights, 1, m);
    });
}

// beta += (-second)^-1 first, by Gaussian elimination of the small system.
void NewtonStep(const cox::Derivatives& d, std::vector<double>& beta) {
    const int p = static_cast<int>(beta.size());
    std::vector<double> a(d.second), b(d.first);
    for (double& v : a) v = -v;
    for (int k = 0; k < p; ++k)
        for (int i = k + 1; i < p; ++i) {
            double f = a[i * p + k] / a[k * p + k];
            for (int j = k; j < p; ++j) a[i * p + j] -= f * a[k * p + j];
            b[i] -= f * b[k];
        }
    for (int i = p - 1; i >= 0; --i) {
        double sum = b[i];
        for (int j = i + 1; j < p; ++j) sum -= a[i * p + j] * b[j];
        b[i] = sum / a[i * p + i];
    }
    for (int k = 0; k < p; ++k) beta[k] += b[k];
}

// The large case: set-up (sorting the risk sets, ordering the design) once, then iterations
// of the linear predictor, the risk sets, the log-likelihood and the derivatives until the
// log-likelihood changes by less than R's tolerance.
void LargeCase() {
    MakeData(kLargeUnits);
    cox::Units units;
    cox::SparseDesign x;
    ReadUnits(kLargeUnits, units, x);
    auto start = std::chrono::steady_clock::now();
    cox::RiskSetPlan plan = cox::PlanRiskSets(units);
    cox::WalkDesign walk = cox::OrderDesign(plan, x);
    std::chrono::duration<double> setUp = std::chrono::steady_clock::now() - start;
    std::vector<double> beta(kVariates, 0.0);
    cox::RiskSets risks;
    cox::Derivatives d;
    std::vector<double> eta;
    double logLikelihood = -HUGE_VAL, iterationSeconds = HUGE_VAL;
    int iterations = 0;
    for (; iterations < 20; ++iterations) {
        auto begin = std::chrono::steady_clock::now();
        cox::WalkPredictor(walk, beta, eta);
        cox::EvaluateRiskSets(plan, eta, risks);
        double value = cox::PartialLogLikelihood(plan, eta, risks);
        cox::PartialDerivatives(plan, walk, risks, d);
        std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begin;
        iterationSeconds = std::min(iterationSeconds, seconds.count());
        bool converged = std::fabs(value - logLikelihood) < 1e-9 * std::fabs(value);
        logLikelihood = value;
        if (converged) break;
        NewtonStep(d, beta);
    }
    double fitSeconds = setUp.count() + (iterations + 1) * iterationSeconds;
    std::printf("Partial likelihood of FITCOXMODEL on %d units, %d strata, 5 covariates\n",
                kLargeUnits, kStrata);
    korw::bench::PrintKernelMultiple(iterationSeconds, 1, LargeKernelSeconds(kLargeUnits));
    std::printf("  KORW set-up %.4f s + %d iterations = %.3f s, -2log(Likelihood) %.4f\n",
                setUp.count(), iterations + 1, fitSeconds, -2 * logLikelihood);
    double rSeconds = 0, rDeviance = 0;
    int rIterations = 0;
    std::string r = RResult(kLargeUnits, 1);
    if (std::sscanf(r.c_str(), "%lf %lf %d", &rSeconds, &rDeviance, &rIterations) == 3) {
        std::printf("  R coxph() %.3f s, %d iterations, -2loglik %.4f\n", rSeconds, rIterations,
                    rDeviance);
        std::printf("  ratio %.3f\n", fitSeconds / rSeconds);
    } else {
        std::printf("  R not available\n");
    }
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    MakeData(kUnits);
    korw::bench::TakeOutput(kOutFile);
    const std::string model = "T*D-E/S = X1 + X2 + X3 + X4 + X5";
    double best = HUGE_VAL;
    for (int i = 0; i < kRepeats; ++i) {
        auto start = std::chrono::steady_clock::now();
        korw::special::FitCoxModel(model);
        std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        best = std::min(best, seconds.count());
        if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    }
    std::string out = korw::bench::TakeOutput(kOutFile);
    int iterations = korw::bench::IterationsIn(out);
    std::printf("FITCOXMODEL %s on %d units, %d strata\n", model.c_str(), kUnits, kStrata);
    korw::bench::PrintKernelMultiple(best, iterations, korw::bench::KernelSeconds());
    std::printf("  KORW %.4f s (best of %d), %d iterations, -2log(Likelihood) %.4f, peak %.1f MB\n",
                best, kRepeats, iterations, korw::models::Deviance(),
                korw::bench::PeakMegabytes(RUSAGE_SELF));
    double rSeconds = 0, rDeviance = 0;
    std::string r = RResult(kUnits);
    if (std::sscanf(r.c_str(), "%lf %lf", &rSeconds, &rDeviance) >= 2) {
        std::printf("  R coxph() %.4f s (best of %d), -2loglik %.4f, peak %.1f MB\n", rSeconds,
                    kRepeats, rDeviance, korw::bench::PeakMegabytes(RUSAGE_CHILDREN));
        std::printf("  ratio %.3f (target <= 0.5)\n", best / rSeconds);
    } else {
        std::printf("  R not available\n");
    }
    data::Delete("T E D S X1 X2 X3 X4 X5");
    LargeCase();
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
