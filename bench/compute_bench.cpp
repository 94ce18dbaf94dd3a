// COMPUTE over 10^7 units against a plain loop over the same float arrays and, when Rscript is
// installed, against R's vectorised arithmetic timed in the same run. Prints the ratios, then
// the time to compile (or refuse) lines of a million characters that nest to the limit.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "compute/compute.h"
#include "data/errors.h"
#include "data/session.h"
#include "data/vectors.h"

namespace {

using korw::data::MissingValue;
constexpr int Units = 10000000;

using korw::bench::Seconds;

// The R time of the same work, measured inside R; negative when R is not available.
double RSeconds(const std::string& expression) {
    std::string command = "Rscript -e 'set.seed(1); x <- rnorm(" + std::to_string(Units) +
                          "); t <- min(sapply(1:3, function(i) system.time(y <- " + expression +
                          ")[[\"elapsed\"]])); cat(t)' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    double t = -1;
    if (std::fscanf(pipe, "%lf", &t) != 1) t = -1;
    pclose(pipe);
    return t;
}

void Report(const char* title, double korw, double loop, double r) {
    std::printf("%s\n  COMPUTE %.3f s, plain loop %.3f s, ratio %.2f\n", title, korw, loop,
                korw / loop);
    if (r > 0)
        std::printf("  R %.3f s, COMPUTE / R %.2f\n", r, korw / r);
    else
        std::printf("  R not available\n");
}

}  // namespace

int main() {
    namespace data = korw::data;
    data::Start("KORW JUN2009", "/dev/null");
    data::ContinueOnError = true;
    data::DeclareVariate("X", Units);
    data::DeclareVariate("Y", Units);
    float* x = data::VariatePointer("X");
    float* y = data::VariatePointer("Y");
    std::mt19937 generator(1);
    std::normal_distribution<float> normal;
    for (int u = 1; u <= Units; ++u) x[u] = normal(generator);

    double korw = Seconds([] { korw::compute::Compute("Y = EXP(X)/(1+EXP(X))"); });
    double loop = Seconds([&] {
        for (int u = 1; u <= Units; ++u) {
            if (x[u] == MissingValue) {
                y[u] = MissingValue;
                continue;
            }
            double v = x[u];
            y[u] = static_cast<float>(std::exp(v) / (1 + std::exp(v)));
        }
    });
    Report("Y = EXP(X)/(1+EXP(X))", korw, loop, RSeconds("exp(x)/(1+exp(x))"));

    korw = Seconds([] { korw::compute::Compute("Y = (X-MEAN(X))^2"); });
    loop = Seconds([&] {
        double sum = 0;
        for (int u = 1; u <= Units; ++u) sum += x[u];
        double mean = sum / Units;
        for (int u = 1; u <= Units; ++u) {
            double d = x[u] - mean;
            y[u] = static_cast<float>(d * d);
        }
    });
    Report("Y = (X-MEAN(X))^2", korw, loop, RSeconds("(x-mean(x))^2"));
    if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());

    // Compile time alone: the right-hand sides have no vector, so nothing is evaluated per unit.
    const std::string digits(1000000, '1');
    struct Line {
        const char* title;
        std::string text;
    };
    std::string functions, indexes, parentheses = std::string(300000, '(') + "2";
    for (int i = 0; i < 990; ++i) functions += "EXP(", indexes += "X(";
    functions += digits + std::string(990, ')');
    indexes += digits + std::string(990, ')');
    parentheses += std::string(300000, ')');
    std::string chain = "1";
    while (chain.size() < 1000000) chain += "+1";
    const Line lines[] = {
        {"990 EXP( around a 10^6-digit constant (refused)", "Z = " + functions},
        {"990 X( around a 10^6-digit constant (refused)", "Z = " + indexes},
        {"300000 parentheses around 2", "Z = " + parentheses},
        {"500000 additions (refused: registers)", "Z = " + chain},
    };
    for (const Line& line : lines) {
        double seconds = Seconds([&] { korw::compute::Compute(line.text); });
        std::printf("Compile %s: %.3f s\n", line.title, seconds);
    }
    data::Finish();
    return 0;
}
