#!/usr/bin/env bash
# Cross builds of the module, its companion libraries and the tests:
#
#   mingw64  Windows x86-64 DLLs and the test programs, run under wine
#   mingw32  Windows i686 DLLs (__stdcall exports): built, export tables
#            checked for exactly the plain names, a C host linked against
#            the rebuilt import library
#   armhf    32-bit ARM Linux, strict alignment checked by the alignment
#            sanitizer, the test programs run under qemu-arm
#   s390x    64-bit big-endian IBM Z Linux, the test programs run under
#            qemu-s390x: every value must be decoded from its bytes
#
# Installs the Debian packages it needs when run as root (apt-get update at
# most once). Prints the time of each stage; exits non-zero when any fails.
#
#   TOVIX_CROSS_STAGES="mingw64 mingw32 armhf s390x"   the stages to run (default: all)
#   TOVIX_CROSS_BUILD_ROOT=DIR                   where build-<stage> goes (default: the source tree)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/scripts/cache.sh"

stages=${TOVIX_CROSS_STAGES:-mingw64 mingw32 armhf s390x}
build_root=${TOVIX_CROSS_BUILD_ROOT:-$root}
jobs=$(nproc)
status=0

# Only the module, the companion libraries, the doubles and the tests;
# optimized, without debug information (a third of the compile time).
common_args=(-DTOVIX_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG"
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTOVIX_BUILD_TOOLS=OFF -DTOVIX_BUILD_BENCH=OFF)

