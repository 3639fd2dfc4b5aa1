#!/usr/bin/env bash
# Builds the project and runs every test: natively with warnings as errors
# (and clang-tidy over the sources at zero warnings), again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the cross builds (Windows DLLs under wine, armhf and s390x under qemu), then once more for coverage, which
# fails under its floors. Installs the Debian
# packages it needs when run as root.
#
#   TOVIX_TEST_STAGES="native sanitize cross coverage"   the stages to run (default: all)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" || exit 1

stages=${TOVIX_TEST_STAGES:-native sanitize cross coverage}
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0

tidy() {  # tidy BUILD_DIR: clang-tidy over the project's sources, at zero warnings
    echo "=== tidy"
    bash "$root/scripts/tidy.sh" "$1" || { echo "=== tidy: warnings"; status=1; }
}

stage() {  # stage NAME BUILD_DIR CMAKE_ARGS...
    local name=$1 dir=$2
    shift 2
    local start=$SECONDS
    echo "=== $name: configure and build"
    if ! cmake -S "$root" -B "$dir" -DTOVIX_WERROR=ON "$@" >"$dir.configure.log" 2>&1; then
        cat "$dir.configure.log"; echo "=== $name: configure failed"; status=1; return
    fi
    cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1
    local rc=$?
    grep -E -i 'warning|error' "$dir.build.log" | head -n 50
    if [ $rc -ne 0 ]; then tail -n 60 "$dir.build.log"; echo "=== $name: build failed"; status=1; return; fi
    echo "=== $name: test"
    rm -f "$dir/serve-load.txt"
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 600 2>&1 | tee -a "$log" | tail -n 40
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    [ -f "$dir/serve-load.txt" ] && cat "$dir/serve-load.txt"
    echo "=== $name: $((SECONDS - start)) s"
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
            fi ;;
        coverage)
            start=$SECONDS
            bash "$root/scripts/coverage.sh" 2>&1 | tee -a "$log"
            [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
            echo "=== coverage: $((SECONDS - start)) s" ;;
        *) echo "unknown stage $s"; status=1 ;;
    esac
done

# One closing line over every stage's test runner summary.
read -r total failed < <(awk '/tests failed out of/ { f += $4; t += $NF } /tests passed on a second run/ { f -= $3 } END { print t+0, f+0 }' "$log")
echo "summary: $((total - failed)) passed, $failed failed"
[ "$total" -gt 0 ] || status=1
exit $status
