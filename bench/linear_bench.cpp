// FITLINEARNORMAL Y = 1 + A + B + A*B + X1 + ... + X10 on 10^6 units against R's lm() of the
// same model on the same data, timed in the same run; then the growth of the fit time with the
// number of units and with the number of columns.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "data/errors.h"
#include "data/session.h"
#include "data/vectors.h"
#include "kernel_timing.h"
#include "models/models.h"

namespace {

namespace data = korw::data;
constexpr int kVariates = 10;
const char* const kDataFile = "/tmp/korw_linear_bench.bin";

using korw::bench::Seconds;

std::string VariateTerms(const char* prefix) {
    std::string terms;
    for (int k = 1; k <= kVariates; ++k) terms += std::string(prefix) + "X" + std::to_string(k);
    return terms;
}

// Y, A (10 levels), B (4 levels), F (levels), X1..X10 over n units; written in single
// precision to kDataFile (column after column) for R.
void MakeData(int n, int fLevels, bool writeFile) {
    if (data::LengthOf("Y") > 0) data::Delete("Y A B F" + VariateTerms(" "));
    data::DeclareVariate("Y", n);
    data::DeclareFactor("A", n, 10);
    data::DeclareFactor("B", n, 4);
    data::DeclareFactor("F", n, fLevels);
    std::mt19937 random(7);
    std::normal_distribution<float> normal;
    std::vector<std::vector<float>> columns(kVariates + 3, std::vector<float>(n));
    uint8_t* a = data::FactorPointer("A");
    uint8_t* b = data::FactorPointer("B");
    uint8_t* f = data::FactorPointer("F");
    for (int u = 1; u <= n; ++u) {
        a[u] = static_cast<uint8_t>(1 + random() % 10);
        b[u] = static_cast<uint8_t>(1 + random() % 4);
        f[u] = static_cast<uint8_t>(1 + random() % fLevels);
        columns[1][u - 1] = a[u];
        columns[2][u - 1] = b[u];
    }
    for (int k = 1; k <= kVariates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        float* x = data::VariatePointer(name);
        for (int u = 1; u <= n; ++u) columns[2 + k][u - 1] = x[u] = normal(random);
    }
    float* y = data::VariatePointer("Y");
    for (int u = 1; u <= n; ++u) {
        double v = 0.3 * a[u] - 0.5 * b[u] + normal(random);
        for (int k = 1; k <= kVariates; ++k) v += 0.1 * k * columns[2 + k][u - 1];
        columns[0][u - 1] = y[u] = static_cast<float>(v);
    }
    if (!writeFile) return;
    korw::bench::WriteColumns(kDataFile, columns);
}

double FitSeconds(const std::string& model) {
    return Seconds([&] {
        korw::models::FitLinearNormal(model);
        if (!data::ErrorFree) std::printf("  error: %s\n", data::ErrorMessage.c_str());
    });
}

// R's lm() of the same model on the file's data, timed inside R; negative without R.
double RSeconds(int n) {
    std::string script =
        "n <- " + std::to_string(n) + "; con <- file('" + kDataFile +
        "', 'rb'); m <- matrix(readBin(con, 'double', 13 * n, size = 4), n); close(con); "
        "d <- data.frame(y = m[, 1], a = factor(m[, 2]), b = factor(m[, 3]), m[, 4:13]); "
        "names(d)[4:13] <- paste0('x', 1:10); "
        "f <- y ~ a * b + x1 + x2 + x3 + x4 + x5 + x6 + x7 + x8 + x9 + x10; "
        "cat(min(sapply(1:3, function(i) system.time(lm(f, d))[['elapsed']])))";
    std::string command = "Rscript -e \"" + script + "\" 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    double t = -1;
    if (std::fscanf(pipe, "%lf", &t) != 1) t = -1;
    pclose(pipe);
    return t;
}

}  // namespace

int main() {
    korw::models::InstallModelFitHooks();
    data::Start("KORW JUN2009", "/dev/null");
    data::ContinueOnError = true;
    const std::string model = "Y = 1 + A + B + A*B" + VariateTerms(" + ");

    MakeData(1000000, 2, true);
    double korw = FitSeconds(model);
    double r = RSeconds(1000000);
    std::printf("%s on 10^6 units (%d columns)\n  FITLINEARNORMAL %.3f s\n", model.c_str(),
                korw::models::NumberOfLinParameters(), korw);
    // One pass over the data: the kernel with the response as the score's column.
    korw::bench::PrintKernelMultiple(korw, 1, korw::bench::KernelSeconds());
    if (r > 0)
        std::printf("  R lm() %.3f s, ratio %.3f (target <= 0.25)\n", r, korw / r);
    else
        std::printf("  R not available\n");

    std::printf("Growth with the number of units (same model):\n");
    for (int n : {100000, 200000, 500000, 1000000}) {
        MakeData(n, 2, false);
        std::printf("  %7d units %.3f s\n", n, FitSeconds(model));
    }

    std::printf("Growth with the number of columns (10^6 units; Y = 1 + X1..X10 + F*X1):\n");
    for (int levels : {0, 40, 90, 189}) {
        MakeData(1000000, levels == 0 ? 1 : levels, false);
        std::string m = "Y = 1" + VariateTerms(" + ") + (levels == 0 ? "" : " + F*X1");
        double t = FitSeconds(m);
        std::printf("  %4d columns %.3f s, %.1f x kernel\n", korw::models::NumberOfLinParameters(),
                    t, t / korw::bench::KernelSeconds());
    }
    std::remove(kDataFile);
    data::Finish();
}
