// Timings of SORT, the tables and the data set files over 10^6 units. Prints one line per
// operation; the shell script beside it adds R's time for the same sort.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "data/datasets.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/sort.h"
#include "data/vectors.h"
#include "tools/tables.h"

using namespace korw;

namespace {

constexpr int kUnits = 1000000;

double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Check(const char* what) {
    if (!data::ErrorFree) std::fprintf(stderr, "%s: %s\n", what, data::ErrorMessage.c_str());
}

}  // namespace

int main() {
    std::string dir = "/tmp/korw_tables_bench_" + std::to_string(::getpid());
    std::string out = dir + ".out";
    data::Start("bench", out);
    data::ContinueOnError = true;
    std::mt19937 random(1);
    data::DeclareVariate("k2 m1 m2 m3 m4 m5", kUnits);
    data::DeclareFactor("k1", kUnits, 20);
    data::DeclareFactor("f2", kUnits, 30);
    for (const char* name : {"k2", "m1", "m2", "m3", "m4", "m5"}) {
        float* v = data::VariatePointer(name);
        for (int u = 1; u <= kUnits; ++u) v[u] = static_cast<float>(random() % 100000) / 7.0f;
    }
    uint8_t* k1 = data::FactorPointer("k1");
    uint8_t* f2 = data::FactorPointer("f2");
    for (int u = 1; u <= kUnits; ++u) {
        k1[u] = static_cast<uint8_t>(1 + random() % 20);
        f2[u] = static_cast<uint8_t>(1 + random() % 30);
    }

    auto t = std::chrono::steady_clock::now();
    data::Sort("k1 k2 +");
    Check("sort");
    std::printf("SORT 10^6 units by 2 keys, 6 more vectors moved: %.3f s\n", Seconds(t));

    t = std::chrono::steady_clock::now();
    tools::TwoWayTable("m1", "k1", "f2");
    Check("table");
    std::printf("TWOWAYTABLE (sums) over 10^6 units: %.3f s\n", Seconds(t));

    t = std::chrono::steady_clock::now();
    tools::Tabulate("n s=m1", "k1*f2", "");
    Check("tabulate");
    std::printf("TABULATE over 10^6 units: %.3f s\n", Seconds(t));
    data::Delete("n s f2");

    data::DeclareVariate("m6 m7 m8", kUnits);
    double megabytes = 10.0 * 4 * kUnits / 1.0e6;
    t = std::chrono::steady_clock::now();
    data::SaveData(dir, "k2 m1 m2 m3 m4 m5 m6 m7 m8 k1");
    Check("save");
    double save = Seconds(t);
    std::printf("SAVEDATA of 10 vectors (%.0f MB): %.3f s, %.0f MB/s\n", megabytes, save,
                megabytes / save);
    data::Delete("k2 m1 m2 m3 m4 m5 m6 m7 m8 k1");
    t = std::chrono::steady_clock::now();
    data::GetData(dir, "");
    Check("get");
    double get = Seconds(t);
    std::printf("GETDATA of 10 vectors: %.3f s, %.0f MB/s\n", get, megabytes / get);
    data::Finish();
    std::remove((dir + ".KDS").c_str());
    std::remove(out.c_str());
}
