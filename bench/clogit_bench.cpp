// FITCLOGIT Y = X1 + X2 + X3 + X4 / G on 2000 and on 200000 matched groups of 5 units (one or
// two cases in each) against R's survival::clogit(method = "exact") of the same model on the
// same data, timed in the same run, with the peak memory of both. Then FITCRASCH T = I / N of
// 30 items answered by 300 persons against the same conditional likelihood in R (clogit of the
// responses with the persons as strata), and of 255 items, the most a fit takes, alone: R's
// exact clogit needs minutes for that many items.
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
constexpr int kRepeats = 3;  // KORW's fits: the best of this many
const char* const kDataFile = "/tmp/korw_clogit_bench.bin";
const char* const kRaschFile = "/tmp/korw_rasch_bench.bin";
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
    std::chrono::duration<double> seconds{HUGE_VAL};
    std::string out;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        auto start = std::chrono::steady_clock::now();
        korw::special::FitConditionalLogitLinear("Y = X1 + X2 + X3 + X4 / G");
        seconds = std::min<std::chrono::duration<double>>(seconds,
                                                          std::chrono::steady_clock::now() - start);
        if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
        out = korw::bench::TakeOutput(kOutFile);
    }
    int iterations = korw::bench::IterationsIn(out);
    std::printf("FITCLOGIT Y = X1 + X2 + X3 + X4 / G: %d groups of %d units\n", groups, kGroupSize);
    std::printf(
        "  FITCLOGIT %.3f s (best of 3), %d iterations, -2log(Likelihood) %.4f, peak memory %.1f "
        "MiB\n",
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

// Item totals T and score group sizes N of `items` items answered by `persons` persons with
// abilities N(0, 1) and item difficulties evenly from -2 to 2, and the item factor I; the
// responses (person, item, response) in single precision to kRaschFile for R.
void MakeRaschData(int items, int persons) {
    data::DeclareVariate("T N", items);
    data::DeclareFactor("I", items, items);
    float* t = data::VariatePointer("T");
    float* n = data::VariatePointer("N");
    uint8_t* item = data::FactorPointer("I");
    std::mt19937 random(31);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    std::vector<std::vector<float>> columns(3);
    for (int i = 1; i <= items; ++i) item[i] = static_cast<uint8_t>(i);
    for (int person = 1; person <= persons; ++person) {
        double ability = normal(random);
        int score = 0;
        for (int i = 1; i <= items; ++i) {
            double difficulty = -2 + 4.0 * (i - 1) / (items - 1);
            int y = uniform(random) < 1 / (1 + std::exp(difficulty - ability)) ? 1 : 0;
            t[i] += y;
            score += y;
            columns[0].push_back(static_cast<float>(person));
            columns[1].push_back(static_cast<float>(i));
            columns[2].push_back(static_cast<float>(y));
        }
        if (score > 0) n[score] += 1;
    }
    korw::bench::WriteColumns(kRaschFile, columns);
}

// R's clogit of the responses with an item factor and the persons as strata: "seconds -2loglik".
std::string RRaschResult(int rows) {
    std::string script =
        "suppressMessages(library(survival)); con <- file('" + std::string(kRaschFile) +
        "', 'rb'); m <- matrix(readBin(con, 'double', 3 * " + std::to_string(rows) +
        ", size = 4), ncol = 3); close(con); "
        "d <- data.frame(person = m[, 1], item = factor(m[, 2]), y = m[, 3]); "
        "t <- system.time(f <- clogit(y ~ item + strata(person), data = d, "
        "method = 'exact'))[['elapsed']]; cat(t, -2 * f[['loglik']][2])";
    return korw::bench::RunRscript(script);
}

void RunRasch(int items, int persons, bool withR) {
    MakeRaschData(items, persons);
    korw::bench::TakeOutput(kOutFile);
    std::chrono::duration<double> seconds{HUGE_VAL};
    int iterations = 0;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        auto start = std::chrono::steady_clock::now();
        korw::special::FitConditionalRasch("T = I / N");
        seconds = std::min<std::chrono::duration<double>>(seconds,
                                                          std::chrono::steady_clock::now() - start);
        if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
        iterations = korw::bench::IterationsIn(korw::bench::TakeOutput(kOutFile));
    }
    std::printf("FITCRASCH T = I / N: %d items, %d persons\n", items, persons);
    std::printf("  FITCRASCH %.4f s (best of 3), %d iterations, -2log(Likelihood) %.4f\n",
                seconds.count(), iterations, korw::models::Deviance());
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, korw::bench::KernelSeconds());
    double rSeconds = 0, rDeviance = 0;
    if (withR &&
        std::sscanf(RRaschResult(items * persons).c_str(), "%lf %lf", &rSeconds, &rDeviance) == 2) {
        std::printf("  R clogit(method = \"exact\") %.3f s, -2 log likelihood %.4f\n", rSeconds,
                    rDeviance);
        std::printf("  ratio %.4f\n", seconds.count() / rSeconds);
    } else if (withR) {
        std::printf("  R with survival not available\n");
    }
    data::Delete("T N I");
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    for (int groups : kCases) RunCase(groups);
    RunRasch(30, 300, true);
    RunRasch(255, 1000, false);
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kRaschFile);
    std::remove(kOutFile);
}
