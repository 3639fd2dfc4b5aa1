#!/usr/bin/env bash
# Line and branch coverage of the test suite, per library: builds the
# project with GCC's --coverage, runs every test, and reports with gcovr
#
#   src/      the module, with the platform library (platform/) every library links
#   engine/   the dictionary engine library (engine/src, but its writer)
#   memo/     the memo library (memo/src, but its writer)
#   format/   the book format library (layout, decoding, key collation)
#
# and fails when a library's branch coverage is below its floor. Branches
# that no test can take are marked in the source with a GCOVR_EXCL comment
# that says why; nothing else is left out of the count.
#
#   scripts/coverage.sh                 build, test, report, check the floors
#   TOVIX_COVERAGE_BUILD=DIR            the build folder (default: build-coverage)
#   TOVIX_COVERAGE_HTML=1               also write DIR/coverage/index.html
#   TOVIX_COVERAGE_REPORT_ONLY=1        report on the counts of the last run
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/scripts/cache.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" "${WEB_TEST_PACKAGES[@]}" "${COVERAGE_PACKAGES[@]}" || exit 1

dir=${TOVIX_COVERAGE_BUILD:-$root/build-coverage}
jobs=$(nproc)

# The floors of branch coverage, in percent: the figures the suite reaches
# today, less a margin of a few branches. In src/ (with platform/) and the
# engine every branch is taken or marked unreachable with the reason, so a
# drop there means an untested new branch.
floor_src=99.0
floor_engine=98.0
floor_memo=96.5
floor_format=97.0

if [ -z "${TOVIX_COVERAGE_REPORT_ONLY:-}" ]; then
    # Counters updated atomically (the tests run threads), through a specs
    # file that the compiler cache accepts (-fprofile-update=atomic it does not).
    flags="--coverage -specs=$root/cmake/profile-update-atomic.specs"
    echo "=== coverage: configure and build"
    cmake_fresh_generator "$dir"
    cmake -S "$root" -B "$dir" "${cmake_generator[@]}" "${cache_cmake_args[@]}" -DCMAKE_BUILD_TYPE=Debug \
        -DTOVIX_WERROR=ON -DTOVIX_BUILD_TOOLS=ON \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
        -DCMAKE_SHARED_LINKER_FLAGS=--coverage >"$dir.configure.log" 2>&1 ||
        { tail -n 40 "$dir.configure.log"; echo "=== coverage: configure failed"; exit 1; }
    cache_stats_begin "$dir.ccache.log"
    cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1 ||
        { grep -E -i 'error' "$dir.build.log" | head -n 30; echo "=== coverage: build failed"; exit 1; }
    cache_stats_end "$dir.ccache.log"
    find "$dir" -name '*.gcda' -delete
    echo "=== coverage: test"
    ctest --test-dir "$dir" -j"$jobs" --timeout 600 2>&1 | tail -n 15
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "=== coverage: tests failed"; exit 1; }
fi

echo "=== coverage: report"
counts=$dir/coverage.json
gcovr -r "$root" --object-directory "$dir" --exclude-unreachable-branches -j "$jobs" \
    --json "$counts" "$dir" >"$dir.gcovr.log" 2>&1 || { tail -n 20 "$dir.gcovr.log"; exit 1; }
if [ -n "${TOVIX_COVERAGE_HTML:-}" ]; then
    mkdir -p "$dir/coverage"
    gcovr -a "$counts" -r "$root" --filter "$root/(src|platform|engine/src|memo/src|format)/" \
        --html-details "$dir/coverage/index.html" && echo "html: $dir/coverage/index.html"
fi

status=0
# report NAME FLOOR FILTER [EXCLUDE]: one line of figures, and the floor check.
report() {
    local name=$1 floor=$2 filter=$3 exclude=${4:-}
    # The text report goes to a file of the build folder: gcovr replaces its
    # output file, and given /dev/null as root it would replace the device.
    local args=(-a "$counts" -r "$root" --filter "$root/$filter" --print-summary -o "$dir/coverage-$name.txt")
    [ -n "$exclude" ] && args+=(--exclude "$root/$exclude")
    local summary lines branches
    summary=$(gcovr "${args[@]}" 2>&1)
    # gcovr prints "lines: 98.4% (928 out of 943)".
    lines=$(awk '/^lines:/ {gsub(/[()]/, ""); print $2, "(" $3 "/" $6 ")"}' <<<"$summary")
    branches=$(awk '/^branches:/ {gsub(/[()]/, ""); print $2, "(" $3 "/" $6 ")"}' <<<"$summary")
    local percent=${branches%%%*}
    local verdict=ok
    if awk -v p="$percent" -v f="$floor" 'BEGIN { exit !(p + 0 < f + 0) }'; then verdict="BELOW $floor%"; status=1; fi
    printf '%-10s lines %-18s branches %-18s floor %5s%%  %s\n' "$name" "$lines" "$branches" "$floor" "$verdict"
}
report src "$floor_src" '(src|platform)/'
report engine "$floor_engine" 'engine/src/' 'engine/src/.*_writer\.cpp'
report memo "$floor_memo" 'memo/src/' 'memo/src/.*_writer\.cpp'
report format "$floor_format" 'format/'
exit $status
