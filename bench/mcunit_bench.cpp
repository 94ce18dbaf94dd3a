// FITMCLOGIT Y = 1 + A + X1 + ... + X4 (a factor response with 5 categories, 12 parameters with
// the thresholds) on 10^5 units against R's MASS::polr of the same model on the same data, timed
// in the same run, with the peak memory of both processes.
#include <sys/resource.h>

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
#include "special/mcunit.h"

namespace {

namespace data = korw::data;
constexpr int kUnits = 100000;
constexpr int kVariates = 4;
constexpr int kCategories = 5;
const char* const kDataFile = "/tmp/korw_mcunit_bench.bin";
const char* const kOutFile = "/tmp/korw_mcunit_bench.out";

// Y (5 ordered categories), A (4 levels), X1..X4 over n units, Y drawn from the logistic latent
// model; written in single precision to kDataFile (column after column) for R.
void MakeData(int n) {
    data::DeclareFactor("Y", n, kCategories);
    data::DeclareFactor("A", n, 4);
    std::mt19937 random(17);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<double> uniform(1.0E-12, 1 - 1.0E-12);
    std::vector<std::vector<float>> columns(kVariates + 2, std::vector<float>(n));
    uint8_t* a = data::FactorPointer("A");
    for (int u = 1; u <= n; ++u) columns[1][u - 1] = a[u] = static_cast<uint8_t>(1 + random() % 4);
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        for (int u = 1; u <= n; ++u) columns[1 + k][u - 1] = x.back()[u] = normal(random);
    }
    const double cuts[kCategories - 1] = {-1.5, -0.5, 0.3, 1.2};
    uint8_t* y = data::FactorPointer("Y");
    for (int u = 1; u <= n; ++u) {
        double eta = 0.2 * a[u];
        for (int k = 0; k < kVariates; ++k) eta += 0.3 * (k + 1) * (k % 2 ? -1 : 1) * x[k][u];
        double p = uniform(random);
        double latent = eta + std::log(p / (1 - p));
        int level = 1;
        while (level < kCategories && latent > cuts[level - 1]) ++level;
        columns[0][u - 1] = y[u] = static_cast<uint8_t>(level);
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's polr() of the same model, timed inside R: "seconds deviance peak-kB"; empty without R.
std::string RResult(int n) {
    std::string script =
        "suppressMessages(library(MASS)); n <- " + std::to_string(n) + "; con <- file('" +
        kDataFile +
        "', 'rb'); m <- matrix(readBin(con, 'double', 6 * n, size = 4), n); close(con); "
        "d <- data.frame(y = factor(m[, 1], ordered = TRUE), a = factor(m[, 2]), m[, 3:6]); "
        "names(d)[3:6] <- paste0('x', 1:4); "
        "t <- system.time(p <- polr(y ~ a + x1 + x2 + x3 + x4, data = d, Hess = TRUE))"
        "[['elapsed']]; "
        "s <- readLines('/proc/self/status'); hwm <- s[grep('VmHWM', s)]; "
        "cat(t, deviance(p), as.numeric(gsub('[^0-9]', '', hwm)))";
    return korw::bench::RunRscript(script);
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
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
    long before = PeakKilobytes();
    auto start = std::chrono::steady_clock::now();
    korw::special::StoreMcCullaghHeading("Underlying continuous distribution: Logistic.");
    korw::special::FitMcCullaghModel(model, korw::special::mcunit::LogisticF,
                                     korw::special::mcunit::LogisticDensity,
                                     korw::special::mcunit::LogisticSlope);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    std::printf("FITMCLOGIT %s on 10^5 units, %d categories (%d parameters)\n", model.c_str(),
                kCategories, korw::models::NumberOfParameters());
    std::printf("  FITMCLOGIT %.3f s (with the table of 10^5 lines), -2log(Likelihood) %.4f\n",
                seconds.count(), korw::models::Deviance());
    std::printf("  peak memory %ld kB (%ld kB before the fit)\n", PeakKilobytes(), before);
    // The cut points widen the matrix beyond the formula's columns.
    int extra = korw::models::NumberOfParameters() - korw::models::NumberOfLinParameters();
    korw::bench::PrintKernelMultiple(seconds.count(),
                                     korw::bench::IterationsIn(korw::bench::TakeOutput(kOutFile)),
                                     korw::bench::KernelSeconds(extra));
    double rSeconds = 0, rDeviance = 0, rPeak = 0;
    std::string r = RResult(kUnits);
    if (std::sscanf(r.c_str(), "%lf %lf %lf", &rSeconds, &rDeviance, &rPeak) == 3) {
        std::printf("  R polr() %.3f s, deviance %.4f, peak memory %.0f kB\n", rSeconds, rDeviance,
                    rPeak);
        std::printf("  ratio %.3f (target <= 0.5)\n", seconds.count() / rSeconds);
    } else {
        std::printf("  R not available\n");
    }
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
