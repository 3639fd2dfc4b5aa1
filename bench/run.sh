#!/usr/bin/env bash
# Build the benchmarks (Release, in build-bench), run the look-up comparison
# and plot it: the figures go to build-bench/lookups.txt and .csv, the plot to
# bench/lookups.png. As root it installs the Debian packages it needs.
# Extra arguments go to lookup_bench (e.g. --benchmark_filter=/100000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

build=${TOVIX_BENCH_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVIX_BUILD_BENCH=ON -DTOVIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lookup_bench module_bench >/dev/null
"$build/out/lookup_bench" --benchmark_out="$build/lookups.csv" --benchmark_out_format=csv "$@" |
    tee "$build/lookups.txt"
"$root/bench/plot.sh" "$build/lookups.csv" "$root/bench/lookups.png"
