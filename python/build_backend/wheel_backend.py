"""A minimal build backend for this pure-Python package: it writes the wheel
(a zip of the package, its metadata and a RECORD of hashes) with the standard
library, so that installing needs no build tools and no download."""

import base64
import io
import hashlib
import os
import tarfile
import zipfile

NAME, VERSION = "tovixzav", "1.0.0"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TAG = "py3-none-any"
DIST_INFO = f"{NAME}-{VERSION}.dist-info"


def _metadata():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {VERSION}\n"
            "Summary: Read TovixZAV_JC books from Python through the installed module (ctypes)\n"
            "Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n" + readme)


def _wheel_file():
    return f"Wheel-Version: 1.0\nGenerator: {NAME} wheel_backend\nRoot-Is-Purelib: true\nTag: {TAG}\n"


def _package_files():
    top = os.path.join(ROOT, NAME)
    for folder, dirs, files in os.walk(top):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(".py") or name == "py.typed":
                path = os.path.join(folder, name)
                yield path, os.path.relpath(path, ROOT).replace(os.sep, "/")


def _record_line(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    folder = os.path.join(metadata_directory, DIST_INFO)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    with open(os.path.join(folder, "WHEEL"), "w", encoding="utf-8") as f:
        f.write(_wheel_file())
    return DIST_INFO


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = f"{NAME}-{VERSION}-{TAG}.whl"
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        def add(arcname, data):
            wheel.writestr(arcname, data)
            records.append(_record_line(arcname, data))

        for path, arcname in _package_files():
            with open(path, "rb") as f:
                add(arcname, f.read())
        add(f"{DIST_INFO}/METADATA", _metadata().encode())
        add(f"{DIST_INFO}/WHEEL", _wheel_file().encode())
        records.append(f"{DIST_INFO}/RECORD,,")
        wheel.writestr(f"{DIST_INFO}/RECORD", "\n".join(records) + "\n")
    return filename


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    filename = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz") as sdist:
        for rel in ["pyproject.toml", "README.md", "build_backend/wheel_backend.py"]:
            sdist.add(os.path.join(ROOT, rel), f"{base}/{rel}")
        for path, arcname in _package_files():
            sdist.add(path, f"{base}/{arcname}")
        pkg_info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode()
        pkg_info.size = len(data)
        sdist.addfile(pkg_info, io.BytesIO(data))
    return filename
