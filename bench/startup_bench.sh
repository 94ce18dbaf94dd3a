#!/bin/bash
# Start-up and close of a session: `korw --batch -` with empty input, timed over many runs in
# the optimised build tree; with Rscript on the path, `Rscript -e 'q()'` in the same run.
# Usage: bench/startup_bench.sh [runs]    (default 50; target: mean under 20 ms)
set -e
runs=${1:-50}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORW_BENCH=ON -DKORW_TESTS=OFF >/dev/null
ninja -C "$build" -j2 korw >/dev/null
korw="$build/korw"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# time_runs NAME COMMAND...: runs COMMAND $runs times (after one warm-up run) from an empty
# directory with empty input; prints mean, median and fastest in ms and sets $mean_us.
time_runs() {
    name=$1
    shift
    (cd "$work" && "$@" </dev/null >/dev/null 2>&1) || {
        echo "$name: the command failed"
        exit 1
    }
    times=()
    for ((i = 0; i < runs; i++)); do
        start=${EPOCHREALTIME/[.,]/}
        (cd "$work" && exec "$@" </dev/null >/dev/null 2>&1)
        end=${EPOCHREALTIME/[.,]/}
        times+=($((end - start)))
    done
    mapfile -t sorted < <(printf "%s\n" "${times[@]}" | sort -n)
    total=0
    for t in "${times[@]}"; do total=$((total + t)); done
    mean_us=$((total / runs))
    awk -v n="$name" -v m="$mean_us" -v med="${sorted[runs / 2]}" -v f="${sorted[0]}" -v r="$runs" \
        'BEGIN { printf "%-18s mean %7.2f ms   median %7.2f ms   fastest %7.2f ms   (%d runs)\n",
                 n, m / 1000, med / 1000, f / 1000, r }'
}

time_runs "korw --batch -" "$korw" --batch -
korw_us=$mean_us
if [ "$korw_us" -ge 20000 ]; then
    echo "korw start-up is above the 20 ms target"
fi
if command -v Rscript >/dev/null 2>&1; then
    time_runs "Rscript -e 'q()'" Rscript -e 'q()'
    awk -v k="$korw_us" -v r="$mean_us" 'BEGIN { printf "ratio korw / R: %.3f\n", k / r }'
else
    echo "Rscript not found: no comparison with R"
fi
