# Sourced by the build scripts: the compiler cache (Debian's ccache), kept
# outside the clone so that every clone and every build folder shares it.
#
#   TOVIX_CACHE_DIR   where the caches live (default: $XDG_CACHE_HOME/tovixzav,
#                     else ~/.cache/tovixzav): ccache/ for compiled objects,
#                     tidy/ for clang-tidy's results. Empty it with
#                     rm -rf "$TOVIX_CACHE_DIR" (or ~/.cache/tovixzav).
#   TOVIX_CCACHE=0    build without the compiler cache
#
# Paths under the clone are made relative before hashing (CCACHE_BASEDIR) and
# the build folder's path is not hashed (CCACHE_NOHASHDIR), so a clone in
# another folder gets the same hits. cache_cmake_args holds the CMake
# arguments that put ccache in front of the compilers.
tovix_cache_dir=${TOVIX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tovixzav}
mkdir -p "$tovix_cache_dir"
cache_cmake_args=()
if [ "${TOVIX_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null; then
    export CCACHE_DIR=$tovix_cache_dir/ccache
    export CCACHE_BASEDIR=$root
    export CCACHE_NOHASHDIR=1
    # The precompiled GoogleTest header is passed with -include, which ccache
    # follows when it may disregard __TIME__ and the header's #defines.
    export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
    export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-4G}
    mkdir -p "$CCACHE_DIR"
    cache_cmake_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# cache_stats_begin LOG: count the compilations of what follows in LOG.
cache_stats_begin() {
    [ ${#cache_cmake_args[@]} -gt 0 ] || return 0
    rm -f "$1"
    export CCACHE_STATSLOG=$1
}

# cache_stats_end LOG: one line, the hits and misses counted in LOG.
cache_stats_end() {
    [ ${#cache_cmake_args[@]} -gt 0 ] || return 0
    unset CCACHE_STATSLOG
    [ -f "$1" ] || { echo "compiler cache: no compilation"; return 0; }
    awk '/^# / { n++ } /^(direct|preprocessed)_cache_hit$/ { h++ } /^cache_miss$/ { m++ }
        END { printf "compiler cache: %d of %d compilations hit (%.0f%%), %d missed, %d not cacheable\n",
              h, n, n ? 100 * h / n : 0, m, n - h - m }' "$1"
}

# The generator: Ninja when it is there (the scripts install it), else CMake's
# default. cmake_fresh_generator DIR makes a build folder that another
# generator made anew.
cmake_generator=()
command -v ninja >/dev/null && cmake_generator=(-G Ninja)
cmake_fresh_generator() {
    local dir=$1 want=${cmake_generator[1]:-} have
    [ -n "$want" ] && [ -f "$dir/CMakeCache.txt" ] || return 0
    have=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$dir/CMakeCache.txt")
    [ "$have" = "$want" ] || rm -rf "$dir"
}
