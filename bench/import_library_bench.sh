#!/bin/sh
# Builds and runs the delimited-text benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 import_bench
"$build/bench/import_bench"
