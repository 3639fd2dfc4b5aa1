#!/usr/bin/env bash
# Install the Python package into fresh virtual environments (no network) and
# run the Python examples of python/README.md and README.md against the
# installed libraries, with no variable pointing at them:
#   1. the build installed into the environment's own prefix: the package
#      finds the libraries beside it;
#   2. the build installed into a prefix of its own: the package finds them
#      through pkg-config's zavreader.pc.
#   python_install_test.sh BUILD_DIR PYTHON3
set -euo pipefail
build=$1 python=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# example FILE OUT: the first ```python block of a markdown file.
example() {
    awk '/^```python$/ { inside = 1; next } /^```$/ && inside { exit } inside' "$1" >"$2"
    [ -s "$2" ] || { echo "no Python example in $1"; exit 1; }
}
example "$root/python/README.md" "$work/package_example.py"
example "$root/README.md" "$work/readme_example.py"
# The examples read the sample books from the folder they run in.
mkdir "$work/run"
cp "$ZAV_SAMPLES_DIR"/*.zav "$ZAV_SAMPLES_DIR"/*.zzd "$work/run/"

# run VENV PREFIX: both examples, with nothing in the environment that names a
# library; the reader library must come from PREFIX.
run() {
    loaded=$(cd "$work/run" && env -u TOVIXZAV_LIBRARY -u TOVIXZAV_READER_LIBRARY -u LD_LIBRARY_PATH \
        "$1/bin/python" -c 'from tovixzav import _native; print(_native.reader()._name)')
    case $loaded in
    "$2"/*) echo "reader library: $loaded" ;;
    *) echo "the reader library came from $loaded, not from $2"; exit 1 ;;
    esac
    (cd "$work/run" && for script in package_example readme_example; do
        env -u TOVIXZAV_LIBRARY -u TOVIXZAV_READER_LIBRARY -u LD_LIBRARY_PATH -u ZOZIZID_DICT_DIR \
            "$1/bin/python" "$work/$script.py" >"$work/$script.txt" || { cat "$work/$script.txt"; exit 1; }
    done)
    cat "$work/package_example.txt" "$work/readme_example.txt"
    grep -q "lexicon: bank@2 (exact)" "$work/package_example.txt"
    grep -q "near 'bindng': binding" "$work/package_example.txt"
    grep -q "bank (2) (noun)" "$work/readme_example.txt"
    grep -q "spelled: apple" "$work/readme_example.txt"
}

install_package() {
    "$python" -m venv "$1"
    PIP_NO_INDEX=1 PIP_CONFIG_FILE=/dev/null "$1/bin/pip" install --quiet "$root/python"
    [ -f "$("$1/bin/python" -c 'import os, tovixzav; print(os.path.dirname(tovixzav.__file__))')/py.typed" ] ||
        { echo "py.typed is not installed"; exit 1; }
}

echo "== the libraries in the environment's prefix"
install_package "$work/venv"
cmake --install "$build" --prefix "$work/venv" >/dev/null
run "$work/venv" "$work/venv"

echo "== the libraries in a prefix of their own, found through pkg-config"
install_package "$work/venv2"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(dirname "$(find "$work/prefix" -name zavreader.pc | head -n 1)")
PKG_CONFIG_PATH=$pc run "$work/venv2" "$work/prefix"
