#!/bin/sh
# READ of 10^6 numbers into one variate and LIST of 10^5 units to a file, timed through the
# batch console, beside R's scan() of the same file when R is installed.
# Run by hand: bench/read_list.sh [build/korw]
set -eu
korw=$(realpath "${1:-$(dirname "$0")/../build/korw}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
awk 'BEGIN { srand(1); for (i = 1; i <= 1000000; i++) printf "%.6g%s", rand() * 1000, (i % 10 ? " " : "\n") }' >numbers.txt

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

# The start-up cost of a session alone, subtracted from the timed runs.
t0=$(now); printf 'QUIT\n' | "$korw" --batch - >/dev/null; t1=$(now)
base=$(elapsed "$t0" "$t1")

t0=$(now)
printf 'VARIATE x 1000000\nOPEN numbers.txt\nREAD x\nQUIT\n' | "$korw" --batch - >/dev/null
t1=$(now)
read=$(echo "$(elapsed "$t0" "$t1") - $base" | bc)
echo "READ 10^6 numbers: $read s"

for n in 10000 100000; do
    t0=$(now)
    printf 'VARIATE x y %s\nOUTFILE list.txt\nLIST x y\nQUIT\n' "$n" | "$korw" --batch - >/dev/null
    t1=$(now)
    echo "LIST $n units to a file: $(echo "$(elapsed "$t0" "$t1") - $base" | bc) s"
done

if command -v Rscript >/dev/null; then
    r=$(Rscript -e 'invisible(scan("numbers.txt", quiet=TRUE)); t <- system.time(x <- scan("numbers.txt", quiet=TRUE))[["elapsed"]]; cat(t)')
    echo "R scan() of the same file: $r s"
    echo "ratio KORW/R: $(echo "scale=3; $read / $r" | bc)"
fi
