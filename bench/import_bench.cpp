// Delimited text of 10^6 rows and 10 columns (8 of numbers with a few missing values, 2 of 20
// texts each): the time to write it and to read it back, on every core and on one, and, when R
// with data.table is installed, fwrite and fread on the same file in the same run.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "data/vectors.h"
#include "io/delimited.h"

namespace {

using korw::data::MissingValue;
using korw::io::ColumnKind;
using korw::io::ExportColumn;

constexpr size_t Rows = 1000000;
constexpr int NumberColumns = 8;
constexpr int TextColumns = 2;
constexpr int Texts = 20;
constexpr double MissingShare = 0.01;

using korw::bench::Seconds;

std::vector<ExportColumn> MakeColumns() {
    std::mt19937 random(1);
    std::normal_distribution<float> normal(100, 50);
    std::uniform_real_distribution<double> uniform(0, 1);
    std::vector<ExportColumn> columns;
    for (int c = 0; c < NumberColumns; ++c) {
        ExportColumn& column = columns.emplace_back();
        column.name = "x" + std::to_string(c + 1);
        for (size_t u = 0; u < Rows; ++u) {
            column.values.push_back(uniform(random) < MissingShare ? MissingValue : normal(random));
        }
    }
    for (int c = 0; c < TextColumns; ++c) {
        ExportColumn& column = columns.emplace_back();
        column.name = "t" + std::to_string(c + 1);
        column.kind = ColumnKind::Levels;
        column.levelCount = Texts;
        column.texts.push_back("");
        for (int k = 1; k <= Texts; ++k) column.texts.push_back("level " + std::to_string(k));
        for (size_t u = 0; u < Rows; ++u) column.levels.push_back(1 + random() % Texts);
    }
    return columns;
}

}  // namespace

int main() {
    auto dir =
        std::filesystem::temp_directory_path() / ("korw_import_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string file = (dir / "data.csv").string();
    std::vector<ExportColumn> columns = MakeColumns();
    double write = Seconds([&] {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr || !korw::io::WriteDelimited(out, columns, ',', false)) {
            std::printf("writing %s failed\n", file.c_str());
        }
        if (out != nullptr) std::fclose(out);
    });
    columns.clear();
    auto read = [&](int threads) {
        return Seconds([&] {
            korw::io::DelimitedOptions options;
            options.threads = threads;
            korw::io::ImportTable table;
            std::string error;
            if (!korw::io::ReadDelimited(file, "data.csv", options, table, error)) {
                std::printf("%s\n", error.c_str());
            }
        });
    };
    double readAll = read(0), readOne = read(1);
    std::printf("%zu rows x %d columns, %.0f MB\n", Rows, NumberColumns + TextColumns,
                std::filesystem::file_size(file) / 1e6);
    std::printf("write %.3f s, read %.3f s (one thread %.3f s), peak memory %.0f MB\n", write,
                readAll, readOne, korw::bench::PeakMegabytes());
    std::string r = korw::bench::RunRscript(
        "suppressMessages(library(data.table)); f <- '" + file +
        "'; d <- fread(f); "
        "r <- min(sapply(1:3, function(i) system.time(fread(f))[['elapsed']])); "
        "w <- min(sapply(1:3, function(i) system.time(fwrite(d, paste0(f, '.r')))[['elapsed']])); "
        "cat(r, w)");
    double rRead = 0, rWrite = 0;
    if (std::sscanf(r.c_str(), "%lf %lf", &rRead, &rWrite) == 2) {
        std::printf("R data.table: fwrite %.3f s, fread %.3f s; ratio write %.2f, read %.2f\n",
                    rWrite, rRead, write / rWrite, readAll / rRead);
    } else {
        std::printf("R with data.table not available: no comparison\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
