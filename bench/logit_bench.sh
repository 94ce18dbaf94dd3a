#!/bin/sh
# Builds and runs the logit-fit benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-logit"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF -DKORW_WERROR=OFF >/dev/null
ninja -C "$build" -j2 logit_bench
"$build/bench/logit_bench"
"$build/bench/logit_bench" memory
