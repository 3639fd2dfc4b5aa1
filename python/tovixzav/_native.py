"""The reader library's and the module's exported calls, through ctypes.

The reader library (libZAVReader) answers look-ups, matches, suggestions and
key walks; the module (libTovixZAV_JC), which the reader library links, gives
a book's properties, pages and table of contents. The reader library is
found, in order:

1. from TOVIXZAV_READER_LIBRARY, a full path, when it is set (nothing else is
   tried then);
2. beside the package: in the package's own folder (a wheel that carries the
   libraries) and in the library folder of the prefix the package is
   installed under (PREFIX/lib, lib64, lib/MULTIARCH for a package in
   PREFIX/lib/pythonX.Y/site-packages, or in a virtual environment);
3. in the folder `pkg-config --variable=libdir zavreader` names;
4. by the loader's normal search (LD_LIBRARY_PATH, the loader cache, the
   system folders).

TOVIXZAV_LIBRARY, when set, names the module's file: the module is loaded from
it (nothing else is tried for the module) and the reader library is looked for
beside it first. Otherwise the module is the one the reader library links,
loaded from the reader library's folder when that is known.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import subprocess
import sys
from typing import Dict, List, Optional, Tuple

from .errors import LibraryNotFound

if sys.platform == "win32":
    _READER_NAMES = ["ZAVReader.dll", "libZAVReader.dll"]
    _MODULE_NAMES = ["TovixZAV_JC.dll", "libTovixZAV_JC.dll"]
elif sys.platform == "darwin":
    _READER_NAMES = ["libZAVReader.1.dylib", "libZAVReader.dylib"]
    _MODULE_NAMES = ["libTovixZAV_JC.1.dylib", "libTovixZAV_JC.dylib"]
else:
    _READER_NAMES = ["libZAVReader.so.1", "libZAVReader.so"]
    _MODULE_NAMES = ["libTovixZAV_JC.so.1", "libTovixZAV_JC.so"]

_i32, _u32, _i64, _u64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64, ctypes.c_uint64
_size, _ptr, _str = ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p
_ssize = ctypes.c_ssize_t

# --- the reader library's structures (ZAVReader.h) ----------------------------

STATUS_NAMES = ("ok", "not found", "bad argument", "bad pattern", "unreadable", "limit", "time out", "cancelled",
                "no memory")
OK, NOT_FOUND, BAD_ARGUMENT, BAD_PATTERN, UNREADABLE, LIMIT, TIME_OUT, CANCELLED, NO_MEMORY = range(9)
HOW_NAMES: Dict[int, str] = {0: "exact", 1: "case", 2: "accent", 3: "match", 4: "suggest", 5: "stem", 6: "text"}
FIRST, NO_ACCENT, NO_TEXT = 0x1, 0x2, 0x4


class Limits(ctypes.Structure):
    _fields_ = [("size", _u32), ("max_answers", _u32), ("max_bytes", _u64), ("time_ms", _u32),
                ("cancel", ctypes.POINTER(ctypes.c_int))]


class DatabaseInfo(ctypes.Structure):
    _fields_ = [("name", _str), ("path", _str), ("book_name", _str), ("table_name", _str),
                ("table", _i32), ("language", _i32), ("kind", _u32), ("key_count", _u32),
                ("index_bytes", _u64)]


class Answer(ctypes.Structure):
    _fields_ = [("database", _size), ("key_index", _u32), ("headword", _str), ("key", _str), ("page", _i64),
                ("offset", _u32), ("how", _u32), ("distance", _u32), ("text", _ptr), ("text_length", _size),
                ("reason", _str)]


class Key(ctypes.Structure):
    _fields_ = [("index", _u32), ("text", _str), ("headword", _str), ("page", _i64), ("offset", _u32),
                ("attribute", _u32), ("fold", _u32)]


class Indexing(ctypes.Structure):
    _fields_ = [("size", _u32), ("language", _str), ("progress", _ptr), ("context", _ptr),
                ("cancel", ctypes.POINTER(ctypes.c_int)), ("entries", _u64), ("unreadable", _u64)]


_LIMITS = ctypes.POINTER(Limits)

# name: (result, argument types)
_READER_CALLS: Dict[str, Tuple[object, List[object]]] = {
    "ZAVReaderOpen": (_ptr, []),
    "ZAVReaderClose": (None, [_ptr]),
    "ZAVReaderAdd": (_i32, [_ptr, _str, _str]),
    "ZAVReaderProblemCount": (_size, [_ptr]),
    "ZAVReaderProblemPath": (_str, [_ptr, _size]),
    "ZAVReaderProblemReason": (_str, [_ptr, _size]),
    "ZAVReaderDatabaseCount": (_size, [_ptr]),
    "ZAVReaderDatabase": (_i32, [_ptr, _size, ctypes.POINTER(DatabaseInfo)]),
    "ZAVReaderFind": (_i64, [_ptr, _str]),
    "ZAVReaderPrepare": (_i32, [_ptr, _LIMITS]),
    "ZAVReaderLookup": (_ptr, [_ptr, _str, _str, _u32, _LIMITS]),
    "ZAVReaderMatch": (_ptr, [_ptr, _str, _str, _str, _LIMITS]),
    "ZAVReaderStrategyName": (_str, [_size]),
    "ZAVReaderStrategyDescription": (_str, [_size]),
    "ZAVReaderSuggest": (_ptr, [_ptr, _str, _str, _size, _LIMITS]),
    "ZAVReaderComplete": (_ptr, [_ptr, _str, _str, _size, _LIMITS]),
    "ZAVReaderEntry": (_ptr, [_ptr, _size, _u32]),
    "ZAVReaderResultCount": (_size, [_ptr]),
    "ZAVReaderResultAt": (ctypes.POINTER(Answer), [_ptr, _size]),
    "ZAVReaderResultStatus": (_i32, [_ptr]),
    "ZAVReaderResultReason": (_str, [_ptr]),
    "ZAVReaderResultFree": (None, [_ptr]),
    "ZAVReaderKeys": (_ptr, [_ptr, _size, _str, _u32]),
    "ZAVReaderNext": (_i32, [_ptr, ctypes.POINTER(Key)]),
    "ZAVReaderNextBatch": (_i64, [_ptr, _ptr, _size, _size, ctypes.POINTER(_size)]),
    "ZAVReaderCursorReason": (_str, [_ptr]),
    "ZAVReaderCursorFree": (None, [_ptr]),
    "ZAVReaderFold": (_size, [_str, ctypes.c_int, _ptr, _size]),
    "ZAVReaderWriteIndex": (_ptr, [_ptr, _str, _str, ctypes.POINTER(Indexing)]),
    "ZAVReaderIndexPath": (_size, [_str, _ptr, _size]),
    "ZAVReaderIndexState": (_ptr, [_ptr, _size]),
    "ZAVReaderSearch": (_ptr, [_ptr, _str, _str, _size, _LIMITS]),
    "ZAVReaderResultSnippet": (_ptr, [_ptr, _size, ctypes.POINTER(_size), ctypes.POINTER(ctypes.POINTER(_u32)),
                                      ctypes.POINTER(_size)]),
}

# The module's calls: (result, argument types after the book handle).
_MODULE_CALLS: Dict[str, Tuple[object, List[object]]] = {
    "ZAVCloseBook": (_i32, []),
    "ZAVGetBkName": (_i32, [_i32, _ptr, _u32]),
    "ZAVGetCaps": (_i32, [_ptr]),
    "ZAVBookSerial": (_i32, [ctypes.POINTER(_u32)]),
    "ZAVGetLanguageCount": (_i32, []),
    "ZAVGetLanguage": (_i32, [_i32]),
    "ZAVGetTableCount": (_i32, []),
    "ZAVGetPageCount": (_i32, []),
    "ZAVGetPageSize": (_i32, [_i32]),
    "ZAVGetPage": (_i32, [_i32, _ptr, _u32]),
    "ZAVGetTableLocal": (_i32, [_i32]),
    "ZAVGetTableName": (_i32, [_i32, _i32, _ptr, _u32]),
    "ZAVGetTableSimpleName": (_i32, [_i32, _i32, _ptr, _u32]),
    "ZAVGetDictClass": (_i32, [_i32]),
    "ZAVGetTablePageCount": (_i32, [_i32]),
    "ZAVGetTablePageSize": (_i32, [_i32, _u32]),
    "ZAVGetTablePage": (_i32, [_i32, _u32, _ptr, _u32]),
    "ZAVGetKeyCount": (_i32, [_i32]),
    "EBDVPGetCount": (_i32, [_i32]),
    "EBDVPGetRootItem": (_i32, [_i32]),
    "EBDVPGetChildItem": (_i32, [_i32, _i32]),
    "EBDVPGetNextSiblingItem": (_i32, [_i32, _i32]),
    "EBDVPGetItemText": (_i32, [_i32, _i32, _i32, _ptr, _u32]),
    "EBDVPItemToPage": (_i32, [_i32, _i32]),
    "EBDSCCorrection": (_i32, [_i32, _ptr, _ptr, _u32]),
    "EBDSCVerify": (_i32, [_i32, _ptr, _ptr]),
    "EBDSCWildcard": (_i32, [_i32, _ptr, _ptr, _u32, _ssize]),
}

_reader: Optional[ctypes.CDLL] = None
_module: Optional[ctypes.CDLL] = None


def _loader(name: str) -> ctypes.CDLL:
    if sys.platform == "win32":
        return ctypes.WinDLL(name)
    return ctypes.CDLL(name)


def _prefix_folders() -> List[str]:
    """Folders beside the package where an installation puts the libraries."""
    package = os.path.dirname(os.path.abspath(__file__))
    folders = [package]
    # PREFIX/lib/pythonX.Y/site-packages/tovixzav (or lib/python3/dist-packages)
    prefixes = [os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(package)))), sys.prefix]
    multiarch = getattr(sys.implementation, "_multiarch", "")
    for prefix in prefixes:
        for sub in ["lib", "lib64"] + ([os.path.join("lib", multiarch)] if multiarch else []) + ["bin"]:
            folder = os.path.join(prefix, sub)
            if folder not in folders:
                folders.append(folder)
    return folders


def _pkg_config_libdir() -> Optional[str]:
    try:
        run = subprocess.run(["pkg-config", "--variable=libdir", "zavreader"], capture_output=True, text=True,
                             timeout=30, check=False)
    except (OSError, subprocess.SubprocessError):
        return None
    libdir = run.stdout.strip()
    return libdir if run.returncode == 0 and libdir else None


def _in_folders(folders: List[str], names: List[str]) -> List[str]:
    return [os.path.join(f, n) for f in folders for n in names if os.path.isfile(os.path.join(f, n))]


def _first_loaded(candidates: List[str], reasons: List[str]) -> Optional[Tuple[ctypes.CDLL, str]]:
    for name in candidates:
        try:
            return _loader(name), name
        except OSError as error:
            reasons.append(f"{name}: {error}")
    return None


def _load() -> Tuple[ctypes.CDLL, ctypes.CDLL]:
    """(reader library, module)."""
    reasons: List[str] = []
    explicit_reader = os.environ.get("TOVIXZAV_READER_LIBRARY")
    explicit_module = os.environ.get("TOVIXZAV_LIBRARY")
    module = None
    if explicit_module and not explicit_reader:
        found = _first_loaded([explicit_module], reasons)
        if found is None:
            raise LibraryNotFound("cannot load the book module (TOVIXZAV_LIBRARY): " + "; ".join(reasons))
        module = found[0]
    if explicit_reader:
        candidates = [explicit_reader]
    else:
        beside_module = [os.path.dirname(os.path.abspath(explicit_module))] if explicit_module else []
        candidates = _in_folders(beside_module + _prefix_folders(), _READER_NAMES)
        libdir = _pkg_config_libdir()
        if libdir:
            candidates += _in_folders([libdir], _READER_NAMES)
        candidates += _READER_NAMES
        found_name = ctypes.util.find_library("ZAVReader")
        if found_name:
            candidates.append(found_name)
    found = _first_loaded(candidates, reasons)
    if found is None:
        hint = "" if explicit_reader else \
            " (install the libraries beside the package or where pkg-config finds zavreader.pc," \
            " or set TOVIXZAV_READER_LIBRARY to libZAVReader's path)"
        raise LibraryNotFound("cannot load the reader library: " + "; ".join(reasons) + hint)
    reader, reader_path = found
    if module is None:
        # The module the reader library links is loaded already; by its full
        # path when the reader library's folder is known, else by its name.
        folder = os.path.dirname(reader_path)
        found = _first_loaded((_in_folders([folder], _MODULE_NAMES) if folder else []) + _MODULE_NAMES, reasons)
        if found is None:
            raise LibraryNotFound("cannot load the book module: " + "; ".join(reasons))
        module = found[0]
    return reader, module


# The major version of the reader library whose structures are laid out above.
READER_MAJOR = 1


def _bind() -> None:
    global _reader, _module
    reader, module = _load()
    version = getattr(reader, "ZAVReaderVersion", None)
    if version is not None:
        version.restype, version.argtypes = ctypes.c_uint32, []
        if version() >> 16 != READER_MAJOR:
            raise LibraryNotFound(f"the reader library is version {version() >> 16}, this package reads version "
                                  f"{READER_MAJOR}")
    for name, (result, args) in _READER_CALLS.items():
        call = getattr(reader, name)
        call.restype, call.argtypes = result, args
    module.ZAVOpenBook.restype = _i32
    module.ZAVOpenBook.argtypes = [ctypes.c_wchar_p, ctypes.POINTER(_ptr)]
    for name, (result, args) in _MODULE_CALLS.items():
        call = getattr(module, name)
        call.restype, call.argtypes = result, [_ptr] + args
    _reader, _module = reader, module


def reader() -> ctypes.CDLL:
    """The reader library with argument and result types set, loaded on first use."""
    if _reader is None:
        _bind()
    assert _reader is not None
    return _reader


def library() -> ctypes.CDLL:
    """The module with argument and result types set, loaded on first use."""
    if _module is None:
        _bind()
    assert _module is not None
    return _module


def text(raw: Optional[bytes]) -> str:
    """A text the reader library hands out (UTF-8)."""
    return raw.decode("utf-8", "replace") if raw else ""
