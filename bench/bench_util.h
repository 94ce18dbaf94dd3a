// What every benchmark program does around the work it times: read back the library's output,
// run the same work in R, write its data for R, and measure peak memory.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "data/outfile.h"

namespace korw::bench {

// The best of three runs of `work`, in seconds.
template <typename F>
double Seconds(F work) {
    double best = 1e30;
    for (int repeat = 0; repeat < 3; ++repeat) {
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
        best = std::min(best, d.count());
    }
    return best;
}

// The library's output so far (written to `outFile`); the file is started anew.
inline std::string TakeOutput(const char* outFile) {
    data::CloseOutFile();
    std::ifstream in(outFile);
    std::stringstream s;
    s << in.rdbuf();
    data::NewOutFile(outFile);
    return s.str();
}

// The standard output of `Rscript -e script`; empty when R is not installed. The script must not
// hold double quotes.
inline std::string RunRscript(const std::string& script) {
    std::string command = "Rscript -e \"" + script + "\" 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char buffer[256] = {};
    std::string result;
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) result += buffer;
    pclose(pipe);
    return result;
}

// Columns of single-precision values one after another, as R's readBin(size = 4) reads them.
inline void WriteColumns(const char* file, const std::vector<std::vector<float>>& columns) {
    std::FILE* out = std::fopen(file, "wb");
    if (out == nullptr) return;
    for (const auto& c : columns) std::fwrite(c.data(), sizeof(float), c.size(), out);
    std::fclose(out);
}

// The number of iterations a likelihood fit reported in its output, 0 when it reported none.
inline int IterationsIn(const std::string& output) {
    size_t at = output.find("Convergence after ");
    return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 18);
}

// Peak resident memory in MB of this process (RUSAGE_SELF) or of the largest child waited for
// (RUSAGE_CHILDREN).
inline double PeakMegabytes(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024.0;
}

// "Y = 1 + A + X1 + ... + Xk" (A only when the factor has levels).
inline std::string ModelOf(int levels, int variates) {
    std::string model = levels > 0 ? "Y = 1 + A" : "Y = 1";
    for (int k = 1; k <= variates; ++k) model += " + X" + std::to_string(k);
    return model;
}

// "10^6", "10^5" or the number of units.
inline std::string UnitsText(int n) {
    return n == 1000000 ? "10^6" : n == 100000 ? "10^5" : std::to_string(n);
}

}  // namespace korw::bench
