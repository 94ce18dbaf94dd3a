#!/bin/sh
# Builds and runs the COMPUTE benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 compute_bench
"$build/bench/compute_bench"
