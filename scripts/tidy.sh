#!/usr/bin/env bash
# clang-tidy over the project's own sources (the module, the format and
# platform libraries, the engine, the memo library, the writer and the tool),
# with the checks of .clang-tidy, at zero warnings. Tests are not checked.
#
#   scripts/tidy.sh BUILD_DIR   a build configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/tidy.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || { echo "tidy: $build/compile_commands.json is missing"; exit 2; }

cd "$root" || exit 2
mapfile -t files < <(git ls-files 'src/*.cpp' 'format/*.cpp' 'engine/src/*.cpp' 'memo/src/*.cpp' 'writer/src/*.cpp' \
    'tools/zav/*.cpp' | grep -v -E '_win32\.cpp$')
out=$(mktemp)
trap 'rm -f "$out"' EXIT
run-clang-tidy -p "$build" -j"$(nproc)" -quiet -extra-arg=-Wno-unknown-warning-option "${files[@]/#/$root/}" \
    >"$out" 2>&1
rc=$?
grep -E 'warning:|error:' "$out" | sort -u | head -n 50
echo "tidy: ${#files[@]} files, exit $rc"
exit $rc
