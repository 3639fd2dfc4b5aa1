#!/usr/bin/env bash
# Builds the project and runs every test: natively with warnings as errors
# (and clang-tidy over the sources at zero warnings), again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the cross builds (Windows DLLs under wine, armhf and s390x under qemu), then once more for coverage, which
# fails under its floors. Installs the Debian packages it needs when run as root. Compiles through the
# compiler cache of scripts/cache.sh (outside the clone). Prints each stage's time and the cache's hits, and
# at the end checks that the run changed nothing outside its build folders, the caches and the temporary
# folders (scripts/unchanged.sh).
#
#   TOVIX_TEST_STAGES="native sanitize cross coverage"   the stages to run (default: all)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/scripts/cache.sh"
source "$root/scripts/unchanged.sh"

stages=${TOVIX_TEST_STAGES:-native sanitize cross coverage}
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
times=()

# Every package of the stages asked for, before anything runs.
packages=("${NATIVE_PACKAGES[@]}" "${WEB_TEST_PACKAGES[@]}")
for s in $stages; do
    case $s in
        coverage) packages+=("${COVERAGE_PACKAGES[@]}") ;;
        cross) for c in ${TOVIX_CROSS_STAGES:-mingw64 mingw32 armhf s390x}; do
                read -r -a p <<<"$(cross_packages "$c")"; packages+=("${p[@]}"); done ;;
    esac
done
ensure_packages "${packages[@]}" || exit 1
unchanged_begin

tidy() {  # tidy BUILD_DIR: clang-tidy over the project's sources, at zero warnings
    local start=$SECONDS
    echo "=== tidy"
    bash "$root/scripts/tidy.sh" "$1" || { echo "=== tidy: warnings"; status=1; }
    echo "=== tidy: $((SECONDS - start)) s"
    times+=("tidy $((SECONDS - start))")
}

stage() {  # stage NAME BUILD_DIR CMAKE_ARGS...
    local name=$1 dir=$2
    shift 2
    local start=$SECONDS
    echo "=== $name: configure and build"
    cmake_fresh_generator "$dir"
    if ! cmake -S "$root" -B "$dir" "${cmake_generator[@]}" "${cache_cmake_args[@]}" -DTOVIX_WERROR=ON "$@" \
        >"$dir.configure.log" 2>&1; then
        cat "$dir.configure.log"; echo "=== $name: configure failed"; status=1; return
    fi
    cache_stats_begin "$dir.ccache.log"
    cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1
    local rc=$?
    cache_stats_end "$dir.ccache.log"
    grep -E -i 'warning|error' "$dir.build.log" | head -n 50
    if [ $rc -ne 0 ]; then tail -n 60 "$dir.build.log"; echo "=== $name: build failed"; status=1; return; fi
    echo "=== $name: test"
    rm -f "$dir/serve-load.txt"
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 600 2>&1 | tee -a "$log" | tail -n 40
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    [ -f "$dir/serve-load.txt" ] && cat "$dir/serve-load.txt"
    echo "=== $name: $((SECONDS - start)) s"
    times+=("$name $((SECONDS - start))")
}

for s in $stages; do
    case $s in
        native) stage native "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
            tidy "$root/build-test" ;;
        sanitize) ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            stage sanitize "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DTOVIX_SANITIZE=address,undefined \
            -DTOVIX_BUILD_TOOLS=ON ;;
        cross)
            if [ -x "$root/scripts/ci-cross.sh" ]; then
                start=$SECONDS
                bash "$root/scripts/ci-cross.sh" 2>&1 | tee -a "$log"
                [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
                echo "=== cross: $((SECONDS - start)) s"
                times+=("cross $((SECONDS - start))")
            fi ;;
        coverage)
            start=$SECONDS
            bash "$root/scripts/coverage.sh" 2>&1 | tee -a "$log"
            [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
            echo "=== coverage: $((SECONDS - start)) s"
            times+=("coverage $((SECONDS - start))") ;;
        *) echo "unknown stage $s"; status=1 ;;
    esac
done

echo "=== stage times: $(printf '%s s, ' "${times[@]}" | sed 's/, $//'); total $SECONDS s"
# Nothing outside the build folders, the caches and the temporary folders was written.
unchanged_check "$root/build*" "$tovix_cache_dir" || status=1

# One closing line over every stage's test runner summary (a cross stage that
# runs GoogleTest programs whole prints the count of their test cases in the
# same form).
read -r total failed < <(awk '/tests failed out of/ { f += $4; t += $NF } END { print t+0, f+0 }' "$log")
echo "summary: $((total - failed)) passed, $failed failed"
[ "$total" -gt 0 ] || status=1
exit $status
