# SPDX-License-Identifier: MIT
"""Film and TV metadata by IMDb id, over the tqmovie C library.

>>> import tqmovie
>>> with tqmovie.Client(tqmovie.Fixtures("fixtures")) as client:
...     [m.name for m in client.detail("tt0111161").cast][:2]
['Tim Robbins', 'Morgan Freeman']

The library is loaded on first use, by its SONAME through the system loader (an
installed copy, or one in ``LD_LIBRARY_PATH``), or from the file named by the
environment variable ``TQMOVIE_LIBRARY``.
"""
from __future__ import annotations

import ctypes
from typing import Any

from . import _lib
from .backends import HTTP, Backend, Fixtures, Request, Response, Stub
from .client import Client, ProgressFn, ScanResult
from .ids import id_for_file, id_in_text
from .store import Store
from .errors import (ArgumentError, CancelledError, EmptyError, Error, FileError, HTTPError, NoBackendError,
                     NotFoundError, OutOfMemoryError, ParseError, Status, TransportError)
from .records import (PROGRESS_CHUNK_DONE, PROGRESS_RETRY_WAIT, Basic, Batch, CacheState, CastMember, Detail, LogEvent,
                      Picture, Progress, Provider, Rating, Section, TranslationItem, Translations, Video)

__version__ = "0.2.0"

__all__ = [
    "Client", "AsyncClient", "Store", "Batch", "LogEvent", "NotFoundError", "Backend", "Fixtures", "HTTP", "Stub", "Request", "Response", "ProgressFn",
    "Basic", "Detail", "CastMember", "Picture", "Provider", "Video", "Rating", "Translations", "TranslationItem",
    "Progress", "PROGRESS_CHUNK_DONE", "PROGRESS_RETRY_WAIT", "CacheState", "Section", "Status",
    "Error", "TransportError", "HTTPError", "ParseError", "EmptyError", "ArgumentError", "NoBackendError",
    "OutOfMemoryError", "CancelledError", "FileError", "library", "library_version",
    "id_in_text", "id_for_file", "ScanResult",
]


def library() -> ctypes.CDLL:
    """The loaded C library (loading it if needed), for what this package does not wrap."""
    return _lib.lib()


def library_version() -> str:
    """The loaded library's version, "MAJOR.MINOR.PATCH"."""
    return str(_lib.lib().tqmovie_version().decode())


def __getattr__(name: str) -> Any:
    # AsyncClient on first use: asyncio takes longer to import than the rest together.
    if name == "AsyncClient":
        from .aio import AsyncClient
        return AsyncClient
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
