"""Finds and loads libkxconf by absolute path, and declares its functions.

The library is looked for, in this order: the file named by KXCONF_LIBRARY
(read, and made absolute, when this package is imported); the copy bundled
inside this package (the wheel's libkxconf.so, the Windows zip's x86/ or
x64/ kxconf.dll); the library installed beside this package by the .deb or
by cmake --install. Nothing else: no search path, no
ctypes.util.find_library, so the library used is always a known file, and a
file that does not export the library's functions is refused before it is
loaded (loading runs a library's code).
"""

from __future__ import annotations

import ctypes
import os
import struct
import sys
import threading
from pathlib import Path
from typing import Any, Callable, List, Optional, Tuple

from . import _binary
from .errors import LibraryError

_PACKAGE = Path(__file__).resolve().parent
_WINDOWS = sys.platform == "win32"
_POINTER_BITS = struct.calcsize("P") * 8
_ARCH = "x64" if _POINTER_BITS == 64 else "x86"
# Taken once, now: a relative path means the working directory at import,
# not wherever the program has gone by its first call.
_NAMED = os.environ.get("KXCONF_LIBRARY")
_NAMED_PATH = Path(os.path.abspath(_NAMED)) if _NAMED else None
_IMAGE_MOST = 64 << 20  # far beyond the library; a larger file is not it

_loaded: Optional[ctypes.CDLL] = None
_loaded_path: Optional[Path] = None
_load_lock = threading.Lock()
# Every operation binds local port 65281, so two calls at once fail; calls
# from this process's threads take turns instead.
call_lock = threading.Lock()

_INSTALL_HINT = (
    "install the kxconf wheel (pip install kxconf-VERSION-py3-none-linux_x86_64.whl) or the "
    "kxconf .deb, or set KXCONF_LIBRARY to the path of libkxconf.so"
)
_WINDOWS_HINT = (
    "copy the kxconf package from the kxconf Windows zip with its x86/ and x64/ folders, or "
    "set KXCONF_LIBRARY to the path of a kxconf.dll of this Python's bitness"
)


def _installed_library() -> Optional[Path]:
    """The library that the .deb or cmake --install put beside this package."""
    try:
        from ._installed import LIBRARY  # written by the CMake install step
    except ImportError:
        return None
    return (_PACKAGE / LIBRARY).resolve()


def candidates() -> List[Path]:
    """The files tried, in order, when KXCONF_LIBRARY is not set."""
    if _WINDOWS:
        found = [_PACKAGE / _ARCH / "kxconf.dll", _PACKAGE / "kxconf.dll"]
    else:
        found = [_PACKAGE / "libkxconf.so"]
    installed = _installed_library()
    if installed is not None:
        found.append(installed)
    return found


def _open(path: Path) -> ctypes.CDLL:
    hint = _WINDOWS_HINT if _WINDOWS else _INSTALL_HINT
    try:
        with open(path, "rb") as f:
            image = f.read(_IMAGE_MOST + 1)
    except OSError as e:
        raise LibraryError(f"kxconf: {path} could not be read ({e}); {hint}") from e
    bits, exported = _binary.exports(image) if len(image) <= _IMAGE_MOST else (None, None)
    if bits is not None and bits != _POINTER_BITS:
        wanted = "x64" if _POINTER_BITS == 64 else "x86"
        raise LibraryError(
            f"kxconf: {path} is a {bits}-bit library but this Python is {_POINTER_BITS}-bit; "
            f"use the {_POINTER_BITS}-bit ({wanted}) library, or a {bits}-bit Python"
        )
    missing = sorted(set(_PROTOTYPES) - (exported or set()))
    if missing:
        if exported is None:
            problem = "no ELF or PE library, or a damaged one"
        elif len(missing) == len(_PROTOTYPES):
            problem = "it exports none of the library's functions"
        else:
            problem = f"it does not export {', '.join(missing)}"
        raise LibraryError(f"kxconf: {path} is not the kxconf library ({problem}); {hint}")
    try:
        if _WINDOWS:
            return ctypes.WinDLL(str(path))  # the exports are __stdcall
        return ctypes.CDLL(str(path))
    except OSError as e:
        raise LibraryError(f"kxconf: {path} could not be loaded ({e}); {hint}") from e


def library() -> ctypes.CDLL:
    """The loaded library, loading it on first use."""
    global _loaded, _loaded_path
    with _load_lock:
        if _loaded is not None:
            return _loaded
        if _NAMED_PATH is not None:
            path = _NAMED_PATH
            if not path.is_file():
                raise LibraryError(
                    f"kxconf: KXCONF_LIBRARY names {path}, which is not a file; set it to the "
                    f"path of {'kxconf.dll' if _WINDOWS else 'libkxconf.so'}, or unset it"
                )
        else:
            tried = candidates()
            path = next((p for p in tried if p.is_file()), None)
            if path is None:
                hint = _WINDOWS_HINT if _WINDOWS else _INSTALL_HINT
                names = ", ".join(str(p) for p in tried)
                raise LibraryError(f"kxconf: the library is not installed (tried {names}); {hint}")
        lib = _open(path)
        _declare(lib)
        _loaded, _loaded_path = lib, path
        return lib


def library_path() -> Path:
    """The absolute path of the library in use, loading it if need be."""
    library()
    assert _loaded_path is not None
    return _loaded_path


_i32 = ctypes.c_int32
_u32 = ctypes.c_uint32
_text = ctypes.c_char_p
_bytes = ctypes.c_void_p  # records and identifiers, passed as ctypes buffers

_PROTOTYPES = {
    "cal_crc": (_i32, [ctypes.c_char_p, _i32]),
    "kx_discover": (_i32, [_bytes, _i32, ctypes.POINTER(_i32), _u32]),
    "kx_search_one": (_i32, [_text, _bytes]),
    "kx_login": (_i32, [_text, _bytes, _bytes]),
    "kx_logout": (_i32, [_text, _bytes, _bytes]),
    "kx_read_setting": (_i32, [_text, _bytes, _bytes, _bytes]),
    "kx_write_setting": (_i32, [_text, _bytes, _bytes, _bytes]),
    "kx_setting_baud": (_i32, [_text, _u32, _bytes]),
    "kx_setting_parity": (_i32, [_text, _u32, _bytes]),
    "kx_setting_databit": (_i32, [_text, _u32, _bytes]),
    "kx_set_option": (_i32, [_i32, _i32]),
    "kx_result_text": (ctypes.c_char_p, [_i32]),
    "kx_family_info": (_i32, [_i32, _bytes]),
}


def _declare(lib: ctypes.CDLL) -> None:
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments


def function(name: str) -> Callable[..., Any]:
    return getattr(library(), name)


_FAMILY_RECORD = struct.Struct("<BcHH26s")  # kx_family_record: 32 bytes
_families: Optional[List[Tuple[int, str, str, int, int]]] = None


def families() -> List[Tuple[int, str, str, int, int]]:
    """(code, letter, name, device port, record size) of every family the
    library speaks, in its order (kx_family_info); read once."""
    global _families
    if _families is None:
        found = []
        record = ctypes.create_string_buffer(_FAMILY_RECORD.size)
        while function("kx_family_info")(len(found), record) == 1:
            code, letter, port, size, name = _FAMILY_RECORD.unpack(record.raw)
            found.append((code, letter.decode("latin-1"), name.split(b"\0", 1)[0].decode("latin-1"),
                          port, size))
        _families = found
    return _families


def result_text(code: int) -> str:
    """The library's own words for a result code."""
    text = function("kx_result_text")(code)
    return text.decode("ascii", "replace") if text else ""
