// FITANOVA y = W + S + W*S [B + B*P] of a balanced split-plot on 10^6 units (10 blocks, 4
// whole plots of 4 treatments W per block, 5 subplot treatments S, 5000 units per subplot)
// against R's aov(y ~ W * S + Error(B / P)) on the same data, timed in the same run, with the
// peak memory of both processes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "data/errors.h"
#include "data/session.h"
#include "data/vectors.h"
#include "special/anova.h"

namespace {

namespace data = korw::data;
constexpr int kBlocks = 10, kPlots = 4, kSubplots = 5, kRepeats = 5000;
constexpr int kUnits = kBlocks * kPlots * kSubplots * kRepeats;
const char* const kDataFile = "/tmp/korw_anova_bench.bin";

using korw::bench::Seconds;

// Peak resident memory of this process in MB (VmHWM).
double PeakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
    return -1;
}

// Units in block, plot, subplot order; W randomised within each block.
void MakeData() {
    data::DeclareVariate("Y", kUnits);
    data::DeclareFactor("B", kUnits, kBlocks);
    data::DeclareFactor("P", kUnits, kPlots);
    data::DeclareFactor("W", kUnits, kPlots);
    data::DeclareFactor("S", kUnits, kSubplots);
    float* y = data::VariatePointer("Y");
    uint8_t *b = data::FactorPointer("B"), *p = data::FactorPointer("P"),
            *w = data::FactorPointer("W"), *s = data::FactorPointer("S");
    std::mt19937 random(11);
    std::normal_distribution<float> normal;
    int u = 0;
    for (int block = 1; block <= kBlocks; ++block) {
        std::vector<int> treatment = {1, 2, 3, 4};
        std::shuffle(treatment.begin(), treatment.end(), random);
        float blockEffect = 2 * normal(random);
        for (int plot = 1; plot <= kPlots; ++plot) {
            float plotEffect = normal(random);
            for (int sub = 1; sub <= kSubplots; ++sub)
                for (int r = 0; r < kRepeats; ++r) {
                    ++u;
                    b[u] = static_cast<uint8_t>(block);
                    p[u] = static_cast<uint8_t>(plot);
                    w[u] = static_cast<uint8_t>(treatment[plot - 1]);
                    s[u] = static_cast<uint8_t>(sub);
                    y[u] =
                        20 + 0.5f * w[u] + 0.3f * s[u] + blockEffect + plotEffect + normal(random);
                }
        }
    }
    std::FILE* out = std::fopen(kDataFile, "wb");
    std::fwrite(y + 1, sizeof(float), kUnits, out);
    for (const uint8_t* f : {b, p, w, s}) std::fwrite(f + 1, 1, kUnits, out);
    std::fclose(out);
}

// R's aov() with the Error() term on the file's data, timed inside R; its time and peak memory
// (MB), negative without R.
std::pair<double, double> RSecondsAndPeak() {
    std::string n = std::to_string(kUnits);
    std::string script =
        "n <- " + n + "; con <- file('" + kDataFile +
        "', 'rb'); y <- readBin(con, 'double', n, size = 4); "
        "f <- lapply(1:4, function(i) factor(readBin(con, 'integer', n, size = 1, signed = "
        "FALSE))); close(con); d <- data.frame(y = y, B = f[[1]], P = f[[2]], W = f[[3]], S = "
        "f[[4]]); rm(y, f); "
        "t <- system.time(a <- aov(y ~ W * S + Error(B / P), data = d))[['elapsed']]; "
        "h <- grep('VmHWM', readLines('/proc/self/status'), value = TRUE); "
        "cat(t, as.numeric(gsub('[^0-9]', '', h)) / 1024)";
    std::string command = "Rscript -e \"" + script + "\" 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, -1};
    double t = -1, peak = -1;
    if (std::fscanf(pipe, "%lf %lf", &t, &peak) != 2) t = -1;
    pclose(pipe);
    return {t, peak};
}

}  // namespace

int main() {
    data::Start("KORW JUN2009", "/dev/null");
    data::ContinueOnError = true;
    MakeData();
    const std::string model = "Y = W + S + W*S [B + B*P]";
    double korw = Seconds([&] {
        korw::special::FitANOVA(model);
        if (!data::ErrorFree) std::printf("  error: %s\n", data::ErrorMessage.c_str());
    });
    double peak = PeakMegabytes();
    std::printf("FITANOVA %s on %d units\n  KORW %.3f s, peak memory %.0f MB\n", model.c_str(),
                kUnits, korw, peak);
    auto [r, rPeak] = RSecondsAndPeak();
    if (r > 0)
        std::printf(
            "  R aov() with Error() %.3f s, peak memory %.0f MB\n  ratio %.3f (target <= "
            "0.5)\n",
            r, rPeak, korw / r);
    else
        std::printf("  R not available\n");
    std::remove(kDataFile);
    data::Finish();
}
