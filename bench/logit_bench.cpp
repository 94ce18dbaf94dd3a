// FITLOGITLINEAR Z = 1 + A + X1 + ... + X10 and FITLOGLINEAR C = 1 + A + X1 + ... + X10 (21
// columns) on 10^6 units against R's glm(family = binomial) and glm(family = poisson) of the
// same models on the same data, timed in the same run, with the iteration counts of both and
// the cost of the bare cross-product kernel on the design.
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

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", kOutFile);
    data::ContinueOnError = true;
    data::NewOutFile(kOutFile);
    std::string terms = " = 1 + A";
    for (int k = 1; k <= kVariates; ++k) terms += " + X" + std::to_string(k);
    MakeData(kUnits);
    Compare("FITLOGITLINEAR", korw::models::FitLogitLinear, "Z" + terms, true, 0.15);
    Compare("FITLOGLINEAR", korw::models::FitLogLinear, "C" + terms, false, 0.2);
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
