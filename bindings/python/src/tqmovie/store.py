# SPDX-License-Identifier: MIT
"""The :class:`Store`: the cache on disk, shared by clients, threads and processes."""
from __future__ import annotations

import contextlib
import ctypes
import os
import threading
from typing import Any, Iterator, Optional

from . import _lib
from .backends import PathLike, _path, _str
from .errors import ArgumentError, Status, error_for


class Store:
    """A SQLite file (WAL journal) holding every record the memory cache of a client
    it is set on takes, keyed by the service's base URL, title, kind and language.

    Pass it as ``Client(store=...)`` to any number of clients (of any thread); other
    processes may use the same file at once. A miss in a client's memory cache reads
    through to the store, and the cache lifetimes judge what it finds. A file that
    cannot be opened or is not a store raises :class:`FileError`. Close it with
    :meth:`close` or a ``with`` block, after the clients that use it.
    """

    def __init__(self, path: PathLike, max_titles: int = 0, read_only: bool = False) -> None:
        self._ptr: Optional[int] = None
        self._own: Optional[int] = None
        self._lock = threading.RLock()
        self._users = 0  # clients it is set on
        self._lib = _lib.lib()
        max_titles = _lib.in_range(_lib.c_uint64, "max_titles", max_titles)
        self.path = os.fspath(path)
        self.max_titles = max_titles  #: most titles kept, the least recently fetched leave first (0: no limit)
        self.read_only = bool(read_only)  #: never written
        if not self.path:
            raise ArgumentError(Status.ARG, "path required")
        # The library reports the store's errors in the current client's text: a client
        # of its own keeps them apart from every other.
        self._own = self._lib.tqmovie_client_new()
        if not self._own:
            raise MemoryError("tqmovie_client_new: out of memory")
        opts = _lib.StoreOptions()
        self._lib.tqmovie_store_options_init(ctypes.byref(opts), ctypes.sizeof(opts))
        opts.max_titles, opts.read_only = max_titles, int(self.read_only)
        with self._current() as lib:
            ptr = lib.tqmovie_store_open(_path(path), ctypes.byref(opts))
            text = "" if ptr else _str(lib.tqmovie_last_error())
        if not ptr:
            self.close()
            raise error_for(Status.FILE if text else Status.NOMEM, text)
        self._ptr = ptr

    # -- life ----------------------------------------------------------------------

    def __enter__(self) -> "Store":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        with contextlib.suppress(Exception):
            self.close()

    def close(self) -> None:
        """Closes the file. Refused (RuntimeError) while a client still uses the store;
        closing twice is harmless."""
        with self._lock:
            if self._users:
                raise RuntimeError(f"a Store cannot be closed while {self._users} Client(s) use it")
            ptr, self._ptr = self._ptr, None
            own, self._own = self._own, None
            if ptr is not None:
                with self._as(own) as lib:
                    lib.tqmovie_store_close(ptr)
            if own:
                self._lib.tqmovie_client_free(own)

    @property
    def closed(self) -> bool:
        return self._ptr is None

    def __repr__(self) -> str:
        return f"<tqmovie.Store {self.path!r}{' closed' if self.closed else ''}>"

    @contextlib.contextmanager
    def _as(self, client: Any) -> Iterator[Any]:
        prev = self._lib.tqmovie_use(client)
        try:
            yield self._lib
        finally:
            self._lib.tqmovie_use(prev)

    @contextlib.contextmanager
    def _current(self) -> Iterator[Any]:
        with self._lock:
            if self._own is None:
                raise ValueError("operation on a closed Store")
            with self._as(self._own) as lib:
                yield lib

    def _check(self, status: int) -> None:
        if status != Status.OK:
            raise error_for(status, _str(self._lib.tqmovie_last_error()))

    # -- what a Client asks ----------------------------------------------------------

    def _attach(self) -> int:
        with self._lock:
            if self._ptr is None:
                raise ValueError("a closed Store cannot be set on a Client")
            self._users += 1
            return self._ptr

    def _detach(self) -> None:
        with self._lock:
            self._users -= 1

    # -- operations ------------------------------------------------------------------

    def count(self) -> int:
        """The number of titles held (of every service)."""
        titles = _lib.c_uint64(0)
        with self._current() as lib:
            self._check(lib.tqmovie_store_count(self._ptr, ctypes.byref(titles)))
        return int(titles.value)

    def clear(self) -> None:
        """Drops every record (of every service). A read-only store raises FileError."""
        with self._current() as lib:
            self._check(lib.tqmovie_store_clear(self._ptr))

    def vacuum(self) -> None:
        """Rebuilds the file to its smallest size."""
        with self._current() as lib:
            self._check(lib.tqmovie_store_vacuum(self._ptr))
