// FITLOGITLINEAR Z = 1 + A + X1 + ... + X10 and FITLOGLINEAR C = 1 + A + X1 + ... + X10 (21
// columns) on 10^6 units against R's glm(family = binomial) and glm(family = poisson) of the
// same models on the same data, timed in the same run, with the iteration counts of both and
// the cost of the bare cross-product kernel on the design. `logit_bench memory` instead fits
// 10^7 units and reports the memory the fit adds to its vectors.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

namespace data = korw::data;
constexpr int kUnits = 1000000;
constexpr int kVariates = 10;
const char* const kDataFile = "/tmp/korw_logit_bench.bin";
const char* const kOutFile = "/tmp/korw_logit_bench.out";

// Z (binary), A (10 levels), X1..X10, C (counts) over n units; written in single precision to
// kDataFile (column after column) for R.
void MakeData(int n) {
    data::DeclareVariate("Z", n);
    data::DeclareFactor("A", n, 10);
    std::mt19937 random(11), countRandom(13);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<double> uniform;
    std::vector<std::vector<float>> columns(kVariates + 3, std::vector<float>(n));
    data::DeclareVariate("C", n);
    float* c = data::VariatePointer("C");
    uint8_t* a = data::FactorPointer("A");
    for (int u = 1; u <= n; ++u) columns[1][u - 1] = a[u] = static_cast<uint8_t>(1 + random() % 10);
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        for (int u = 1; u <= n; ++u) columns[1 + k][u - 1] = x.back()[u] = normal(random);
    }
    float* z = data::VariatePointer("Z");
    for (int u = 1; u <= n; ++u) {
        double eta = -0.5 + 0.1 * a[u];
        for (int k = 0; k < kVariates; ++k) eta += 0.05 * (k + 1) * (k % 2 ? -1 : 1) * x[k][u];
        columns[0][u - 1] = z[u] = uniform(random) < 1 / (1 + std::exp(-eta)) ? 1.0f : 0.0f;
        std::poisson_distribution<int> count(std::exp(eta / 2));
        columns[kVariates + 2][u - 1] = c[u] = static_cast<float>(count(countRandom));
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's glm() of the same model, timed inside R: "seconds iterations deviance"; empty without R.
std::string RResult(int n, bool logit) {
    std::string script =
        "n <- " + std::to_string(n) + "; con <- file('" + kDataFile +
        "', 'rb'); m <- matrix(readBin(con, 'double', 13 * n, size = 4), n); close(con); "
        "d <- data.frame(z = m[, 1], a = factor(m[, 2]), m[, 3:12], c = m[, 13]); "
        "names(d)[3:12] <- paste0('x', 1:10); "
        "f <- " +
        std::string(logit ? "z" : "c") +
        " ~ a + x1 + x2 + x3 + x4 + x5 + x6 + x7 + x8 + x9 + x10; "
        "t <- system.time(g <- glm(f, family = " +
        (logit ? "binomial" : "poisson") +
        ", data = d))[['elapsed']]; "
        "cat(t, g[['iter']], deviance(g))";
    return korw::bench::RunRscript(script);
}

// Times one fit and R's fit of the same model; prints both and the kernel's cost.
void Compare(const char* command, void (*fit)(const std::string&), const std::string& model,
             bool logit, double target) {
    korw::bench::TakeOutput(kOutFile);
    auto start = std::chrono::steady_clock::now();
    fit(model);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
    std::string out = korw::bench::TakeOutput(kOutFile);
    int iterations = korw::bench::IterationsIn(out);
    std::printf("%s on 10^6 units (%d columns)\n", model.c_str(),
                korw::models::NumberOfLinParameters());
    std::printf("  %s %.3f s (target <= %.2f), %d iterations, -2log(Likelihood) %.4f\n", command,
                seconds.count(), target, iterations, korw::models::Deviance());
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, korw::bench::KernelSeconds());
    double rSeconds = 0, rDeviance = 0;
    int rIterations = 0;
    std::string r = RResult(kUnits, logit);
    if (std::sscanf(r.c_str(), "%lf %d %lf", &rSeconds, &rIterations, &rDeviance) == 3) {
        std::printf("  R glm() %.3f s, %d iterations, deviance %.4f\n", rSeconds, rIterations,
                    rDeviance);
        std::printf("  ratio %.3f\n", seconds.count() / rSeconds);
    } else {
        std::printf("  R not available\n");
    }
}

// Resident memory in MB from /proc/self/status: "VmRSS:" now or "VmHWM:" the peak.
double StatusMegabytes(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::strlen(key))) / 1024;
    return 0;
}

// FITLOGITLINEAR of the same model on 10^7 units: the memory the fit adds to its vectors (the
// peak, reset before the fit, against the resident memory before it).
void MemoryCase() {
    constexpr int n = 10000000;
    data::DeclareVariate("ZB", n);
    data::DeclareFactor("AB", n, 10);
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    uint8_t* a = data::FactorPointer("AB");
    for (int u = 1; u <= n; ++u) a[u] = static_cast<uint8_t>(1 + (next() >> 8) % 10);
    std::vector<float*> x;
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "XB" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        for (int u = 1; u <= n; ++u) x.back()[u] = (next() >> 8) * (1.0f / 16777216) - 0.5f;
    }
    float* z = data::VariatePointer("ZB");
    for (int u = 1; u <= n; ++u) {
        double eta = -0.5 + 0.1 * a[u] + x[0][u] - x[1][u];
        z[u] = (next() >> 8) * (1.0 / 16777216) < 1 / (1 + std::exp(-eta)) ? 1.0f : 0.0f;
    }
    double vectors = n * (4.0 * (kVariates + 1) + 1) / (1024 * 1024);
    double before = StatusMegabytes("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to the present RSS
    std::string model = "ZB = 1 + AB";
    for (int k = 1; k <= kVariates; ++k) model += " + XB" + std::to_string(k);
    korw::bench::TakeOutput(kOutFile);
    auto start = std::chrono::steady_clock::now();
    korw::models::FitLogitLinear(model);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    double peak = StatusMegabytes("VmHWM:");
    std::printf("FITLOGITLINEAR on 10^7 units (21 columns): %.2f s\n", seconds.count());
    std::printf("  vectors %.0f MB; resident before the fit %.0f MB, peak during it %.0f MB\n",
                vectors, before, peak);
    std::printf("  the fit adds %.1f MB: %.3f x the vectors' memory (target: in all <= 1.5 x)\n",
                peak - before, (peak - before) / vectors);
}

}  // namespace

int main(int argc, char** argv) {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    std::string terms = " = 1 + A";
    for (int k = 1; k <= kVariates; ++k) terms += " + X" + std::to_string(k);
    if (argc > 1 && std::string(argv[1]) == "memory") {
        MemoryCase();
        data::Finish();
        std::remove(kOutFile);
        return 0;
    }
    MakeData(kUnits);
    Compare("FITLOGITLINEAR", korw::models::FitLogitLinear, "Z" + terms, true, 0.15);
    Compare("FITLOGLINEAR", korw::models::FitLogLinear, "C" + terms, false, 0.2);
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
