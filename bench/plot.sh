#!/usr/bin/env bash
# Turn lookup_bench's CSV output into a plot of look-up time against the
# number of keys, one line per kind of look-up:
#
#   build-bench/out/lookup_bench --benchmark_format=csv > lookups.csv
#   bench/plot.sh lookups.csv bench/lookups.png
#
# Needs gnuplot (Debian: gnuplot-nox).
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: bench/plot.sh LOOKUPS.csv OUT.png" >&2
    exit 2
fi
csv=$1
png=$2
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

# name,iterations,real_time,cpu_time,time_unit,...: one file per kind, with
# the keys and the CPU time in microseconds (the machine may be shared, and
# CPU time is the steadier figure); with repetitions, the medians.
awk -F, -v dir="$data" '
    NR == 1 { next }
    $1 ~ /^"?BM_Lookup/ {
        name = $1; gsub(/"/, "", name)
        if (name ~ /_(mean|stddev|cv)$/) next
        sub(/_median$/, "", name)
        split(name, part, "/"); kind = part[1]; sub(/^BM_Lookup/, "", kind)
        scale = ($5 ~ /us/) ? 1 : ($5 ~ /ms/) ? 1000 : 0.001
        printf "%s %g\n", part[2], $4 * scale > (dir "/" kind ".dat")
    }' "$csv"

plots=()
for kind in Plain Dictionary Sqlite LowerBound; do
    [ -f "$data/$kind.dat" ] || continue
    case $kind in
        Plain) title="plain book (module)" ;;
        Dictionary) title="dictionary book (module and engine)" ;;
        Sqlite) title="SQLite index, key collation" ;;
        LowerBound) title="std::lower_bound in memory" ;;
    esac
    plots+=("'$data/$kind.dat' using 1:2 with linespoints title '$title'")
done
IFS=,
gnuplot <<GNUPLOT
set terminal pngcairo size 900,560 noenhanced
set output '$png'
set title 'Look-up of one word: CPU time per call (a shared, loaded 2-core machine)'
set xlabel 'keys'
set ylabel 'microseconds'
set logscale xy
set xtics ("1,000" 1000, "10,000" 10000, "100,000" 100000, "1,000,000" 1000000)
set grid
set key bottom right box opaque
set xrange [600:1700000]
plot ${plots[*]}
GNUPLOT
echo "wrote $png"
