#!/usr/bin/env bash
# Install the build into a fresh prefix, the Python package into a fresh
# virtual environment (no network), and run the README's Python example
# against the installed module, found by the loader's normal search.
#   python_install_test.sh BUILD_DIR PYTHON3
set -euo pipefail
build=$1 python=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$python" -m venv "$work/venv"
PIP_NO_INDEX=1 PIP_CONFIG_FILE=/dev/null "$work/venv/bin/pip" install --quiet "$root/python"

# The example reads the sample books from the folder it runs in.
cp "$ZAV_SAMPLES_DIR"/*.zav "$ZAV_SAMPLES_DIR"/*.zzd "$work/"
sed -n '/^```python$/,/^```$/p' "$root/README.md" | sed '1d;$d' >"$work/example.py"
[ -s "$work/example.py" ] || { echo "no Python example in README.md"; exit 1; }
libdir=$(dirname "$(find "$work/prefix" -name 'libTovixZAV_JC.so*' | head -n 1)")
cd "$work"
env -u TOVIXZAV_LIBRARY LD_LIBRARY_PATH="$libdir" "$work/venv/bin/python" example.py | tee output.txt
grep -q "bank (2) (noun)" output.txt
grep -q "spelled: apple" output.txt
