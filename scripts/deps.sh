# Sourced by the other scripts: make sure the Debian packages the build needs
# are there, installing the missing ones when running as root.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages: ${missing[*]} (run as root, or install them)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    if [ -z "${TOVIX_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export TOVIX_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The packages of a native build, one concern a line.
NATIVE_PACKAGES=(cmake make g++ binutils pkgconf libgtest-dev libgmock-dev)
NATIVE_PACKAGES+=(ninja-build ccache)                             # the test scripts' generator and compiler cache
NATIVE_PACKAGES+=(nlohmann-json3-dev zlib1g-dev libutf8proc-dev libxml2-dev)  # the book tool
NATIVE_PACKAGES+=(libcpp-httplib-dev)                              # zav serve --http
NATIVE_PACKAGES+=(libre2-dev libsqlite3-dev libstemmer-dev)      # the reader library's regular expressions and full-text index
NATIVE_PACKAGES+=(libhunspell-dev hunspell-de-de hunspell-fr hunspell-en-us)  # the reader library's stem look-ups
NATIVE_PACKAGES+=(hunspell hunspell-tools dict-freedict-deu-eng)  # their peer test: Hunspell's own stems and forms, German-English
NATIVE_PACKAGES+=(clang-tidy)                                     # the lint step of the native stage
NATIVE_PACKAGES+=(libasio-dev libre2-dev dict python3-pytest python3-venv)  # the server, its client test, the Python package
NATIVE_PACKAGES+=(sdcv dictzip stardict-czech)                    # import/export tests: a StarDict client, dictzip, a small real dictionary
NATIVE_PACKAGES+=(dictd dict-freedict-eng-ell)                     # export round trips: the dictd server, a small real dictd dictionary
NATIVE_PACKAGES+=(dict-freedict-deu-ell dict-freedict-fra-eng dict-freedict-ara-eng dict-freedict-eng-rus)  # look-ups without accents (2.6 MB)
# The browser test of the reader's page (web.page): headless Chromium, its
# WebDriver and Selenium for Python.
WEB_TEST_PACKAGES=(chromium chromium-driver python3-selenium)
# The cross builds of scripts/ci-cross.sh, per stage.
cross_packages() {
    case $1 in
        mingw64) echo cmake ninja-build ccache googletest g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 ;;
        mingw32) echo cmake ninja-build ccache g++-mingw-w64-i686-posix binutils-mingw-w64-i686 ;;
        armhf) echo cmake ninja-build ccache googletest g++-arm-linux-gnueabihf libubsan1-armhf-cross qemu-user ;;
        s390x) echo cmake ninja-build ccache googletest g++-s390x-linux-gnu qemu-user ;;
    esac
}
# The coverage report of scripts/coverage.sh.
COVERAGE_PACKAGES=(gcovr)
# The benchmarks only (bench/run.sh): Google Benchmark, SQLite to compare
# look-ups with, gnuplot for the plot.
BENCH_PACKAGES=(libbenchmark-dev libsqlite3-dev gnuplot-nox)
