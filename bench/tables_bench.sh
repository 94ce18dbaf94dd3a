#!/bin/sh
# Builds and runs the tables benchmark in its own optimised build tree, then times R's order()
# with the same vectors reindexed. Needs the KORW_BENCH lines for tables_bench in
# bench/CMakeLists.txt.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 tables_bench
"$build/bench/tables_bench"
if command -v Rscript >/dev/null; then
    Rscript -e '
set.seed(1); n <- 1e6
k1 <- sample(1:20, n, TRUE); k2 <- sample(0:99999, n, TRUE) / 7
m <- lapply(1:5, function(i) sample(0:99999, n, TRUE) / 7)
t <- system.time({ o <- order(k1, k2); k1 <- k1[o]; k2 <- k2[o]; m <- lapply(m, function(v) v[o]) })
cat(sprintf("R: order() by 2 keys and reindexing 7 vectors: %.3f s\n", t[["elapsed"]]))'
fi
