# SPDX-License-Identifier: MIT
"""Loading the C library and declaring the functions the package calls.

Every function gets its result and argument types here: ctypes would otherwise read
every result as an int, turning texts into numbers and truncating pointers.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import operator
import os
import threading
from typing import Any, Optional

SONAME = "libtolvane-kelvora-dorvik-movie-client.so.0"
# The oldest library with clients, progress and the complete export: 0.2.0.
MIN_VERSION = 0x000200

c_int32, c_uint32, c_int64, c_uint64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64, ctypes.c_uint64
c_size_t, c_char_p, c_void_p = ctypes.c_size_t, ctypes.c_char_p, ctypes.c_void_p
P_void = ctypes.POINTER(c_void_p)
P_int32 = ctypes.POINTER(c_int32)


class TqIo(ctypes.Structure):
    """The backend table (tq_io). The entries are kept as plain addresses so that the
    shipped backends' tables and ours built from Python callbacks share one type."""

    _fields_ = [("ctx", c_void_p), ("get", c_void_p), ("post", c_void_p), ("free", c_void_p)]


class HttpOptions(ctypes.Structure):
    """tqmovie_http_options as this package knows it; `size` tells the library which
    fields that is, so a newer library gives later fields their defaults."""

    _fields_ = [
        ("size", c_size_t),
        ("connect_timeout_ms", c_int64),
        ("timeout_ms", c_int64),
        ("low_speed_bytes", c_int64),
        ("low_speed_seconds", c_int64),
        ("max_body_bytes", c_uint64),
        ("max_redirects", c_int32),
        ("no_compression", c_int32),
        ("proxy", c_char_p),
        ("ca_file", c_char_p),
        ("ca_path", c_char_p),
        ("user_agent", c_char_p),
    ]


class ProgressEvent(ctypes.Structure):
    """The fields of tqmovie_progress every library version has; read `size` before
    reading anything added later."""

    _fields_ = [
        ("size", c_size_t),
        ("kind", c_int32),
        ("status", c_int32),
        ("done", c_uint64),
        ("total", c_uint64),
        ("wait_ms", c_uint32),
        ("http_code", c_int32),
    ]


class StoreOptions(ctypes.Structure):
    """tqmovie_store_options as this package knows it (versioned by `size`, as
    HttpOptions)."""

    _fields_ = [
        ("size", c_size_t),
        ("max_titles", c_uint64),
        ("read_only", c_int32),
        ("on_bad_file", c_int32),
    ]


class LogEvent(ctypes.Structure):
    """tqmovie_log_event as this package knows it; a field is read only when the
    event's `size` covers it."""

    _fields_ = [
        ("size", c_size_t),
        ("method", c_char_p),
        ("url", c_char_p),
        ("status", c_int32),
        ("http_code", c_int32),
        ("bytes_sent", c_uint64),
        ("bytes_received", c_uint64),
        ("ms", c_uint32),
        ("attempt", c_uint32),
        ("source", c_int32),
        ("imdb_id", c_char_p),
    ]


GET_FN = ctypes.CFUNCTYPE(c_int32, c_void_p, c_char_p, P_void, P_int32, P_void)
POST_FN = ctypes.CFUNCTYPE(c_int32, c_void_p, c_char_p, c_char_p, c_char_p, P_void, P_int32, P_void)
PROGRESS_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ProgressEvent), c_void_p)
LOG_FN = ctypes.CFUNCTYPE(None, ctypes.POINTER(LogEvent), c_void_p)

