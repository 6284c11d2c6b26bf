# SPDX-License-Identifier: MIT
"""Backends: the ones shipped with the library, and :class:`Backend` for writing one
in Python.

A backend object only describes a backend; :meth:`Client.set_backend` makes the
library's table from it for that one client, so no two clients share a connection
pool or a callback.
"""
from __future__ import annotations

import ctypes
import dataclasses
import os
from typing import Any, Callable, Iterable, List, Mapping, Optional, Tuple, Union

from . import _lib

PathLike = Union[str, "os.PathLike[str]"]


class _Installed:
    """A backend table made for one client, with what must live as long as it does."""

    def __init__(self, io: _lib.TqIo, release: Optional[Callable[[], None]] = None, keep: Any = None) -> None:
        self.io = io
        self.release = release or (lambda: None)
        self.keep = keep  # ctypes callbacks: freed while installed, they would crash the library


class Fixtures:
    """Answers from a directory of canned JSON files (None: ``canned`` in the working
    directory). The library keeps one fixture directory for the whole process: the
    one given last, by any client, wins."""

    def __init__(self, directory: Optional[PathLike] = None) -> None:
        self.directory = directory

    def _install(self, client: int, sink: "Sink") -> _Installed:
        d = None if self.directory is None else _path(self.directory)
        return _Installed(_lib.lib().tolvane_io_fake(d))


class Stub:
    """Fails every request ("stub IO: not implemented (plug in platform backend)")."""

    def _install(self, client: int, sink: "Sink") -> _Installed:
        return _Installed(_lib.lib().tolvane_io_stub())


class HTTP:
    """Real HTTP(S) over libcurl, one kept connection pool per client.

    Every option left ``None`` takes the library's default: connect timeout 10 s,
    total timeout 120 s, no low-speed abort, a body limit of 256 MiB (``UNLIMITED``
    for none), 30 redirects (0: none followed), the proxy from the environment (""
    for none), the system's CAs, the user agent "tqmovie/0.1 (tolvane)".
    """

    UNLIMITED = 2**64 - 1

    def __init__(
        self,
        *,
        connect_timeout_ms: Optional[int] = None,
        timeout_ms: Optional[int] = None,
        low_speed_bytes: Optional[int] = None,
        low_speed_seconds: Optional[int] = None,
        max_body_bytes: Optional[int] = None,
        max_redirects: Optional[int] = None,
        compression: bool = True,
        proxy: Optional[str] = None,
        ca_file: Optional[PathLike] = None,
        ca_path: Optional[PathLike] = None,
        user_agent: Optional[str] = None,
    ) -> None:
        self.connect_timeout_ms = connect_timeout_ms
        self.timeout_ms = timeout_ms
        self.low_speed_bytes = low_speed_bytes
        self.low_speed_seconds = low_speed_seconds
        self.max_body_bytes = max_body_bytes
        self.max_redirects = max_redirects
        self.compression = compression
        self.proxy = proxy
        self.ca_file = ca_file
        self.ca_path = ca_path
        self.user_agent = user_agent
        self._options()  # an option out of range raises here rather than at set_backend

    def _options(self) -> _lib.HttpOptions:
        # Zeroed with our own size rather than filled by tqmovie_http_options_init,
        # which writes the loaded library's size: a newer library's larger struct
        # would overrun ours. Zero reads as every default.
        o = _lib.HttpOptions()
        o.size = ctypes.sizeof(o)
        for name, ctype in (("connect_timeout_ms", _lib.c_int64), ("timeout_ms", _lib.c_int64),
                            ("low_speed_bytes", _lib.c_int64), ("low_speed_seconds", _lib.c_int64),
                            ("max_body_bytes", _lib.c_uint64), ("max_redirects", _lib.c_int32)):
            value = getattr(self, name)
            setattr(o, name, 0 if value is None else _lib.in_range(ctype, name, value))
        o.max_redirects = 0 if self.max_redirects is None else (o.max_redirects or -1)
        o.no_compression = 0 if self.compression else 1
        o.proxy = None if self.proxy is None else _text(self.proxy)
        o.ca_file = None if self.ca_file is None else _path(self.ca_file)
        o.ca_path = None if self.ca_path is None else _path(self.ca_path)
        o.user_agent = None if self.user_agent is None else _text(self.user_agent)
        return o

    def _install(self, client: int, sink: "Sink") -> _Installed:
        from .errors import NoBackendError

        lib = _lib.lib()
        options = self._options()
        io = lib.tolvane_io_curl_pooled(ctypes.byref(options))
        if not io.get:
            raise NoBackendError(7, "the pooled HTTP backend could not be made (out of memory, or libcurl refused an option)")

        def release() -> None:
            lib.tolvane_io_curl_pooled_free(ctypes.byref(io))

        return _Installed(io, release)


