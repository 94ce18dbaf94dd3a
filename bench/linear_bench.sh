#!/bin/sh
# Builds and runs the linear-fit benchmark against the libraries of an optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-linear"
cmake -S "$root" -B "$build" -G Ninja -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 korw_models
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/linear_bench.cpp" \
    "$build/src/models/libkorw_models.a" "$build/src/distr/libkorw_distr.a" \
    "$build/src/data/libkorw_data.a" -o "$build/linear_bench"
"$build/linear_bench"