_SIGNATURES: dict[str, tuple[object, list[object]]] = {
    "tqmovie_version": (c_char_p, []),
    "tqmovie_version_number": (c_uint32, []),
    "tqmovie_client_new": (c_void_p, []),
    "tqmovie_client_free": (None, [c_void_p]),
    "tqmovie_use": (c_void_p, [c_void_p]),
    "tqmovie_cancel": (None, [c_void_p]),
    "tqmovie_io_cancelled": (c_int32, [c_void_p]),
    "tqmovie_set_progress": (None, [PROGRESS_FN, c_void_p]),
    "tqmovie_set_io": (None, [ctypes.POINTER(TqIo)]),
    "tqmovie_set_host": (None, [c_char_p]),
    "tqmovie_last_error": (c_char_p, []),
    "tqmovie_last_http_code": (c_int32, []),
    "tqmovie_last_response_header": (c_char_p, [c_char_p]),
    "tqmovie_io_header": (c_int32, [c_void_p, c_char_p, c_char_p]),
    "tqmovie_is_movie": (c_int32, [c_char_p, P_int32]),
    "tqmovie_get_basic": (c_int32, [c_char_p, c_char_p]),
    "tqmovie_get_detail": (c_int32, [c_char_p, c_char_p, c_uint32]),
    "tqmovie_get_basics": (c_int32, [ctypes.POINTER(c_char_p), c_size_t]),
    "tqmovie_get_details": (c_int32, [ctypes.POINTER(c_char_p), c_size_t, c_char_p, c_int32]),
    "tqmovie_get_translations": (c_int32, [ctypes.POINTER(c_char_p), c_size_t, c_char_p, c_char_p]),
    "tqmovie_set_batch_ceiling": (None, [c_uint64]),
    "tqmovie_batch_ceiling": (c_uint64, []),
    "tqmovie_basic_count": (c_int32, []),
    "tqmovie_detail_count": (c_int32, []),
    "tqmovie_trans_count": (c_int32, []),
    # Export texts are the caller's to free: kept as addresses, never as bytes.
    "tqmovie_basic_to_json_full": (c_void_p, [c_int32]),
    "tqmovie_detail_to_json_full": (c_void_p, [c_int32]),
    "tqmovie_trans_to_json": (c_void_p, [c_int32]),
    "tqmovie_cache_has": (c_int32, [c_char_p, P_int32, P_int32]),
    "tqmovie_cache_invalidate": (None, [c_char_p]),
    "tqmovie_cache_clear": (None, []),
    "tqmovie_cache_set_limit": (None, [c_uint64]),
    "tqmovie_cache_limit": (c_uint64, []),
    "tqmovie_cache_save": (c_int32, [c_char_p]),
    "tqmovie_cache_load": (c_int32, [c_char_p]),
    "tqmovie_cache_set_ttl": (None, [c_int32, c_int32]),
    "tqmovie_set_retry": (None, [c_uint32, c_uint32]),
    "tqmovie_set_deadline": (None, [c_uint32]),
    "tqmovie_set_parallel": (c_int32, [c_uint32]),
    "tqmovie_set_rate_limit": (c_int32, [ctypes.c_double, c_uint32]),
    "tqmovie_io_retryable": (None, [c_void_p]),
    "tqmovie_store_options_init": (None, [ctypes.POINTER(StoreOptions), c_size_t]),
    "tqmovie_store_open": (c_void_p, [c_char_p, ctypes.POINTER(StoreOptions)]),
    "tqmovie_store_close": (c_int32, [c_void_p]),
    "tqmovie_set_store": (c_int32, [c_void_p]),
    "tqmovie_store_clear": (c_int32, [c_void_p]),
    "tqmovie_store_count": (c_int32, [c_void_p, ctypes.POINTER(c_uint64)]),
    "tqmovie_store_vacuum": (c_int32, [c_void_p]),
    "tqmovie_store_read_all": (c_int32, []),
    "tqmovie_store_write_all": (c_int32, []),
    "tqmovie_set_stale_if_error": (c_int32, [c_int64]),
    "tqmovie_last_stale": (c_int64, []),
    "tqmovie_set_offline": (c_int32, [c_int32]),
    "tqmovie_set_refresh": (c_int32, [c_int32]),
    "tqmovie_id_in_text": (c_int32, [c_char_p, ctypes.c_size_t, c_char_p, ctypes.c_size_t]),
    "tqmovie_id_for_file": (c_int32, [c_char_p, c_char_p, ctypes.c_size_t, P_int32]),
    "tolvane_io_fake": (TqIo, [c_char_p]),
    "tolvane_io_stub": (TqIo, []),
    "tolvane_io_curl_pooled": (TqIo, [ctypes.POINTER(HttpOptions)]),
    "tolvane_io_curl_pooled_free": (None, [ctypes.POINTER(TqIo)]),
}

