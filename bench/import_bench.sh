#!/bin/sh
# IMPORT of a CSV file of 10^6 rows and 10 columns (8 numeric with a few missing values, 2 text
# columns of 20 distinct values) and EXPORT of the same vectors, timed through the batch console
# with the peak memory of the process, beside R's read.csv and write.csv and data.table's fread
# and fwrite of the same file when R (r-base-core, r-cran-data.table) is installed.
# Run by hand: bench/import_bench.sh [build/korw]
set -eu
korw=$(realpath "${1:-$(dirname "$0")/../build/korw}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
awk 'BEGIN {
    srand(1)
    print "a,b,c,d,e,f,g,h,town,group"
    for (i = 1; i <= 1000000; i++) {
        line = ""
        for (k = 1; k <= 8; k++) {
            v = rand() < 0.01 ? "" : sprintf("%.6g", (rand() - 0.3) * 10 ^ (k % 5))
            line = line v ","
        }
        printf "%s\"town %d\",g%d\n", line, int(rand() * 20), int(rand() * 20)
    }
}' >data.csv
echo "file: $(du -m data.csv | cut -f1) MB, 10^6 rows, 10 columns"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
peak() { grep 'Maximum resident' "$1" | awk '{print $6 / 1024}'; }

t0=$(now); printf 'QUIT\n' | "$korw" --batch - >/dev/null; t1=$(now)
base=$(elapsed "$t0" "$t1")

t0=$(now)
printf 'IMPORT data.csv\nQUIT\n' | /usr/bin/time -v "$korw" --batch - >/dev/null 2>time.txt
t1=$(now)
import=$(echo "$(elapsed "$t0" "$t1") - $base" | bc)
echo "KORW IMPORT: $import s, peak memory $(peak time.txt) MB (vectors: 34 MB)"

t0=$(now)
printf 'IMPORT data.csv\nEXPORT out.csv\nQUIT\n' | "$korw" --batch --yes - >/dev/null
t1=$(now)
export=$(echo "$(elapsed "$t0" "$t1") - $base - $import" | bc)
echo "KORW EXPORT: $export s"
cmp -s data.csv out.csv && echo "(exported file identical to the imported one)" || true

if command -v Rscript >/dev/null; then
    Rscript -e '
        t <- function(e) system.time(e)[["elapsed"]]
        r1 <- t(x <- read.csv("data.csv"))
        cat("R read.csv:", r1, "s\n")
        r2 <- t(write.csv(x, "r.csv", row.names = FALSE))
        cat("R write.csv:", r2, "s\n")
        if (requireNamespace("data.table", quietly = TRUE)) {
            library(data.table)
            setDTthreads(2)
            f1 <- t(y <- fread("data.csv"))
            cat("data.table fread:", f1, "s\n")
            f2 <- t(fwrite(y, "f.csv"))
            cat("data.table fwrite:", f2, "s\n")
        }' >r.txt
    cat r.txt
    fread=$(awk '/fread/ {print $3}' r.txt)
    fwrite=$(awk '/fwrite/ {print $3}' r.txt)
    readcsv=$(awk '/read.csv/ {print $3}' r.txt)
    echo "ratio IMPORT/read.csv: $(echo "scale=3; $import / $readcsv" | bc)"
    if [ -n "$fread" ]; then
        echo "ratio IMPORT/fread: $(echo "scale=3; $import / $fread" | bc)"
        echo "ratio EXPORT/fwrite: $(echo "scale=3; $export / $fwrite" | bc)"
    fi
    printf 'x <- data.table::fread("data.csv")\n' >peak.R
    /usr/bin/time -v Rscript peak.R 2>rtime.txt >/dev/null
    echo "R session with fread peak memory: $(peak rtime.txt) MB"
fi
