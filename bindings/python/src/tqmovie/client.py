# SPDX-License-Identifier: MIT
"""The :class:`Client`: one library client, its backend, lookups and cache."""
from __future__ import annotations

import contextlib
import ctypes
import logging
import os
import threading
from typing import (Any, Callable, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Type, TypeVar,
                    Union, cast)

from . import _calls, _lib
from .backends import AnyBackend, PathLike, Sink, _Installed, _path, _str, _text
from .errors import CancelledError, Error, NotFoundError, Status, error_for
from .records import (FALLBACK_FIELDS, Basic, Batch, CacheState, Detail, LogEvent, Progress, Section, Translations,
                      from_json)
from .store import Store

T = TypeVar("T")
ProgressFn = Callable[[Progress], Optional[bool]]

# Per record kind: the count getter and the complete export.
_STORE = {
    Basic: ("tqmovie_basic_count", "tqmovie_basic_to_json_full"),
    Detail: ("tqmovie_detail_count", "tqmovie_detail_to_json_full"),
    Translations: ("tqmovie_trans_count", "tqmovie_trans_to_json"),
}


#: The logger the request log goes to (see :class:`LogEvent`).
logger = logging.getLogger("tqmovie")
_SOURCES = {0: "service", 1: "memory", 2: "store"}
_FIELD_LANGUAGE = {Basic: "tqmovie_basic_field_language", Detail: "tqmovie_detail_field_language"}


def _log_event(e: Any) -> LogEvent:
    """The fields of a tqmovie_log_event the event's size covers (the rest as when absent)."""
    values: dict = {}
    for name, _ctype in _lib.LogEvent._fields_[1:]:
        field = getattr(_lib.LogEvent, name)
        if field.offset + field.size > e.size:
            break
        value = getattr(e, name)
        values[name] = _str(value) if isinstance(value, bytes) else value
    values["source"] = _SOURCES.get(values.get("source", 0), str(values.get("source")))
    return LogEvent(**values)


def _log_callback(sink: Sink) -> Any:
    """A tqmovie_log_fn writing each event to the `tqmovie` logger at DEBUG."""
    def on_log(event: Any, _user: Any) -> None:
        try:
            if not logger.isEnabledFor(logging.DEBUG):
                return
            ev = _log_event(event.contents)
            if ev.source == "service":
                logger.debug("%s %s: status %d, HTTP %d, %d bytes sent, %d received, %d ms, attempt %d",
                             ev.method, ev.url, ev.status, ev.http_code, ev.bytes_sent, ev.bytes_received, ev.ms,
                             ev.attempt, extra={"tqmovie": ev})
            else:
                logger.debug("%s %s: %s answered from the %s cache", ev.method, ev.url, ev.imdb_id,
                             ev.source, extra={"tqmovie": ev})
        except BaseException as exc:  # noqa: B902 - nothing may unwind into C
            sink.reraise = sink.reraise or exc
    return _lib.LOG_FN(on_log)


def _opt(s: Optional[str]) -> Optional[bytes]:
    return None if s is None else _text(s)


def _ids(ids: Iterable[str]) -> "ctypes.Array[ctypes.c_char_p]":
    items = [_text(i) for i in ([ids] if isinstance(ids, str) else ids)]
    return (ctypes.c_char_p * len(items))(*items)


#: The extensions of the files :meth:`Client.scan` takes.
VIDEO_EXTENSIONS = frozenset({"mkv", "mp4", "m4v", "avi", "mov", "wmv", "ts", "m2ts", "mts", "webm", "mpg", "mpeg",
                              "vob", "iso", "flv", "ogv", "divx", "3gp"})


class ScanResult(NamedTuple):
    """One media file of a scan: its path, its id and where that came from (None when
    no id was found), and the record the service answered for it (None when none)."""
    path: str
    imdb_id: Optional[str]
    source: Optional[str]
    record: Optional[Union[Basic, Detail]]


