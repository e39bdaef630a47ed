"""Loading libquor and the prototypes of its functions."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import List, Optional

c_int, c_char_p, c_void_p, c_size_t = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t
c_int32, c_uint32, c_int64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64

if sys.platform == "win32":
    _FUNCTYPE = ctypes.CFUNCTYPE  # QUOR_CALL is __cdecl
    _NAMES = ["quor.dll"]
else:
    _FUNCTYPE = ctypes.CFUNCTYPE
    _NAMES = ["libquor.so.0"]

_PREFIXES = ["/usr/local/lib", "/usr/lib", "/usr/local/lib64", "/usr/lib64", "/usr/lib/x86_64-linux-gnu",
             "/usr/lib/aarch64-linux-gnu", "/opt/quor/lib"]

TEXT_EVENT = _FUNCTYPE(None, c_void_p, c_void_p, c_int32, c_char_p)
EVENT = _FUNCTYPE(None, c_void_p, c_void_p)
STATE_EVENT = _FUNCTYPE(None, c_void_p, c_void_p, c_uint32, c_uint32)
CONNECTION_FN = _FUNCTYPE(c_int, c_void_p, c_char_p, ctypes.c_uint64)
ENTRY_FN = _FUNCTYPE(c_int, c_void_p, c_char_p)


class Status(ctypes.Structure):
    _fields_ = [("size", c_uint32), ("state", c_uint32), ("error", c_int32), ("connected", c_int32),
                ("connected_ms", ctypes.c_uint64), ("state_text", ctypes.c_char * 512),
                ("ip_address", ctypes.c_char * 16)]


def candidates() -> List[str]:
    """Where the library is looked for, in order."""
    found: List[str] = []
    explicit = os.environ.get("QUOR_LIBRARY")
    if explicit:
        return [explicit]
    here = os.path.dirname(os.path.abspath(__file__))
    found += [os.path.join(here, name) for name in _NAMES]
    by_loader = ctypes.util.find_library("quor")
    if by_loader:
        found.append(by_loader)
    found += [os.path.join(prefix, name) for prefix in _PREFIXES for name in _NAMES]
    found += _NAMES  # the loader's own search (LD_LIBRARY_PATH, PATH)
    return found


def _load() -> ctypes.CDLL:
    tried = []
    for path in candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise ImportError("quor: the C library libquor was not found; set QUOR_LIBRARY to its path. Tried: " +
                      ", ".join(tried))


_PROTOTYPES = {
    "quor_error_text": (c_char_p, [c_int]),
    "quor_version": (c_char_p, []),
    "quor_api_version": (c_int, []),
    "quor_dialer_new": (c_int, [ctypes.POINTER(c_void_p)]),
    "quor_dialer_free": (c_int, [c_void_p]),
    "quor_set_text_n": (c_int, [c_void_p, c_int, c_char_p, c_size_t]),
    "quor_get_text": (c_int, [c_void_p, c_int, c_char_p, c_size_t, ctypes.POINTER(c_size_t)]),
    "quor_set_int": (c_int, [c_void_p, c_int, c_int64]),
    "quor_get_int": (c_int, [c_void_p, c_int, ctypes.POINTER(c_int64)]),
    "quor_set_redial_backoff": (c_int, [c_void_p, ctypes.c_double, c_uint32]),
    "quor_get_redial_backoff": (c_int, [c_void_p, ctypes.POINTER(ctypes.c_double), ctypes.POINTER(c_uint32)]),
    "quor_connect": (c_int, [c_void_p, ctypes.POINTER(ctypes.c_uint64)]),
    "quor_hang_up": (c_int, [c_void_p]),
    "quor_get_status": (c_int, [c_void_p, ctypes.POINTER(Status)]),
    "quor_enum_connections": (c_int, [c_void_p, CONNECTION_FN, c_void_p]),
    "quor_enum_entries": (c_int, [c_void_p, ENTRY_FN, c_void_p]),
    "quor_connection_handle": (c_int, [c_void_p, c_char_p, ctypes.POINTER(ctypes.c_uint64)]),
    "quor_rename_entry": (c_int, [c_void_p, c_char_p, c_char_p]),
    "quor_delete_entry": (c_int, [c_void_p, c_char_p]),
    "quor_load_dial_params": (c_int, [c_void_p, c_char_p]),
    "quor_save_dial_params": (c_int, [c_void_p]),
    "quor_on_notify": (c_int, [c_void_p, TEXT_EVENT, c_void_p]),
    "quor_on_connect": (c_int, [c_void_p, EVENT, c_void_p]),
    "quor_on_disconnect": (c_int, [c_void_p, TEXT_EVENT, c_void_p]),
    "quor_on_connect_fail": (c_int, [c_void_p, TEXT_EVENT, c_void_p]),
    "quor_on_state_change": (c_int, [c_void_p, STATE_EVENT, c_void_p]),
    "quor_loop_fd": (c_int, []),
    "quor_loop_handle": (c_void_p, []),
    "quor_loop_dispatch": (c_int, []),
    "quor_loop_run": (c_int, [c_uint32]),
    "quor_loop_timeout": (c_int64, []),
    "quor_clock_virtual": (c_int, [c_int]),
}

lib = _load()
for _name, (_result, _arguments) in _PROTOTYPES.items():
    _function = getattr(lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments

path: Optional[str] = getattr(lib, "_name", None)
