#!/usr/bin/env bash
# Build the benchmarks (Release, in build-bench), run the look-up comparison,
# plot it and set the figures against their targets: the figures go to
# build-bench/lookups.txt and .csv, the plot to bench/lookups.png, the
# targets to build-bench/targets.txt. As root it installs the Debian packages it needs.
# Extra arguments go to lookup_bench (e.g. --benchmark_filter=/100000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

build=${TOVIX_BENCH_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVIX_BUILD_BENCH=ON -DTOVIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lookup_bench module_bench >/dev/null
# Five repetitions, interleaved at random so that a slow spell of a shared
# machine falls on every kind of look-up alike; the medians count.
"$build/out/lookup_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$build/lookups.csv" --benchmark_out_format=csv "$@" |
    tee "$build/lookups.txt"
"$root/bench/plot.sh" "$build/lookups.csv" "$root/bench/lookups.png"
"$root/bench/targets.sh" "$build/lookups.csv" | tee "$build/targets.txt"
