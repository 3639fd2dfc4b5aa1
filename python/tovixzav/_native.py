"""The module's exported calls through ctypes.

The library is found from the environment variable TOVIXZAV_LIBRARY (a full
path), else by the loader's normal search (LD_LIBRARY_PATH, the loader cache,
the system folders).
"""

import ctypes
import ctypes.util
import os
import sys

from .errors import LibraryNotFound

_NAMES = {
    "win32": ["TovixZAV_JC.dll"],
    "darwin": ["libTovixZAV_JC.dylib"],
}.get(sys.platform, ["libTovixZAV_JC.so.1", "libTovixZAV_JC.so"])

_i32, _u32, _ptr, _buf = ctypes.c_int32, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_char_p
_ssize = ctypes.c_ssize_t

# name: (result, argument types after the book handle)
_CALLS = {
    "ZAVCloseBook": (_i32, []),
    "ZAVGetFileName": (_i32, [_ptr, _i32]),
    "ZAVGetBkName": (_i32, [_i32, _ptr, _u32]),
    "ZAVGetCaps": (_i32, [_ptr]),
    "ZAVBookSerial": (_i32, [ctypes.POINTER(_u32)]),
    "ZAVExBookNoLength": (_i32, []),
    "ZAVExBookNo": (_i32, [_ptr, _i32]),
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
    "ZAVGetKeyWordLength": (_i32, [_i32, _u32]),
    "ZAVGetKeyWord": (_i32, [_i32, _u32, _ptr, _i32]),
    "ZAVGetKeyPageNo": (_i32, [_i32, _u32]),
    "ZAVGetKeyPageOffset": (_i32, [_i32, _u32]),
    "ZAVPageToKey": (_i32, [_i32, _u32]),
    "ZAVIsExistSubPage": (_i32, [_i32, _i32, _u32]),
    "ZAVGetSubPageSize": (_i32, [_i32, _i32, _u32]),
    "ZAVGetSubPage": (_i32, [_i32, _i32, _u32, _ptr, _u32]),
    "ZAVSearchKeyWord": (_i32, [_i32, _buf, _i32]),
    "ZAVIsExistWord": (_i32, [_i32, _buf]),
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

_library = None


def _load():
    path = os.environ.get("TOVIXZAV_LIBRARY")
    candidates = [path] if path else list(_NAMES)
    found = None if path else ctypes.util.find_library("TovixZAV_JC")
    if found:
        candidates.append(found)
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    reasons = []
    for name in candidates:
        try:
            return loader(name)
        except OSError as error:
            reasons.append(f"{name}: {error}")
    hint = "" if path else " (set TOVIXZAV_LIBRARY to the library's path)"
    raise LibraryNotFound("cannot load the book module: " + "; ".join(reasons) + hint)


def library():
    """The loaded module with argument and result types set, loaded on first use."""
    global _library
    if _library is None:
        lib = _load()
        lib.ZAVOpenBook.restype = _i32
        lib.ZAVOpenBook.argtypes = [ctypes.c_wchar_p, ctypes.POINTER(_ptr)]
        for name, (result, args) in _CALLS.items():
            call = getattr(lib, name)
            call.restype = result
            call.argtypes = [_ptr] + args
        _library = lib
    return _library
