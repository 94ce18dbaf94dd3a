#!/bin/sh
# Builds and runs the ordinal-fit benchmark against the libraries of an optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-mcunit"
cmake -S "$root" -B "$build" -G Ninja -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 korw_special
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/mcunit_bench.cpp" \
    "$build/src/special/libkorw_special.a" "$build/src/models/libkorw_models.a" \
    "$build/src/distr/libkorw_distr.a" "$build/src/data/libkorw_data.a" -o "$build/mcunit_bench"
"$build/mcunit_bench"
