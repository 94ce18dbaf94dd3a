// FITNEGBIN Y = 1 + A + X1 + ... + X5 (11 formula parameters and alpha) on 10^5 units against
// R's MASS::glm.nb of the same model on the same data, timed in the same run, with the peak
// memory of both.
#include <sys/resource.h>

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
#include "models/models.h"
#include "special/negbin.h"

namespace {

namespace data = korw::data;
constexpr int kUnits = 100000;
constexpr int kVariates = 5;
constexpr int kLevels = 6;
const char* const kDataFile = "/tmp/korw_negbin_bench.bin";
const char* const kOutFile = "/tmp/korw_negbin_bench.out";

// Y (negative binomial counts, shape 1.5), A (6 levels), X1..X5 over n units; written in
// single precision to kDataFile (column after column) for R.
void MakeData(int n) {
    data::DeclareVariate("Y", n);
    data::DeclareFactor("A", n, kLevels);
    std::mt19937 random(17);
    std::normal_distribution<float> normal;
    std::vector<std::vector<float>> columns(kVariates + 2, std::vector<float>(n));
    uint8_t* a = data::FactorPointer("A");
    for (int u = 1; u <= n; ++u)
        columns[1][u - 1] = a[u] = static_cast<uint8_t>(1 + random() % kLevels);
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        for (int u = 1; u <= n; ++u) columns[1 + k][u - 1] = x.back()[u] = normal(random);
    }
    float* y = data::VariatePointer("Y");
    const double shape = 1.5;
    for (int u = 1; u <= n; ++u) {
        double eta = 1.0 + 0.15 * a[u];
        for (int k = 0; k < kVariates; ++k) eta += 0.1 * (k + 1) * (k % 2 ? -1 : 1) * x[k][u];
        // Negative binomial as a gamma mixture of Poisson counts.
        std::gamma_distribution<double> gamma(shape, std::exp(eta) / shape);
        std::poisson_distribution<int> poisson(gamma(random));
        columns[0][u - 1] = y[u] = static_cast<float>(std::min(poisson(random), 65535));
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's glm.nb of the same model, timed inside R: "seconds iterations -2loglik theta"; empty
// without R.
std::string RResult(int n) {
    std::string script =
        "suppressMessages(library(MASS)); n <- " + std::to_string(n) + "; con <- file('" +
        kDataFile + "', 'rb'); m <- matrix(readBin(con, 'double', " +
        std::to_string(kVariates + 2) +
        " * n, size = 4), n); close(con); "
        "d <- data.frame(y = m[, 1], a = factor(m[, 2]), m[, 3:7]); "
        "names(d)[3:7] <- paste0('x', 1:5); "
        "f <- y ~ a + x1 + x2 + x3 + x4 + x5; "
        "t <- system.time(g <- glm.nb(f, data = d))[['elapsed']]; "
        "cat(t, g[['iter']], sprintf('%.4f', -g[['twologlik']]), sprintf('%.6f', g[['theta']]))";
    return korw::bench::RunRscript(script);
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    std::string model = "Y = 1 + A";
    for (int k = 1; k <= kVariates; ++k) model += " + X" + std::to_string(k);
    MakeData(kUnits);
    korw::bench::TakeOutput(kOutFile);
    auto start = std::chrono::steady_clock::now();
    korw::special::FitNegBin(model);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    std::string out = korw::bench::TakeOutput(kOutFile);
    int iterations = korw::bench::IterationsIn(out);
    int p = korw::models::NumberOfParameters();
    std::printf("FITNEGBIN %s on 10^5 units (%d parameters with alpha)\n", model.c_str(), p);
    std::printf(
        "  FITNEGBIN %.3f s, %d iterations, -2log(Likelihood) %.4f, alpha %.5f, peak %.0f MB\n",
        seconds.count(), iterations, korw::models::Deviance(), korw::models::Parameter(p),
        korw::bench::PeakMegabytes(RUSAGE_SELF));
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, korw::bench::KernelSeconds(1));
    double rSeconds = 0, rDeviance = 0, rTheta = 0;
    int rIterations = 0;
    std::string r = RResult(kUnits);
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
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
