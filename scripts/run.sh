#!/usr/bin/env bash
# Builds the module, its companion libraries and the book tool, makes the
# sample books, and shows what the tool reads of each of them.
#
#   bash scripts/run.sh --reader [ADDR:PORT]
#
# builds the same and opens the web reader on the sample books instead, at
# http://127.0.0.1:8080/ (or ADDR:PORT), until Ctrl-C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
reader=
if [ "${1:-}" = --reader ]; then
    reader=${2:-127.0.0.1:8080}
elif [ $# -gt 0 ]; then
    echo "usage: bash scripts/run.sh [--reader [ADDR:PORT]]" >&2
    exit 2
fi
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
if [ -n "$reader" ]; then
    echo "the reader on the sample books: http://$reader/ (Ctrl-C stops it)"
    exec "$out/zav" serve "$samples" --http "$reader"
fi
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
