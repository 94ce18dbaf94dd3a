#!/bin/sh
# Builds and runs the analysis-of-variance benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-anova"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF -DKORW_WERROR=OFF >/dev/null
ninja -C "$build" -j2 anova_bench
"$build/bench/anova_bench"
