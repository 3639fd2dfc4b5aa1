#!/usr/bin/env bash
# Builds the module, its companion libraries and the book tool, makes the
# sample books, and shows what the tool reads of each of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages "${NATIVE_PACKAGES[@]}"

build=${TOVIX_BUILD_DIR:-$root/build}
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVIX_BUILD_TESTS=OFF -DTOVIX_BUILD_TOOLS=ON &&
       cmake --build "$build" -j"$(nproc)"; } >"$build/run-build.log" 2>&1; then
    tail -n 40 "$build/run-build.log"
    echo "build failed; the whole log is $build/run-build.log" >&2
    exit 1
fi

out=$build/out
samples=$build/samples
# Each sample book and a word to look up in it.
for pair in "glossary.zav binding" "lexicon.zav harbour"; do
    set -- $pair
    echo "== zav info $1"
    "$out/zav" info "$samples/$1"
    echo
    echo "== zav lookup $1 $2"
    "$out/zav" lookup "$samples/$1" "$2"
    echo
done
echo "== the example C host on glossary.zav"
"$out/zav_example_host" "$samples/glossary.zav"