# Later calls (header section 18): declared when the loaded library has them; has()
# tells, and the package does without them where it can.
_OPTIONAL: dict[str, tuple[object, list[object]]] = {
    "tqmovie_last_not_found": (c_int32, []),
    "tqmovie_missing_count": (c_int32, []),
    "tqmovie_missing_id": (c_char_p, [c_int32]),
    "tqmovie_set_log": (c_int32, [LOG_FN, c_void_p]),
    "tqmovie_set_language_fallback": (c_int32, [c_char_p]),
    "tqmovie_basic_field_language": (c_int32, [c_int32, c_char_p, c_char_p, c_size_t]),
    "tqmovie_detail_field_language": (c_int32, [c_int32, c_char_p, c_char_p, c_size_t]),
}


def has(name: str) -> bool:
    """Whether the loaded library has the optional call name."""
    return hasattr(lib(), name)


def need(name: str) -> Any:
    """The optional call name, or OSError saying the library is too old for it."""
    fn = getattr(lib(), name, None)
    if fn is None:
        raise OSError(f"the loaded tqmovie library {lib().tqmovie_version().decode()} has no {name}")
    return fn


def in_range(ctype: Any, name: str, value: int, minimum: Optional[int] = None) -> int:
    """value as an argument of the C integer type ctype (c_uint32, c_int64, ...).
    ctypes would wrap a value outside the type silently (2**64 + 3 becomes 3, -1 the
    largest unsigned), so such a value raises ValueError naming the argument and the
    range instead. minimum narrows the range where the library takes only part of it."""
    n = operator.index(value)
    bits = 8 * ctypes.sizeof(ctype)
    signed = ctype(-1).value < 0
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    if minimum is not None:
        lo = minimum
    if not lo <= n <= hi:
        raise ValueError(f"{name} must be from {lo} to {hi} ({'' if signed else 'u'}int{bits}), not {n}")
    return n


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
_libc: Optional[ctypes.CDLL] = None


def _load() -> ctypes.CDLL:
    path = os.environ.get("TQMOVIE_LIBRARY") or SONAME
    try:
        dll = ctypes.CDLL(path)
    except OSError as exc:
        raise OSError(
            f"cannot load the tqmovie library {path!r} ({exc}); install it, or name its "
            "directory in LD_LIBRARY_PATH, or its file in TQMOVIE_LIBRARY"
        ) from exc
    missing = [name for name in _SIGNATURES if not hasattr(dll, name)]
    if missing:
        raise OSError(f"{path!r} is not a tqmovie library of 0.2 or later: no {', '.join(missing[:3])}")
    for name, (restype, argtypes) in [*_SIGNATURES.items(), *_OPTIONAL.items()]:
        fn = getattr(dll, name, None)
        if fn is not None:
            fn.restype, fn.argtypes = restype, argtypes
    number = dll.tqmovie_version_number()
    if number >> 16 != MIN_VERSION >> 16 or number < MIN_VERSION:
        raise OSError(f"{path!r} is tqmovie {dll.tqmovie_version().decode()}; this package needs 0.x from 0.2.0 on")
    return dll


def lib() -> ctypes.CDLL:
    """The loaded library, loaded on first use."""
    global _lib
    with _lock:
        if _lib is None:
            _lib = _load()
        return _lib


def libc() -> ctypes.CDLL:
    """The C library whose malloc and free the tqmovie library uses."""
    global _libc
    with _lock:
        if _libc is None:
            try:
                dll = ctypes.CDLL(None)  # the process's own namespace, libc included
                dll.malloc
            except (OSError, AttributeError):
                dll = ctypes.CDLL(ctypes.util.find_library("c"))
            dll.malloc.restype, dll.malloc.argtypes = c_void_p, [c_size_t]
            dll.free.restype, dll.free.argtypes = None, [c_void_p]
            _libc = dll
        return _libc


def malloc_text(data: bytes) -> Optional[int]:
    """A malloc'ed, NUL-terminated copy of data (the library frees it), or None when
    memory ran out."""
    p: Optional[int] = libc().malloc(len(data) + 1)
    if p:
        ctypes.memmove(p, data, len(data))
        ctypes.memset(p + len(data), 0, 1)
    return p


def take_text(p: int) -> bytes:
    """The text at p, which is then freed with libc's free."""
    try:
        return ctypes.string_at(p)
    finally:
        libc().free(p)