@dataclasses.dataclass(frozen=True)
class Response:
    """What a Python backend answers: the HTTP status, the body (None: no body; a str
    is sent as UTF-8) and the response headers (a mapping or name/value pairs)."""

    status: int = 200
    body: Union[bytes, str, None] = b""
    headers: Union[Mapping[str, str], Iterable[Tuple[str, str]]] = ()

    def __post_init__(self) -> None:
        _lib.in_range(_lib.c_int32, "status", self.status)


class Request:
    """One request the library makes of a Python backend."""

    __slots__ = ("method", "url", "body", "content_type", "_client")

    def __init__(self, method: str, url: str, body: Optional[bytes], content_type: Optional[str], client: int) -> None:
        self.method = method  # "GET" or "POST"
        self.url = url
        self.body = body  # the POST body (comma-joined ids)
        self.content_type = content_type
        self._client = client

    def cancelled(self) -> bool:
        """True once the operation has been cancelled: give up by raising. False
        after the request has been answered."""
        return bool(self._client) and bool(_lib.lib().tqmovie_io_cancelled(self._client))

    def __repr__(self) -> str:
        return f"Request({self.method} {self.url})"


class Sink:
    """Exceptions raised inside callbacks, held until the library call returns (an
    exception must never unwind through C)."""

    def __init__(self) -> None:
        self.reraise: Optional[BaseException] = None  # raised as it is afterwards
        self.cause: Optional[BaseException] = None  # becomes the library error's __cause__

    def take(self) -> Tuple[Optional[BaseException], Optional[BaseException]]:
        out = (self.reraise, self.cause)
        self.reraise = self.cause = None
        return out


class Backend:
    """Base class of a backend written in Python.

    Override :meth:`get` and, for batch lookups, :meth:`post`; a method left alone
    makes the requests that need it fail with :class:`NoBackendError`. A method
    returns a :class:`Response` whatever the HTTP status; raising any exception
    reports a transport failure whose text is the exception's (it becomes the
    :class:`TransportError`'s ``__cause__``). ``request.cancelled()`` tells a long
    request to give up. The methods run on the thread of the lookup, which holds
    the client: calling the client's other methods from them is allowed, starting
    a lookup on it is not.
    """

    def get(self, request: Request) -> Response:
        raise NotImplementedError

    def post(self, request: Request) -> Response:
        raise NotImplementedError

    def _install(self, client: int, sink: Sink) -> _Installed:
        lib = _lib.lib()

        def serve(method: str, url: bytes, body: Optional[bytes], ctype: Optional[bytes], out_body: Any,
                  out_status: Any, out_err: Any) -> int:
            req: Optional[Request] = None
            try:
                req = Request(method, _str(url), body, None if ctype is None else _str(ctype), client)
                resp = (self.get if method == "GET" else self.post)(req)
                if not isinstance(resp, Response):
                    raise TypeError(f"{type(self).__name__}.{method.lower()} returned {type(resp).__name__}, not Response")
                out_status[0] = resp.status
                items = resp.headers.items() if isinstance(resp.headers, Mapping) else resp.headers
                for name, value in items:
                    lib.tqmovie_io_header(client, _text(name), _text(value))
                if resp.body is not None:
                    data = resp.body.encode() if isinstance(resp.body, str) else bytes(resp.body)
                    out_body[0] = _lib.malloc_text(data)
                    if not out_body[0]:
                        raise MemoryError("no memory for the response body")
                return 0
            except BaseException as exc:  # noqa: B902 - nothing may unwind into C
                if isinstance(exc, Exception):
                    sink.cause = exc
                else:
                    sink.reraise = exc  # KeyboardInterrupt, SystemExit: raised again afterwards
                out_err[0] = _lib.malloc_text(f"{type(exc).__name__}: {exc}".encode(errors="replace"))
                return 1
            finally:
                if req is not None:
                    req._client = 0  # a request kept after its answer must not reach a freed client

        keep: List[Any] = []
        io = _lib.TqIo()
        if type(self).get is not Backend.get:
            keep.append(_lib.GET_FN(lambda _ctx, url, b, s, e: serve("GET", url, None, None, b, s, e)))
            io.get = ctypes.cast(keep[-1], ctypes.c_void_p)
        if type(self).post is not Backend.post:
            keep.append(_lib.POST_FN(lambda _ctx, url, rb, ct, b, s, e: serve("POST", url, rb, ct, b, s, e)))
            io.post = ctypes.cast(keep[-1], ctypes.c_void_p)
        return _Installed(io, keep=keep)  # free entry NULL: the library frees with free()


AnyBackend = Union[Fixtures, HTTP, Stub, Backend]


def _text(s: str) -> bytes:
    """s as a C text; a NUL inside would silently cut it, so it is refused."""
    b = s.encode()
    if b"\0" in b:
        raise ValueError(f"text holds a NUL character: {s!r}")
    return b


def _path(p: PathLike) -> bytes:
    """A file name as a C text; refused when it holds a NUL."""
    b = os.fsencode(p)
    if b"\0" in b:
        raise ValueError(f"path holds a NUL character: {p!r}")
    return b


def _str(b: bytes) -> str:
    return b.decode("utf-8", "replace")
