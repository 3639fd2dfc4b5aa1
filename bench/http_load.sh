#!/usr/bin/env bash
# Load on the web side of `zav serve` over loopback: a shelf of Debian's
# German-English dictionary (dict-de-en, 580k headwords) and four others
# (English-German, FOLDOC, FreeDict French-English and English-Russian),
# imported once into the build folder, served by `zav serve --http`; then
# http_load puts CLIENTS clients on /api/lookup and on /api/suggest for
# SECONDS each, with 1,000 headwords of the German-English index, and prints
# the throughput, p50/p90/p99 latency and errors of each. Builds zav and
# http_load (Release, in build-bench, or $TOVIX_BENCH_DIR).
#
#   bench/http_load.sh [--clients N] [--seconds S] [--http-threads N]
#
# Exit 2 when a dictionary or the build is missing, 1 when a request failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clients=100 seconds=10 threads=
while [ $# -gt 0 ]; do
    case $1 in
        --clients) clients=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --http-threads) threads=$2; shift 2 ;;
        *) echo "usage: bench/http_load.sh [--clients N] [--seconds S] [--http-threads N]" >&2; exit 2 ;;
    esac
done
dicts=(german-english english-german foldoc freedict-fra-eng freedict-eng-rus)
for d in "${dicts[@]}"; do
    [ -f "/usr/share/dictd/$d.index" ] || {
        echo "http_load.sh: /usr/share/dictd/$d.index: missing (Debian: dict-de-en, dict-foldoc," \
            "dict-freedict-fra-eng, dict-freedict-eng-rus)" >&2
        exit 2
    }
done

build=${TOVIX_BENCH_DIR:-$root/build-bench}
source "$root/scripts/cache.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVIX_BUILD_BENCH=ON -DTOVIX_BUILD_TESTS=OFF \
    "${cache_cmake_args[@]}" >/dev/null || exit 2
cmake --build "$build" --target zav http_load >/dev/null || exit 2
zav=$build/out/zav

# The books, imported again when the dictionary is newer than its book.
books=$build/http-load-books
mkdir -p "$books"
for d in "${dicts[@]}"; do
    if [ ! -f "$books/$d.zav" ] || [ "/usr/share/dictd/$d.index" -nt "$books/$d.zav" ]; then
        echo "importing $d"
        "$zav" import dictd "/usr/share/dictd/$d.index" "$books/$d.zav" >/dev/null || exit 2
    fi
done
# 1,000 headwords of the German-English index, the same ones at every run.
python3 - "/usr/share/dictd/german-english.index" "$books/words.txt" <<'EOF'
import random, sys
words = sorted({l.split("\t", 1)[0].strip() for l in open(sys.argv[1], encoding="utf-8", errors="replace")
                if not l.startswith("00")} - {""})
random.Random(1).shuffle(words)
open(sys.argv[2], "w", encoding="utf-8").write("\n".join(words[:1000]) + "\n")
EOF

out=$(mktemp)
server=
cleanup() {
    [ -n "$server" ] && { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
    rm -f "$out"
}
trap cleanup EXIT
"$zav" serve "$books" --http 127.0.0.1:0 ${threads:+--http-threads "$threads"} >"$out" 2>/dev/null &
server=$!
for _ in $(seq 600); do
    grep -q '^http listening on ' "$out" && break
    sleep 0.1
done
address=$(sed -n 's/^http listening on //p' "$out")
[ -n "$address" ] || { echo "http_load.sh: zav serve --http did not start" >&2; exit 2; }
# A short warm-up, so that the tables are in memory before the figures.
"$build/out/http_load" --clients 4 --seconds 3 "$address" "$books/words.txt" >/dev/null || true
echo "zav serve --http on ${#dicts[@]} books (${threads:-default} HTTP threads), $(nproc) cores"
"$build/out/http_load" --clients "$clients" --seconds "$seconds" "$address" "$books/words.txt"
