#!/usr/bin/env bash
# MATCH per command on Debian's German-English dictionary (dict-de-en): the
# reader library's strategies (substring, re, soundex, suffix) beside dictd
# serving the same index and `zav serve` serving a book imported from it, both
# on the loopback address, in one run. Builds match_bench and zav (Release, in
# build-bench, or $TOVIX_BENCH_DIR), starts both servers on free ports,
# prints the figures and stops the servers.
#
#   bench/match_bench.sh [INDEX] [match_bench arguments: --repeat N, STRATEGY PATTERN...]
#
# INDEX defaults to /usr/share/dictd/german-english.index (its .dict.dz
# beside it). Exit 2 when dictd, the dictionary or the build is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
index=/usr/share/dictd/german-english.index
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ] && [ -f "$1" ]; then
    index=$1
    shift
fi
data=${index%.index}.dict.dz
for need in "$index" "$data"; do
    [ -f "$need" ] || { echo "match_bench.sh: $need: missing (Debian: apt-get install dict-de-en)" >&2; exit 2; }
done
dictd=$(command -v dictd || echo /usr/sbin/dictd)
[ -x "$dictd" ] || { echo "match_bench.sh: dictd is not installed (Debian: apt-get install dictd)" >&2; exit 2; }

build=${TOVIX_BENCH_DIR:-$root/build-bench}
source "$root/scripts/cache.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVIX_BUILD_BENCH=ON -DTOVIX_BUILD_TESTS=OFF \
    "${cache_cmake_args[@]}" >/dev/null || exit 2
cmake --build "$build" --target match_bench zav >/dev/null || exit 2

# dictd drops its root rights to read the files: its folder is readable by all.
work=$(mktemp -d)
chmod 755 "$work"
dictd_pid=
zav_pid=
cleanup() {
    # Each server is stopped whatever became of the other.
    for pid in $dictd_pid $zav_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/dictd.conf" <<EOF
global { limit_queries 0
 limit_matches 0
 limit_time 0
 listen_to 127.0.0.1 }
database bench { data "$data" index "$index" }
EOF
touch "$work/dictd.log"
chmod 666 "$work/dictd.log"
"$dictd" -d nodetach -c "$work/dictd.conf" -p "$port" --locale C.UTF-8 -L "$work/dictd.log" >>"$work/dictd.log" 2>&1 &
dictd_pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null && break
    sleep 0.1
done
echo "dictd $("$dictd" --version 2>&1 | head -1 | cut -d' ' -f2) on port $port, pid $dictd_pid"
"$build/out/zav" import dictd --quiet "$index" "$work/bench.zav" || exit 2
"$build/out/zav" serve "$work/bench.zav" --listen 127.0.0.1:0 >"$work/zav.out" 2>/dev/null &
zav_pid=$!
for _ in $(seq 100); do
    grep -q "^listening on" "$work/zav.out" 2>/dev/null && break
    sleep 0.1
done
zav_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/zav.out")
echo "zav serve on port $zav_port, pid $zav_pid"
# The server loads the book's keys in the background as it starts: let it.
sleep 2
"$build/out/match_bench" "$index" --dictd "127.0.0.1:$port" bench --zav "127.0.0.1:$zav_port" bench "$@"
