// FITNEGBIN against R's MASS::glm.nb of the same model on the same data, timed in the same run,
// with the peak memory of both and the fit's cost per iteration as a multiple of the bare
// cross-product kernel on its design. Two cases: Y = 1 + A + X1 + ... + X5 (11 formula
// parameters and alpha) on 10^5 units, and Y = 1 + X1 + ... + X8 (10 parameters with alpha) on
// 10^6 units. KORW_SKIP_R=1 leaves R out;
// KORW_REPEAT=n times each fit n times and keeps the best (for a busy machine).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "kernel_timing.h"
#include "models/models.h"
#include "special/negbin.h"

namespace {

namespace data = korw::data;
const char* const kDataFile = "/tmp/korw_negbin_bench.bin";
int Repeats() {
    const char* n = std::getenv("KORW_REPEAT");
    return n != nullptr && std::atoi(n) > 1 ? std::atoi(n) : 1;
}

const char* const kOutFile = "/tmp/korw_negbin_bench.out";

// One benchmark case: its units, the levels of the factor A (0: no factor) and the variates.
struct Case {
    int units;
    int levels;
    int variates;
};

// Y (negative binomial counts, shape 1.5), A, X1..Xk over n units; written in single precision
// to kDataFile (column after column: Y, A when present, X1..Xk) for R.
void MakeData(const Case& c) {
    int n = c.units;
    data::ClearTable();
    data::DeclareVariate("Y", n);
    std::mt19937 random(17);
    std::normal_distribution<float> normal;
    std::vector<std::vector<float>> columns(1, std::vector<float>(n));
    uint8_t* a = nullptr;
    if (c.levels > 0) {
        data::DeclareFactor("A", n, c.levels);
        a = data::FactorPointer("A");
        columns.emplace_back(n);
        for (int u = 1; u <= n; ++u)
            columns.back()[u - 1] = a[u] = static_cast<uint8_t>(1 + random() % c.levels);
    }
    std::vector<float*> x;
    for (int k = 1; k <= c.variates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        columns.emplace_back(n);
        for (int u = 1; u <= n; ++u) columns.back()[u - 1] = x.back()[u] = normal(random);
    }
    float* y = data::VariatePointer("Y");
    const double shape = 1.5;
    for (int u = 1; u <= n; ++u) {
        double eta = 1.0 + (a != nullptr ? 0.15 * a[u] : 0.0);
        for (int k = 0; k < c.variates; ++k) eta += 0.1 * (k % 5 + 1) * (k % 2 ? -1 : 1) * x[k][u];
        // Negative binomial as a gamma mixture of Poisson counts.
        std::gamma_distribution<double> gamma(shape, std::exp(eta) / shape);
        std::poisson_distribution<int> poisson(gamma(random));
        columns[0][u - 1] = y[u] = static_cast<float>(std::min(poisson(random), 65535));
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's glm.nb of the same model, timed inside R: "seconds iterations -2loglik theta"; empty
// without R.
std::string RResult(const Case& c) {
    int columns = 1 + (c.levels > 0 ? 1 : 0) + c.variates;
    std::string n = std::to_string(c.units), k = std::to_string(c.variates);
    std::string script = "suppressMessages(library(MASS)); n <- " + n + "; con <- file('" +
                         kDataFile + "', 'rb'); m <- matrix(readBin(con, 'double', " +
                         std::to_string(columns) +
                         " * n, size = 4), n); close(con); "
                         "d <- data.frame(y = m[, 1], m[, " +
                         std::to_string(columns - c.variates + 1) + ":" + std::to_string(columns) +
                         ", drop = FALSE]); names(d)[-1] <- paste0('x', 1:" + k + "); f <- y ~ " +
                         std::string(c.levels > 0 ? "a + " : "") + "x1";
    for (int j = 2; j <= c.variates; ++j) script += " + x" + std::to_string(j);
    script += "; ";
    if (c.levels > 0) script += "d[['a']] <- factor(m[, 2]); ";
    script +=
        "t <- system.time(g <- glm.nb(f, data = d))[['elapsed']]; "
        "cat(t, g[['iter']], sprintf('%.4f', -g[['twologlik']]), sprintf('%.6f', g[['theta']]))";
    return korw::bench::RunRscript(script);
}

void Run(const Case& c) {
    std::string model = korw::bench::ModelOf(c.levels, c.variates);
    MakeData(c);
    double peakBefore = korw::bench::PeakMegabytes(RUSAGE_SELF);
    std::chrono::duration<double> seconds{1e30};
    std::string out;
    for (int repeat = 0; repeat < Repeats(); ++repeat) {
        korw::bench::TakeOutput(kOutFile);
        auto start = std::chrono::steady_clock::now();
        korw::special::FitNegBin(model);
        seconds = std::min<std::chrono::duration<double>>(seconds,
                                                          std::chrono::steady_clock::now() - start);
        if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
        out = korw::bench::TakeOutput(kOutFile);
    }
    int iterations = korw::bench::IterationsIn(out);
    int p = korw::models::NumberOfParameters();
    std::printf("FITNEGBIN %s on %s units (%d parameters with alpha)\n", model.c_str(),
                korw::bench::UnitsText(c.units).c_str(), p);
    std::printf(
        "  FITNEGBIN %.3f s, %d iterations, -2log(Likelihood) %.4f, alpha %.5f, peak %.0f MB "
        "(%.0f MB before)\n",
        seconds.count(), iterations, korw::models::Deviance(), korw::models::Parameter(p),
        korw::bench::PeakMegabytes(RUSAGE_SELF), peakBefore);
    double kernel = korw::bench::KernelSeconds(1);
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, kernel);
    std::printf("  fit = %.1f x kernel x iterations (target: fit <= 3 x kernel x iterations)\n",
                seconds.count() / (kernel * std::max(iterations, 1)));
    if (std::getenv("KORW_SKIP_R")) return;
    double rSeconds = 0, rDeviance = 0, rTheta = 0;
    int rIterations = 0;
    std::string r = RResult(c);
    if (std::sscanf(r.c_str(), "%lf %d %lf %lf", &rSeconds, &rIterations, &rDeviance, &rTheta) ==
        4) {
        std::printf(
            "  R glm.nb() %.3f s, %d alternations, -2 log likelihood %.4f, theta %.5f, "
            "peak %.0f MB\n",
            rSeconds, rIterations, rDeviance, rTheta, korw::bench::PeakMegabytes(RUSAGE_CHILDREN));
        std::printf("  ratio %.3f (target <= 0.5)\n", seconds.count() / rSeconds);
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
    Run({100000, 6, 5});
    Run({1000000, 0, 8});
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
