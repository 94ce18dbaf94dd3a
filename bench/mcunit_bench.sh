#!/bin/sh
# Builds and runs the ordinal-fit benchmark in its own optimised build tree.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-mcunit"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF -DKORW_WERROR=OFF >/dev/null
ninja -C "$build" -j2 mcunit_bench
"$build/bench/mcunit_bench"
