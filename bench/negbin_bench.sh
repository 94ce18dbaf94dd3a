#!/bin/sh
# Builds and runs the negative binomial benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-negbin"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF -DKORW_WERROR=OFF >/dev/null
ninja -C "$build" -j2 negbin_bench
"$build/bench/negbin_bench"
