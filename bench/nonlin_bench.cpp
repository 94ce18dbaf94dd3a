// FITNONLINEAR Y = 1 + X1 + ... + X9 with the Poisson mean m = EXP(.), Dm = EXP(.) and
// v = . (10 parameters) on 10^6 units, against R's glm(family = poisson) of the same model on
// the same data, timed in the same run, with the iteration counts and the peak memory of both.
// The fit is timed from eta = 0 and from the start eta = LN(Y + 0.5) that a user would give.
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
#include "compute/compute.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "kernel_timing.h"
#include "models/models.h"
#include "special/nonlin.h"

namespace {

namespace data = korw::data;
constexpr int kUnits = 1000000;
constexpr int kVariates = 9;
const char* const kDataFile = "/tmp/korw_nonlin_bench.bin";
const char* const kOutFile = "/tmp/korw_nonlin_bench.out";

// Y (Poisson counts) and X1..X9 over n units; written in single precision to kDataFile
// (column after column) for R.
void MakeData(int n) {
    data::DeclareVariate("Y", n);
    std::mt19937 random(13);
    std::normal_distribution<float> normal;
    std::vector<std::vector<float>> columns(kVariates + 1, std::vector<float>(n));
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        for (int u = 1; u <= n; ++u) columns[k][u - 1] = x.back()[u] = normal(random);
    }
    float* y = data::VariatePointer("Y");
    for (int u = 1; u <= n; ++u) {
        double eta = 0.5;
        for (int k = 0; k < kVariates; ++k) eta += 0.05 * (k + 1) * (k % 2 ? -1 : 1) * x[k][u];
        std::poisson_distribution<int> poisson(std::exp(eta));
        columns[0][u - 1] = y[u] = static_cast<float>(poisson(random));
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

long PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// One fit, timed; prints its iterations and the residual sum of squares of the last
// weighted fit (Pearson's X2).
double TimedFit(const std::string& model, const std::string& start) {
    korw::bench::TakeOutput(kOutFile);
    korw::special::SetWorkingNames(korw::special::DefaultWorkingResponse,
                                   korw::special::DefaultWorkingWeight);
    korw::special::SetStartingValues(start);
    auto begin = std::chrono::steady_clock::now();
    korw::special::FitNonLinear1(model, "EXP(.)", "EXP(.)", ".");
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begin;
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    std::string out = korw::bench::TakeOutput(kOutFile);
    size_t at = out.find("Convergence after ");
    int iterations = at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 18);
    at = out.find("P[ ChiSquare(");
    std::string test = at == std::string::npos ? "?" : out.substr(at, out.find('\n', at) - at);
    std::printf("  FITNONLINEAR from %-12s %.3f s, %d iterations, %s\n",
                start.empty() ? "eta = 0" : start.c_str(), seconds.count(), iterations,
                test.c_str());
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, korw::bench::KernelSeconds());
    return seconds.count();
}

// R's glm() of the same model, timed inside R: "seconds iterations X2 peak-MB"; empty
// without R.
std::string RResult(int n) {
    std::string script =
        "n <- " + std::to_string(n) + "; con <- file('" + kDataFile +
        "', 'rb'); m <- matrix(readBin(con, 'double', 10 * n, size = 4), n); close(con); "
        "d <- data.frame(y = m[, 1], m[, 2:10]); names(d)[2:10] <- paste0('x', 1:9); "
        "t <- system.time(g <- glm(y ~ ., family = poisson, data = d))[['elapsed']]; "
        "s <- readLines('/proc/self/status'); hwm <- s[grep('VmHWM', s)]; "
        "cat(t, g[['iter']], sum(residuals(g, type = 'pearson')^2), "
        "as.numeric(gsub('[^0-9]', '', hwm)) / 1024)";
    return korw::bench::RunRscript(script);
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    std::string model = "Y = 1";
    for (int k = 1; k <= kVariates; ++k) model += "+X" + std::to_string(k);
    MakeData(kUnits);
    korw::compute::Compute("START = LN(Y + 0.5)");
    std::printf("%s, mu = EXP(eta), v = mu, on 10^6 units (10 parameters)\n", model.c_str());
    TimedFit(model, "");
    double seconds = TimedFit(model, "START");
    std::printf("  peak memory %ld MB\n", PeakMegabytes());
    double rSeconds = 0, rX2 = 0, rPeak = 0;
    int rIterations = 0;
    std::string r = RResult(kUnits);
    if (std::sscanf(r.c_str(), "%lf %d %lf %lf", &rSeconds, &rIterations, &rX2, &rPeak) == 4) {
        std::printf("  R glm() %.3f s, %d iterations, Pearson X2 %.4f, peak memory %.0f MB\n",
                    rSeconds, rIterations, rX2, rPeak);
        std::printf("  ratio %.3f (from the start; target <= 0.5)\n", seconds / rSeconds);
    } else {
        std::printf("  R not available\n");
    }
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
