#!/usr/bin/env bash
# Time and peak memory of the tool's large jobs, each beside its target:
#
#   zav build    manifests of 100,000 and 1,000,000 dictionary words
#                (bench/make_manifest.py): peak memory against the manifest's size
#   zav import   every dictd dictionary given (default: Debian's FreeDict
#                German-English and GCIDE when installed): peak memory against
#                the larger of 64 MiB and half the book
#
#   bench/scale.sh [ZAV] [INDEX...]       ZAV defaults to build/out/zav
#
# Figures come from /usr/bin/time (elapsed, processor time, maximum resident
# set size). Scratch files go to a temporary folder that is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zav=${1:-$root/build/out/zav}
shift || true
[ -x "$zav" ] || { echo "no zav at $zav: build it first (cmake --build build)"; exit 2; }
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (Debian package time)"; exit 2; }
indexes=("$@")
if [ ${#indexes[@]} -eq 0 ]; then
    for f in /usr/share/dictd/freedict-deu-eng.index /usr/share/dictd/gcide.index; do
        [ -f "$f" ] && indexes+=("$f")
    done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# measure LABEL CMD...: runs CMD, sets elapsed, cpu and peak_kib.
measure() {
    local label=$1
    shift
    /usr/bin/time -f '%e %U %S %M' -o "$scratch/time" "$@" >/dev/null 2>"$scratch/err" ||
        { cat "$scratch/err"; echo "$label: failed"; exit 1; }
    read -r elapsed user sys peak_kib <"$scratch/time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }')
}

mib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1048576 }'; }

printf '%-34s %9s %8s %10s %10s %7s\n' job elapsed cpu "peak MiB" "limit MiB" verdict
for words in 100000 1000000; do
    python3 "$root/bench/make_manifest.py" "$words" "$scratch/m.json"
    size=$(stat -c %s "$scratch/m.json")
    measure "build $words" "$zav" build "$scratch/m.json" "$scratch/m.zav" --quiet
    peak=$((peak_kib * 1024))
    # A small multiple of the manifest: twice its size.
    limit=$((2 * size))
    verdict=$([ "$peak" -le "$limit" ] && echo ok || echo OVER)
    printf '%-34s %8ss %7ss %10s %10s %7s\n' "build, $words words ($(mib "$size") MiB)" "$elapsed" "$cpu" \
        "$(mib "$peak")" "$(mib "$limit")" "$verdict"
    rm -f "$scratch"/m.*
done
for index in "${indexes[@]}"; do
    measure "import $index" "$zav" import dictd "$index" "$scratch/d.zav" --quiet
    book=$(stat -c %s "$scratch/d.zav")
    peak=$((peak_kib * 1024))
    limit=$((book / 2 > 64 * 1048576 ? book / 2 : 64 * 1048576))
    verdict=$([ "$peak" -le "$limit" ] && echo ok || echo OVER)
    printf '%-34s %8ss %7ss %10s %10s %7s\n' "import $(basename "$index" .index) ($(mib "$book") MiB)" "$elapsed" \
        "$cpu" "$(mib "$peak")" "$(mib "$limit")" "$verdict"
    rm -f "$scratch/d.zav"
done
