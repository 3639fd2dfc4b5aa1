#!/usr/bin/env bash
# clang-tidy over the project's own sources (the module, the format and
# platform libraries, the engine, the memo library, the writer, the reader
# library and the tool),
# with the checks of .clang-tidy, at zero warnings. Tests are not checked.
#
#   scripts/tidy.sh BUILD_DIR   a build configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON (and built,
#                               with Ninja, for its record of each file's headers)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/tidy.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || { echo "tidy: $build/compile_commands.json is missing"; exit 2; }

cd "$root" || exit 2
mapfile -t files < <(git ls-files 'src/*.cpp' 'format/*.cpp' 'platform/*.cpp' 'engine/src/*.cpp' 'memo/src/*.cpp' \
    'writer/src/*.cpp' 'reader/src/*.cpp' 'tools/zav/*.cpp' | grep -v -E '_win32\.cpp$')
# Each file's result is kept by content (scripts/tidy_cached.py): only the
# files whose source, headers or compile command changed are checked again.
# TOVIX_TIDY_CACHE=0 checks every file.
source "$root/scripts/cache.sh"
cache=$tovix_cache_dir/tidy
[ "${TOVIX_TIDY_CACHE:-1}" != 0 ] || cache=$(mktemp -d)
python3 "$root/scripts/tidy_cached.py" "$build" "$cache" "$(nproc)" "${files[@]/#/$root/}"
rc=$?
[ "${TOVIX_TIDY_CACHE:-1}" != 0 ] || rm -rf "$cache"
exit $rc