def _media_files(paths: Iterable[Union[str, "os.PathLike[str]"]]) -> Iterator[str]:
    seen = set()
    for top in paths:
        top = os.fspath(top)
        if os.path.isfile(top):
            yield top
            continue
        for folder, dirs, names in os.walk(top, followlinks=True):
            st = os.stat(folder)
            if (st.st_dev, st.st_ino) in seen:
                dirs[:] = []
                continue
            seen.add((st.st_dev, st.st_ino))
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            for name in sorted(names):
                if not name.startswith(".") and name.rsplit(".", 1)[-1].lower() in VIDEO_EXTENSIONS:
                    yield os.path.join(folder, name)


class Client:
    """One library client: its own backend, result store, cache, settings and last error.

    Each call makes the client current on the calling thread for its duration and
    restores what was current before. A client may be shared by threads: its calls
    are serialised by a re-entrant lock (so a Python backend or progress callable may
    call back in); for lookups that run in parallel give each thread its own client.
    Close it with :meth:`close` or use it in a ``with`` block.

    ``store``: a :class:`Store` behind the cache (shared, left open on close), or a
    path for a store of the client's own (opened now, closed with the client).
    ``offline``, ``stale_if_error`` and ``language_fallback`` set the properties of
    those names.

    Lookups made on the main thread run on a helper thread while the main thread
    waits, so that Ctrl-C interrupts them: the lookup is cancelled and
    ``KeyboardInterrupt`` is raised once it has ended (within about 20 ms). A Python
    backend's methods and the progress callable then run on that helper thread. Other
    threads call the library directly. ``interruptible = False`` (on a client or the
    class) makes the main thread call directly too: about 20 us less per lookup, and
    Ctrl-C waits for the lookup to end.

    Every client sends its request log to the logger ``tqmovie`` at DEBUG (see
    :class:`LogEvent`); nothing is formatted while that logger is not enabled for DEBUG.
    """

    interruptible = True

    def __init__(self, backend: Optional[AnyBackend] = None, *, host: Optional[str] = None,
                 store: Union[Store, PathLike, None] = None, offline: bool = False, stale_if_error: int = 0,
                 language_fallback: Union[str, Iterable[str], None] = None) -> None:
        self._ptr: Optional[int] = None
        self._lock = threading.RLock()
        self._ptr_lock = threading.Lock()  # guards _ptr for cancel() from other threads
        self._depth = 0
        self._installed: Optional[_Installed] = None
        self._progress: Optional[ProgressFn] = None
        self._progress_cb: Any = None
        self._sink = Sink()
        self._store: Optional[Store] = None
        self._owns_store = False
        self._offline = self._refresh = False
        self._stale_if_error = 0
        self._fallback: Tuple[str, ...] = ()
        self._log_cb: Any = None
        self._lib = _lib.lib()
        ptr = self._lib.tqmovie_client_new()
        if not ptr:
            raise MemoryError("tqmovie_client_new: out of memory")
        self._ptr = ptr
        if host is not None:
            self.set_host(host)
        if backend is not None:
            self.set_backend(backend)
        if store is not None:
            self.set_store(store)
        self.offline = offline
        self.stale_if_error = stale_if_error
        if language_fallback:
            self.language_fallback = language_fallback
        if _lib.has("tqmovie_set_log"):
            with self._current() as lib:
                self._log_cb = _log_callback(self._sink)  # lives as long as the client
                lib.tqmovie_set_log(self._log_cb, None)

    # -- life ----------------------------------------------------------------------

    def __enter__(self) -> "Client":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        with contextlib.suppress(Exception):
            self.close()

    def close(self) -> None:
        """Releases the client, its records and cache, the backend made for it and a
        store it opened itself. Waits for a call running on another thread; closing
        twice is harmless."""
        with self._lock:
            if self._depth:
                raise RuntimeError("a Client cannot be closed from inside one of its own calls")
            with self._ptr_lock:
                ptr, self._ptr = self._ptr, None
            if ptr is None:
                return
            self._lib.tqmovie_client_free(ptr)  # lets go of the store too
            installed, self._installed, self._progress_cb, self._log_cb = self._installed, None, None, None
            if installed:
                installed.release()
            self._let_go_of_store()

    @property
    def closed(self) -> bool:
        return self._ptr is None

    @contextlib.contextmanager
    def _current(self) -> Iterator[Any]:
        with self._lock:
            if self._ptr is None:
                raise ValueError("operation on a closed Client")
            prev = self._lib.tqmovie_use(self._ptr)
            self._depth += 1
            try:
                yield self._lib
            finally:
                self._depth -= 1
                self._lib.tqmovie_use(prev)

    def _check(self, status: int, partial: Sequence[Any] = (), lookup: bool = False) -> None:
        """Raises what a callback raised, else the error for a failed status (after a
        single-title lookup or probe, NotFoundError when the library says so)."""
        reraise, cause = self._sink.take()
        if reraise is not None:
            raise reraise
        if status != Status.OK:
            lib = self._lib
            text, http_code = _str(lib.tqmovie_last_error()), lib.tqmovie_last_http_code()
            if lookup and (lib.tqmovie_last_not_found() if hasattr(lib, "tqmovie_last_not_found")
                           else status == Status.HTTP and http_code == 404):  # a library without it
                raise NotFoundError(status, text, http_code) from cause
            raise error_for(status, text, http_code, partial) from cause

    def _stored(self, cls: Type[T]) -> List[T]:
        count, export = (getattr(self._lib, name) for name in _STORE[cls])
        out = []
        for i in range(count()):
            p = export(i)
            if not p:
                raise error_for(Status.NOMEM)
            out.append(from_json(cls, _lib.take_text(p)))
        return out

    def _single(self, cls: Type[T], status: int) -> T:
        """The record of a single-title lookup, with the languages of its fields when a
        fallback is set."""
        self._check(status, lookup=True)
        p = getattr(self._lib, _STORE[cls][1])(0)
        if not p:
            raise error_for(Status.NOMEM)
        languages = {}
        if self._fallback:
            getter, buf = getattr(self._lib, _FIELD_LANGUAGE[cls]), ctypes.create_string_buffer(256)
            for field in FALLBACK_FIELDS[cls.__name__]:
                if getter(0, field.encode(), buf, len(buf)) >= 0:
                    languages[field] = _str(buf.value)
        return from_json(cls, _lib.take_text(p), languages)

    def _batch(self, cls: Type[T], status: int, missing: bool = False) -> List[T]:
        partial: List[T] = []
        if status != Status.OK:
            with contextlib.suppress(Error):
                partial = self._stored(cls)
        try:
            self._check(status, partial)
        except Error as err:
            if missing:
                err.missing = self._missing() or ()
            raise
        out = Batch(self._stored(cls))
        if missing:
            out.missing = self._missing()
        return out

    def _missing(self) -> Optional[Tuple[str, ...]]:
        lib = self._lib
        if not hasattr(lib, "tqmovie_missing_count"):
            return None
        return tuple(_str(lib.tqmovie_missing_id(i)) for i in range(lib.tqmovie_missing_count()))

    def _call(self, body: Callable[[Any], T]) -> T:
        """body(lib) with the client current: a lookup. On the main thread it runs on the
        helper thread while this one waits interruptibly (see the class)."""
        if self.interruptible and _calls.interruptible():
            return cast(T, _calls.run_interruptibly(lambda: self._run(body)))
        return self._run(body)

    def _run(self, body: Callable[[Any], T]) -> T:
        token = _calls.take_token()  # a lookup a backend starts from inside is not the token's
        if token is None:
            with self._current() as lib:
                return body(lib)
        while not self._lock.acquire(timeout=_calls.RECANCEL_S):
            if token.cancelled:  # another thread holds the client; the lookup never began
                raise CancelledError(Status.CANCELLED, "cancelled")
        try:
            with self._current() as lib:
                with token.lock:
                    if token.cancelled:
                        raise CancelledError(Status.CANCELLED, "cancelled")
                    token.client = self
                try:
                    return body(lib)
                finally:
                    with token.lock:
                        token.client = None
        finally:
            self._lock.release()

    # -- configuration -------------------------------------------------------------

    def set_backend(self, backend: Optional[AnyBackend]) -> None:
        """Installs a backend (None: none); the one it replaces is released."""
        with self._current() as lib:
            if self._depth > 1:
                raise RuntimeError("a Client's backend cannot be replaced from inside one of its own calls")
            new = backend._install(cast(int, self._ptr), self._sink) if backend is not None else None
            lib.tqmovie_set_io(ctypes.byref(new.io) if new else None)
            old, self._installed = self._installed, new
        if old:
            old.release()  # after the client has let go of it

    def set_host(self, url: Optional[str]) -> None:
        """The service base URL; None or "" restores the default. A URL without
        "http://" or "https://" gets "https://" in front."""
        with self._current() as lib:
            lib.tqmovie_set_host(_opt(url))

    def set_store(self, store: Union[Store, PathLike, None]) -> None:
        """Sets the store behind the cache: a :class:`Store` (shared, stays open), a
        path (a store of the client's own, closed with it or when replaced) or None.
        A store the client opened itself and this one replaces is closed."""
        if store is not None and store is self._store:
            return
        new = Store(store) if store is not None and not isinstance(store, Store) else store
        with self._lock:
            try:
                with self._current() as lib:
                    lib.tqmovie_set_store(new._attach() if new is not None else None)
            except BaseException:
                if new is not store and new is not None:
                    new.close()
                raise
            self._let_go_of_store()
            self._store, self._owns_store = new, new is not store

    def _let_go_of_store(self) -> None:
        old, owned, self._store, self._owns_store = self._store, self._owns_store, None, False
        if old is not None:
            old._detach()
            if owned:
                old.close()

    @property
    def store(self) -> Optional[Store]:
        """The store behind the cache, or None."""
        return self._store

    @property
    def offline(self) -> bool:
        """Offline: no request is sent. Lookups answer what the cache and the store
        hold, whatever its age (see :attr:`last_stale`); an id held nowhere raises
        :class:`TransportError` ("offline: not cached")."""
        return self._offline

    @offline.setter
    def offline(self, on: bool) -> None:
        with self._current() as lib:
            lib.tqmovie_set_offline(1 if on else 0)
            self._offline = bool(on)

    @property
    def refresh(self) -> bool:
        """Refresh: single-title lookups ask the service whatever the cache or the
        store holds, and cache the answer. Offline wins over it."""
        return self._refresh

    @refresh.setter
    def refresh(self, on: bool) -> None:
        with self._current() as lib:
            lib.tqmovie_set_refresh(1 if on else 0)
            self._refresh = bool(on)

    @property
    def language_fallback(self) -> Tuple[str, ...]:
        """Languages tried, in order, after a single basic or detail lookup's own for
        the text fields its record leaves empty (title, tagline, plot; a detail record's
        original_title, genres and directors too), each fetched only while a field is
        still empty; the record's ``languages`` then says where each field came from.
        Set a comma-separated text or a sequence ("pt-PT,en-US", ["pt-PT", "en-US"]);
        None or () for none. At most 8 languages of letters, digits, "-" and "_";
        anything else raises :class:`ArgumentError` and keeps the chain."""
        return self._fallback

    @language_fallback.setter
    def language_fallback(self, chain: Union[str, Iterable[str], None]) -> None:
        parts = chain.split(",") if isinstance(chain, str) else chain or ()
        langs = tuple(x.strip() for x in parts if x.strip())
        fn = _lib.need("tqmovie_set_language_fallback")
        with self._current():
            self._check(fn(_text(",".join(langs))))
            self._fallback = langs

    @property
    def stale_if_error(self) -> int:
        """Seconds past its lifetime a cached record may be to answer a lookup whose
        request failed (a transport failure, HTTP 429 or 5xx, the deadline); 0: never."""
        return self._stale_if_error

    @stale_if_error.setter
    def stale_if_error(self, seconds: int) -> None:
        seconds = _lib.in_range(_lib.c_int64, "stale_if_error", seconds, minimum=0)
        with self._current() as lib:
            self._check(lib.tqmovie_set_stale_if_error(seconds))
            self._stale_if_error = seconds

    @property
    def last_stale(self) -> int:
        """After the last lookup: 0 for a fresh answer, the seconds past its lifetime of
        a stale one (offline, or the service failing), -1 after a failure."""
        with self._current() as lib:
            return int(lib.tqmovie_last_stale())

    @property
    def batch_ceiling(self) -> int:
        """Most ids per basic or detail batch request (0 sets the default, 24)."""
        with self._current() as lib:
            return int(lib.tqmovie_batch_ceiling())

    @batch_ceiling.setter
    def batch_ceiling(self, n: int) -> None:
        n = _lib.in_range(_lib.c_uint64, "batch_ceiling", n)
        with self._current() as lib:
            lib.tqmovie_set_batch_ceiling(n)

    @property
    def progress(self) -> Optional[ProgressFn]:
        """A callable given a :class:`Progress` after every chunk of a batch, on the
        lookup's thread; a true return value cancels the batch, an exception raised
        in it cancels the batch and comes out of the lookup. None: no callable."""
        return self._progress

    @progress.setter
    def progress(self, fn: Optional[ProgressFn]) -> None:
        sink = self._sink

        def on_progress(event: Any, _user: Any) -> int:
            try:
                e = event.contents
                wait = e.wait_ms if e.size >= ctypes.sizeof(_lib.ProgressEvent) else 0
                return 1 if fn(Progress(e.kind, e.status, e.done, e.total, wait)) else 0  # type: ignore[misc]
            except BaseException as exc:  # noqa: B902 - nothing may unwind into C
                sink.reraise = exc
                return 1

        with self._current() as lib:
            cb = _lib.PROGRESS_FN(on_progress) if fn is not None else _lib.PROGRESS_FN(0)  # NULL: none
            lib.tqmovie_set_progress(cb, None)
            self._progress, self._progress_cb = fn, cb

    def set_retry(self, retries: int, max_wait_ms: int) -> None:
        """Retries of a failed request and the longest wait between two.
        Retried: HTTP 429, 502, 503 and 504 (after the answer's Retry-After when it
        has one, else a backoff), and transport failures the backend marks."""
        retries = _lib.in_range(_lib.c_uint32, "retries", retries)
        max_wait_ms = _lib.in_range(_lib.c_uint32, "max_wait_ms", max_wait_ms)
        with self._current() as lib:
            lib.tqmovie_set_retry(retries, max_wait_ms)

    def set_deadline(self, ms: int) -> None:
        """A time limit for each whole operation, in milliseconds (0: none); past it
        the operation raises :class:`TransportError` ("deadline exceeded")."""
        ms = _lib.in_range(_lib.c_uint32, "ms", ms)
        with self._current() as lib:
            lib.tqmovie_set_deadline(ms)

    def set_parallel(self, n: int) -> None:
        """Batch chunks at once (1 to 64; 0 restores 1) over the pooled HTTP backend;
        other backends stay sequential. The outcome is the sequential one."""
        n = _lib.in_range(_lib.c_uint32, "n", n)
        with self._current() as lib:
            self._check(lib.tqmovie_set_parallel(n))

    @staticmethod
    def set_rate_limit(per_second: float, burst: int = 1) -> None:
        """The process's request budget, shared by every client: at most per_second
        requests a second, burst at once (0: off). Requests wait for it."""
        burst = _lib.in_range(_lib.c_uint32, "burst", burst)
        st = _lib.lib().tqmovie_set_rate_limit(float(per_second), burst)
        if st:
            raise ValueError(f"per_second must be from 0 to 1000000, not {per_second}")

    def cancel(self) -> None:
        """Ends the operation running on this client (from any thread); it raises
        :class:`CancelledError`. Dropped when no operation is running."""
        with self._ptr_lock:
            if self._ptr is not None:
                self._lib.tqmovie_cancel(self._ptr)

    # -- status --------------------------------------------------------------------

    @property
    def last_error(self) -> str:
        """The text of the last error ("" when the last operation set none)."""
        with self._current() as lib:
            return _str(lib.tqmovie_last_error())

    @property
    def last_http_code(self) -> int:
        """The HTTP status of the last request; 0 when there was none (or the cache answered)."""
        with self._current() as lib:
            return int(lib.tqmovie_last_http_code())

    def response_header(self, name: str) -> Optional[str]:
        """A header of the last request's final response (case-insensitive name), or None."""
        with self._current() as lib:
            value = lib.tqmovie_last_response_header(_text(name))
            return None if value is None else _str(value)

    # -- lookups -------------------------------------------------------------------

    def is_movie(self, imdb_id: str) -> bool:
        """Whether the service says the title is a film."""
        flag, text = ctypes.c_int32(0), _text(imdb_id)

        def body(lib: Any) -> bool:
            self._check(lib.tqmovie_is_movie(text, ctypes.byref(flag)), lookup=True)
            return bool(flag.value)
        return self._call(body)

    def basic(self, imdb_id: str, language: Optional[str] = None) -> Basic:
        """One title's basic record (language None: "en-US"), from the cache when fresh.
        A title the service does not have raises :class:`NotFoundError`."""
        text, lang = _text(imdb_id), _opt(language)
        return self._call(lambda lib: self._single(Basic, lib.tqmovie_get_basic(text, lang)))

    def detail(self, imdb_id: str, language: Optional[str] = None, sections: int = Section.ALL) -> Detail:
        """One title's detail record with the sections asked for, from the cache when
        fresh. A title the service does not have raises :class:`NotFoundError`."""
        mask = _lib.in_range(_lib.c_uint32, "sections", sections)
        text, lang = _text(imdb_id), _opt(language)
        return self._call(lambda lib: self._single(Detail, lib.tqmovie_get_detail(text, lang, mask)))

    def basics(self, ids: Iterable[str]) -> Batch[Basic]:
        """Basic records of many titles, in the order the service sends them, as a
        :class:`Batch` (a list whose ``missing`` names the ids no record answers). On
        failure the error's ``partial`` holds the records of the chunks done before,
        and its ``missing`` the ids of those chunks that no record answers."""
        arr = _ids(ids)
        return cast(Batch[Basic], self._call(lambda lib: self._batch(Basic, lib.tqmovie_get_basics(arr, len(arr)), True)))

    def details(self, ids: Iterable[str], sections: int = Section.ALL) -> Batch[Detail]:
        """Detail records of many titles; as :meth:`basics`."""
        mask = _lib.in_range(_lib.c_int32, "sections", sections)
        arr = _ids(ids)
        return cast(Batch[Detail], self._call(
            lambda lib: self._batch(Detail, lib.tqmovie_get_details(arr, len(arr), None, mask), True)))

    def scan(self, paths: Iterable[Union[str, "os.PathLike[str]"]], *, details: bool = False,
             chunk: int = 240) -> Iterator["ScanResult"]:
        """Walks folders (or takes files) for media files, finds each one's id with
        :func:`tqmovie.id_for_file` and looks the distinct ids up in batches of chunk
        ids (basic records, or detail records with details=True), yielding one
        :class:`ScanResult` per file as its batch is answered. Hidden entries are
        skipped and no folder is walked twice."""
        from .ids import id_for_file
        files: List[Tuple[str, Optional[str], Optional[str]]] = []
        for path in _media_files(paths):
            files.append((path,) + id_for_file(path))
        for start in range(0, len(files), chunk):
            part = files[start:start + chunk]
            wanted = sorted({i for _, i, _ in part if i})
            records = {r.imdb_id: r for r in (self.details(wanted) if details else self.basics(wanted))} \
                if wanted else {}
            for path, imdb_id, source in part:
                yield ScanResult(path, imdb_id, source, records.get(imdb_id) if imdb_id else None)

    def translations(self, ids: Iterable[str], language: Optional[str] = None,
                     region: Optional[str] = None) -> List[Translations]:
        """Translations of many titles in one request (language None: "zh", region None: "CN")."""
        arr, lang, reg = _ids(ids), _opt(language), _opt(region)
        return self._call(lambda lib: self._batch(Translations, lib.tqmovie_get_translations(arr, len(arr), lang, reg)))

    # -- cache ---------------------------------------------------------------------

    def cache_has(self, imdb_id: str) -> CacheState:
        """What the cache holds for one title."""
        basic, detail = ctypes.c_int32(0), ctypes.c_int32(0)
        with self._current() as lib:
            held = lib.tqmovie_cache_has(_text(imdb_id), ctypes.byref(basic), ctypes.byref(detail))
        return CacheState(bool(held), bool(basic.value), bool(detail.value))

    def cache_invalidate(self, imdb_id: str) -> None:
        """Drops one title from the cache."""
        with self._current() as lib:
            lib.tqmovie_cache_invalidate(_text(imdb_id))

    def cache_clear(self) -> None:
        """Drops every title from the cache."""
        with self._current() as lib:
            lib.tqmovie_cache_clear()

    @property
    def cache_limit(self) -> int:
        """Most titles the cache holds (0: no limit); over it the least recently used goes."""
        with self._current() as lib:
            return int(lib.tqmovie_cache_limit())

    @cache_limit.setter
    def cache_limit(self, max_titles: int) -> None:
        max_titles = _lib.in_range(_lib.c_uint64, "cache_limit", max_titles)
        with self._current() as lib:
            lib.tqmovie_cache_set_limit(max_titles)

    def set_cache_lifetimes(self, basic_seconds: int, detail_seconds: int) -> None:
        """How long cached records stay fresh (0 or less: forever; both 0: the
        defaults, 86400 and 21600)."""
        basic_seconds = _lib.in_range(_lib.c_int32, "basic_seconds", basic_seconds)
        detail_seconds = _lib.in_range(_lib.c_int32, "detail_seconds", detail_seconds)
        with self._current() as lib:
            lib.tqmovie_cache_set_ttl(basic_seconds, detail_seconds)

    def cache_save(self, path: PathLike) -> None:
        """Writes the cache to a file (atomically: the old file or the new one, never a torn one)."""
        with self._current() as lib:
            self._check(lib.tqmovie_cache_save(_path(path)))

    def cache_load(self, path: PathLike) -> None:
        """Replaces the cache with a saved one; on failure nothing changes."""
        with self._current() as lib:
            self._check(lib.tqmovie_cache_load(_path(path)))

    def store_read_all(self) -> None:
        """Takes every record the store holds for this client's service into the cache
        (with a cache file, how titles move from a store to a file)."""
        with self._current() as lib:
            self._check(lib.tqmovie_store_read_all())

    def store_write_all(self) -> None:
        """Writes the whole cache to the store (after :meth:`cache_load`, how titles
        move from a file to a store)."""
        with self._current() as lib:
            self._check(lib.tqmovie_store_write_all())
