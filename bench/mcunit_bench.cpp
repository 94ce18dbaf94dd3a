// FITMCLOGIT against R's MASS::polr of the same model on the same data, timed in the same run,
// with the peak memory of both processes and the fit's cost per iteration as a multiple of the
// bare cross-product kernel on its design. Two cases: Y = 1 + A + X1 + ... + X4 (a factor
// response with 5 categories, 12 parameters with the thresholds) on 10^5 units, and
// Y = 1 + X1 + ... + X7 (4 categories, 10 parameters) on 10^6 units. The command writes a table
// line per unit; the fit is also timed up to the table. KORW_SKIP_R=1 leaves R out; KORW_REPEAT=n
// times each fit n times and keeps the best (for a busy machine).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
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
using Clock = std::chrono::steady_clock;
const char* const kDataFile = "/tmp/korw_mcunit_bench.bin";
int Repeats() {
    const char* n = std::getenv("KORW_REPEAT");
    return n != nullptr && std::atoi(n) > 1 ? std::atoi(n) : 1;
}

const char* const kOutFile = "/tmp/korw_mcunit_bench.out";

// One benchmark case: its units, the response's categories and cut points, the levels of the
// factor A (0: no factor) and the variates.
struct Case {
    int units;
    std::vector<double> cuts;  // categories - 1
    int levels;
    int variates;
    int Categories() const { return static_cast<int>(cuts.size()) + 1; }
};

// Y (ordered categories), A, X1..Xk over n units, Y drawn from the logistic latent model;
// written in single precision to kDataFile (column after column: Y, A when present, X1..Xk)
// for R.
void MakeData(const Case& c) {
    int n = c.units;
    data::ClearTable();
    data::DeclareFactor("Y", n, c.Categories());
    std::mt19937 random(17);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<double> uniform(1.0E-12, 1 - 1.0E-12);
    std::vector<std::vector<float>> columns(1, std::vector<float>(n));
    uint8_t* a = nullptr;
    if (c.levels > 0) {
        data::DeclareFactor("A", n, c.levels);
        a = data::FactorPointer("A");
        columns.emplace_back(n);
        for (int u = 1; u <= n; ++u)
            columns.back()[u - 1] = a[u] = static_cast<uint8_t>(1 + random() % c.levels);
    }
    std::vector<float*> x;
    for (int k = 1; k <= c.variates; ++k) {
        std::string name = "X" + std::to_string(k);
        data::DeclareVariate(name, n);
        x.push_back(data::VariatePointer(name));
        columns.emplace_back(n);
        for (int u = 1; u <= n; ++u) columns.back()[u - 1] = x.back()[u] = normal(random);
    }
    uint8_t* y = data::FactorPointer("Y");
    for (int u = 1; u <= n; ++u) {
        double eta = a != nullptr ? 0.2 * a[u] : 0.0;
        for (int k = 0; k < c.variates; ++k) eta += 0.3 * (k % 4 + 1) * (k % 2 ? -1 : 1) * x[k][u];
        double p = uniform(random);
        double latent = eta + std::log(p / (1 - p));
        int level = 1;
        while (level < c.Categories() && latent > c.cuts[level - 1]) ++level;
        columns[0][u - 1] = y[u] = static_cast<uint8_t>(level);
    }
    korw::bench::WriteColumns(kDataFile, columns);
}