# configure_and_build NAME DIR TOOLCHAIN [TARGET...] -- [CMAKE_ARGS...]
configure_and_build() {
    local name=$1 dir=$2 toolchain=$3
    shift 3
    local targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do targets+=(--target "$1"); shift; done
    [ $# -gt 0 ] && shift
    if ! cmake -S "$root" -B "$dir" "${cmake_generator[@]}" "${cache_cmake_args[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$toolchain.cmake" \
        "${common_args[@]}" "$@" >"$dir.configure.log" 2>&1; then
        tail -n 40 "$dir.configure.log"; echo "=== $name: configure failed"; return 1
    fi
    cache_stats_begin "$dir.ccache.log"
    if ! cmake --build "$dir" -j"$jobs" "${targets[@]}" >"$dir.build.log" 2>&1; then
        grep -E -i 'error' "$dir.build.log" | head -n 30
        tail -n 30 "$dir.build.log"; echo "=== $name: build failed"; return 1
    fi
    cache_stats_end "$dir.ccache.log"
    grep -E -i 'warning' "$dir.build.log" | head -n 20
    return 0
}

# run_ctest DIR [ARGS...]: ctest, its report written to DIR/ctest-N.xml. The
# GoogleTest programs of a cross build run whole, each one ctest test
# (cmake/TovixTests.cmake): ctest's closing line counts programs, so it is
# reworded, and count_cases prints that line over the test cases.
run_ctest() {
    local dir=$1 n
    shift
    n=$(find "$dir" -maxdepth 1 -name 'ctest-*.xml' | wc -l)
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300 --output-junit "$dir/ctest-$n.xml" "$@" 2>&1 |
        sed 's/tests failed out of \([0-9]*\)$/failed, of \1 programs and other tests/' | tail -n 60
    return "${PIPESTATUS[0]}"
}

# count_cases DIR: after the runs of a stage, ctest's closing line over the
# test cases of every program (the results of the last run of each).
count_cases() {
    local dir=$1
    mapfile -t reports < <(find "$dir" -maxdepth 1 -name 'ctest-*.xml' | sort -V)
    python3 "$root/scripts/count_tests.py" "$dir" "${reports[@]}"
}

clear_results() {  # clear_results DIR: no report of an earlier run is counted
    rm -rf "$1"/ctest-*.xml "$1/gtest-results"
}

# check_export_tables DIR OBJDUMP: the module, the engine and the memo library
# of a Windows build export exactly the plain names of cmake/exports.txt (the
# build writes each library's list into DIR/exports).
check_export_tables() {
    local dir=$1 objdump=$2 rc=0 lib
    for lib in TovixZAV_JC ZoZizID ZAVMemo; do
        cmake -DOBJDUMP="$objdump" -DLIBRARY="$dir/out/$lib.dll" -DEXPECTED="$dir/exports/$lib.txt" \
            -P "$root/tests/win32/check_dll_exports.cmake" 2>&1 || rc=1
    done
    return $rc
}

stage_mingw64() {
    local dir=$build_root/build-mingw64
    cmake_fresh_generator "$dir"
    mkdir -p "$dir"
    # A wine prefix of the build's own, made before the build, and a
    # persistent wineserver for the whole test run. Wine's programs keep
    # whatever descriptors they inherit, so none of them gets this script's
    # output: a pipe they held open would never close.
    export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >"$dir.wineboot.log" 2>&1 || { cat "$dir.wineboot.log"; echo "=== mingw64: wineboot failed"; return 1; }
    fi
    wineserver -p </dev/null >/dev/null 2>&1
    local rc=0
    configure_and_build mingw64 "$dir" mingw64 || rc=1
    if [ $rc -eq 0 ]; then
        echo "=== mingw64: export tables"
        check_export_tables "$dir" x86_64-w64-mingw32-objdump || rc=1
        echo "=== mingw64: test (wine)"
        # Programs outside the module's folder (the companion libraries' own
        # tests) find the DLLs of the build's output folder through WINEPATH;
        # a program's own folder is searched first, so the test programs
        # beside the doubles still get the doubles.
        local winepath_out
        winepath_out=$(winepath -w "$dir/out" 2>/dev/null)
        clear_results "$dir"
        if ! WINEPATH=$winepath_out run_ctest "$dir"; then
            # Wine itself now and then fails to start a program under load (a
            # test that passes natively and in every other stage fails once,
            # with no output of its own). Failed tests get one more run, and
            # the names of those that pass on it are printed; a test that
            # fails twice fails the stage.
            # (The count of test cases is made over the last run of each.)
            local failed count
            failed=$(sed 's/^[0-9]*://' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ')
            count=$(wc -w <<<"$failed")
            echo "=== mingw64: second run of: $failed"
            if WINEPATH=$winepath_out run_ctest "$dir" --rerun-failed; then
                echo "=== mingw64: $count passed when run again under wine: $failed"
            else
                rc=1
            fi
        fi
        count_cases "$dir"
    fi
    wineserver -k </dev/null >/dev/null 2>&1
    return $rc
}

stage_mingw32() {
    local dir=$build_root/build-mingw32
    cmake_fresh_generator "$dir"
    mkdir -p "$dir"
    configure_and_build mingw32 "$dir" mingw32 TovixZAV_JC ZoZizID ZAVMemo zav_example_host -- \
        -DTOVIX_BUILD_TESTS=OFF || return 1
    echo "=== mingw32: export tables"
    local objdump=i686-w64-mingw32-objdump rc=0
    check_export_tables "$dir" $objdump || rc=1
    # A host linked against the import library imports the plain names.
    local imports
    imports=$($objdump -p "$dir/out/zav_example_host.exe" | awk '/DLL Name: TovixZAV_JC.dll/ {f=1; next} /DLL Name:/ {f=0} f && NF == 3 {print $3}')
    if [ -z "$imports" ] || grep -q '@' <<<"$imports"; then
        echo "zav_example_host.exe imports from TovixZAV_JC.dll: ${imports:-nothing}"; rc=1
    else
        echo "zav_example_host.exe imports $(wc -l <<<"$imports") plain names from TovixZAV_JC.dll"
    fi
    return $rc
}

stage_armhf() {
    local dir=$build_root/build-armhf
    cmake_fresh_generator "$dir"
    mkdir -p "$dir"
    configure_and_build armhf "$dir" armhf -- -DTOVIX_SANITIZE=alignment || return 1
    echo "=== armhf: test (qemu-arm)"
    clear_results "$dir"
    run_ctest "$dir"
    local rc=$?
    count_cases "$dir"
    return $rc
}

stage_s390x() {
    local dir=$build_root/build-s390x
    cmake_fresh_generator "$dir"
    mkdir -p "$dir"
    configure_and_build s390x "$dir" s390x || return 1
    echo "=== s390x: test (qemu-s390x)"
    clear_results "$dir"
    run_ctest "$dir"
    local rc=$?
    count_cases "$dir"
    return $rc
}

missing=()
for s in $stages; do
    case $s in
        mingw64 | mingw32 | armhf | s390x) read -r -a p <<<"$(cross_packages "$s")"; missing+=("${p[@]}") ;;
        *) echo "unknown stage $s"; exit 2 ;;
    esac
done
ensure_packages "${missing[@]}" || exit 1

for s in $stages; do
    start=$SECONDS
    echo "=== cross $s"
    if "stage_$s"; then result=passed; else result=FAILED; status=1; fi
    echo "=== cross $s: $result, $((SECONDS - start)) s"
done
exit $status
