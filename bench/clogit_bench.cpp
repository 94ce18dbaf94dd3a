// FITCLOGIT Y = X1 + X2 + X3 + X4 / G on 2000 and on 200000 matched groups of 5 units (one or
// two cases in each) against R's survival::clogit(method = "exact") of the same model on the
// same data, timed in the same run, with the peak memory of both.
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
#include "special/clogit.h"

namespace {

namespace data = korw::data;
constexpr int kCases[] = {2000, 200000};  // groups
constexpr int kGroupSize = 5;
constexpr int kVariates = 4;
const char* const kDataFile = "/tmp/korw_clogit_bench.bin";
const char* const kOutFile = "/tmp/korw_clogit_bench.out";

// G, Y and X1..X4 over the units of `groups` groups, written in single precision to kDataFile
// (column after column) for R.
void MakeData(int groups) {
    const int n = groups * kGroupSize;
    data::DeclareVariate("G Y", n);
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        data::DeclareVariate("X" + std::to_string(k), n);
        x.push_back(data::VariatePointer("X" + std::to_string(k)));
    }
    float* g = data::VariatePointer("G");
    float* y = data::VariatePointer("Y");
    std::mt19937 random(23);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<double> uniform;
    const double beta[kVariates] = {0.5, -0.3, 0.8, 0.1};
    for (int group = 0; group < groups; ++group) {
        int first = group * kGroupSize + 1;
        std::vector<double> w(kGroupSize);
        for (int i = 0; i < kGroupSize; ++i) {
            int u = first + i;
            g[u] = static_cast<float>(group + 1);
            y[u] = 0;
            double eta = 0;
            for (int k = 0; k < kVariates; ++k) eta += beta[k] * (x[k][u] = normal(random));
            w[i] = std::exp(eta);
        }
        int cases = uniform(random) < 0.3 ? 2 : 1;
        for (int c = 0; c < cases; ++c) {
            double total = 0;
            for (int i = 0; i < kGroupSize; ++i)
                if (y[first + i] == 0) total += w[i];
            double pick = uniform(random) * total;
            for (int i = 0; i < kGroupSize; ++i) {
                if (y[first + i] != 0) continue;
                pick -= w[i];
                if (pick <= 0 || i == kGroupSize - 1) {
                    y[first + i] = 1;
                    break;
                }
            }
        }
    }
    std::FILE* out = std::fopen(kDataFile, "wb");
    std::fwrite(&g[1], sizeof(float), n, out);
    std::fwrite(&y[1], sizeof(float), n, out);
    for (float* column : x) std::fwrite(&column[1], sizeof(float), n, out);
    std::fclose(out);
}

// R's clogit() of the same model, timed inside R: "seconds -2loglik peakKiB"; empty without
// R or without the survival package.
std::string RResult(int n) {
    std::string script =
        "suppressMessages(library(survival)); n <- " + std::to_string(n) + "; con <- file('" +
        kDataFile +
        "', 'rb'); m <- matrix(readBin(con, 'double', 6 * n, size = 4), n); close(con); "
        "d <- data.frame(g = m[, 1], y = m[, 2], m[, 3:6]); names(d)[3:6] <- paste0('x', 1:4); "
        "t <- system.time(f <- clogit(y ~ x1 + x2 + x3 + x4 + strata(g), data = d, "
        "method = 'exact'))[['elapsed']]; "
        "s <- readLines('/proc/self/status'); "
        "hwm <- as.numeric(gsub('[^0-9]', '', s[grep('^VmHWM', s)])); "
        "cat(t, -2 * f[['loglik']][2], hwm)";
    return korw::bench::RunRscript(script);
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One case: the fit, the kernel on its design, and R on the same data.
void RunCase(int groups) {
    const int n = groups * kGroupSize;
    MakeData(groups);
    korw::bench::TakeOutput(kOutFile);
    auto start = std::chrono::steady_clock::now();
    korw::special::FitConditionalLogitLinear("Y = X1 + X2 + X3 + X4 / G");
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    std::string out = korw::bench::TakeOutput(kOutFile);
    int iterations = korw::bench::IterationsIn(out);
    std::printf("FITCLOGIT Y = X1 + X2 + X3 + X4 / G: %d groups of %d units\n", groups, kGroupSize);
    std::printf("  FITCLOGIT %.3f s, %d iterations, -2log(Likelihood) %.4f, peak memory %.1f MiB\n",
                seconds.count(), iterations, korw::models::Deviance(), PeakKiB() / 1024.0);
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, korw::bench::KernelSeconds());
    double rSeconds = 0, rDeviance = 0, rPeak = 0;
    std::string r = RResult(n);
    if (std::sscanf(r.c_str(), "%lf %lf %lf", &rSeconds, &rDeviance, &rPeak) == 3) {
        std::printf(
            "  R clogit(method = \"exact\") %.3f s, -2 log likelihood %.4f, peak memory "
            "%.1f MiB\n",
            rSeconds, rDeviance, rPeak / 1024.0);
        std::printf("  ratio %.3f (target <= 0.5)\n", seconds.count() / rSeconds);
    } else {
        std::printf("  R with survival not available\n");
    }
    data::Delete("G Y X1 X2 X3 X4");
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    for (int groups : kCases) RunCase(groups);
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