// R's polr() of the same model, timed inside R: "seconds deviance peak-kB"; empty without R.
std::string RResult(const Case& c) {
    int columns = 1 + (c.levels > 0 ? 1 : 0) + c.variates;
    std::string script =
        "suppressMessages(library(MASS)); n <- " + std::to_string(c.units) + "; con <- file('" +
        kDataFile + "', 'rb'); m <- matrix(readBin(con, 'double', " + std::to_string(columns) +
        " * n, size = 4), n); close(con); "
        "d <- data.frame(y = factor(m[, 1], ordered = TRUE), m[, " +
        std::to_string(columns - c.variates + 1) + ":" + std::to_string(columns) +
        ", drop = FALSE]); names(d)[-1] <- paste0('x', 1:" + std::to_string(c.variates) + "); ";
    if (c.levels > 0) script += "d[['a']] <- factor(m[, 2]); ";
    script += "f <- y ~ " + std::string(c.levels > 0 ? "a + " : "") + "x1";
    for (int j = 2; j <= c.variates; ++j) script += " + x" + std::to_string(j);
    script +=
        "; t <- system.time(p <- polr(f, data = d, Hess = TRUE))[['elapsed']]; "
        "s <- readLines('/proc/self/status'); hwm <- s[grep('VmHWM', s)]; "
        "cat(t, deviance(p), as.numeric(gsub('[^0-9]', '', hwm)))";
    return korw::bench::RunRscript(script);
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// When the table of observations begins: the fit itself is done by then. The observer leaves
// once it has seen it, so that the table's lines cost nothing extra.
Clock::time_point tableStart;
void NoteTable(std::string_view text) {
    if (text.find("Observations and fitted values.") == std::string_view::npos) return;
    tableStart = Clock::now();
    data::ObserveFile("", nullptr);
}

void Run(const Case& c) {
    std::string model = korw::bench::ModelOf(c.levels, c.variates);
    MakeData(c);
    long before = PeakKilobytes();
    std::chrono::duration<double> seconds{1e30}, fitSeconds{1e30};
    long peak = 0;
    std::string out;
    for (int repeat = 0; repeat < Repeats(); ++repeat) {
        korw::bench::TakeOutput(kOutFile);
        data::ObserveFile(kOutFile, NoteTable);
        auto start = Clock::now();
        korw::special::StoreMcCullaghHeading("Underlying continuous distribution: Logistic.");
        korw::special::FitMcCullaghModel(model, korw::special::mcunit::LogisticF,
                                         korw::special::mcunit::LogisticDensity,
                                         korw::special::mcunit::LogisticSlope);
        seconds = std::min<std::chrono::duration<double>>(seconds, Clock::now() - start);
        fitSeconds = std::min<std::chrono::duration<double>>(fitSeconds, tableStart - start);
        if (repeat == 0) peak = PeakKilobytes();  // before any output is read back
        if (!data::ErrorFree) std::printf("error: %s\n", data::ErrorMessage.c_str());
        out = korw::bench::TakeOutput(kOutFile);
    }
    std::string units = korw::bench::UnitsText(c.units);
    std::printf("FITMCLOGIT %s on %s units, %d categories (%d parameters)\n", model.c_str(),
                units.c_str(), c.Categories(), korw::models::NumberOfParameters());
    std::printf(
        "  FITMCLOGIT %.3f s (with the table of %s lines), fit %.3f s, -2log(Likelihood) %.4f\n",
        seconds.count(), units.c_str(), fitSeconds.count(), korw::models::Deviance());
    std::printf("  peak memory %ld kB (%ld kB before the fit)\n", peak, before);
    // The cut points widen the matrix beyond the formula's columns.
    int extra = korw::models::NumberOfParameters() - korw::models::NumberOfLinParameters();
    int iterations = korw::bench::IterationsIn(out);
    double kernel = korw::bench::KernelSeconds(extra);
    korw::bench::PrintKernelMultiple(seconds.count(), iterations, kernel);
    std::printf(
        "  fit up to the table = %.1f x kernel x iterations, whole command %.1f (target: fit <= "
        "3 x kernel x iterations)\n",
        fitSeconds.count() / (kernel * std::max(iterations, 1)),
        seconds.count() / (kernel * std::max(iterations, 1)));
    if (std::getenv("KORW_SKIP_R")) return;
    double rSeconds = 0, rDeviance = 0, rPeak = 0;
    std::string r = RResult(c);
    if (std::sscanf(r.c_str(), "%lf %lf %lf", &rSeconds, &rDeviance, &rPeak) == 3) {
        std::printf("  R polr() %.3f s, deviance %.4f, peak memory %.0f kB\n", rSeconds, rDeviance,
                    rPeak);
        std::printf("  ratio %.3f (target <= 0.5)\n", seconds.count() / rSeconds);
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
    Run({100000, {-1.5, -0.5, 0.3, 1.2}, 4, 4});
    Run({1000000, {-1.0, 0.2, 1.1}, 0, 7});
    data::Finish();
    if (std::getenv("KORW_KEEP")) return 0;
    std::remove(kDataFile);
    std::remove(kOutFile);
}
