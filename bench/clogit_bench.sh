#!/bin/sh
# Builds and runs the conditional logit benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-clogit"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF -DKORW_WERROR=OFF >/dev/null
ninja -C "$build" -j2 clogit_bench
"$build/bench/clogit_bench"
