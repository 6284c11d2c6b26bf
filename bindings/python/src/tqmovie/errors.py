# SPDX-License-Identifier: MIT
"""Exceptions: one class per library status code, all derived from :class:`Error`."""
from __future__ import annotations

import enum
from typing import Any, Dict, Sequence, Tuple, Type


class Status(enum.IntEnum):
    """The library's status codes."""

    OK = 0
    TRANSPORT = 1
    HTTP = 2
    PARSE = 3
    EMPTY = 4
    ARG = 6
    NO_IO = 7
    NOMEM = 8
    CANCELLED = 9
    FILE = 10


class Error(Exception):
    """A failed library operation.

    Attributes:
        code: the status code (a :class:`Status` when this package knows it).
        text: the library's error text ("" when it gave none, as for out of memory).
        http_code: the HTTP status of the last request, 0 when there was none.
        partial: records of a batch's chunks that completed before the failure.
        missing: for a basic or detail batch, the ids of the chunks answered before the
            failure that no record answers (see :class:`tqmovie.Batch`); else ().
    """

    code: int = -1

    def __init__(self, code: int, text: str = "", http_code: int = 0, partial: Sequence[Any] = ()) -> None:
        super().__init__(code, text)
        try:
            self.code = Status(code)
        except ValueError:
            self.code = code
        self.text = text
        self.http_code = http_code
        self.partial = tuple(partial)
        self.missing: Tuple[str, ...] = ()

    def __str__(self) -> str:
        if self.text:
            return self.text
        return "out of memory" if self.code == Status.NOMEM else f"status {int(self.code)}"


class TransportError(Error):
    """The backend could not complete the exchange ("transport: ...")."""


class HTTPError(Error):
    """The service answered with an HTTP status outside 200..299 ("HTTP 404")."""


class NotFoundError(Error):
    """The service has no such title: a single-title lookup or a probe was answered 404,
    whatever the backend (the HTTP backends' HTTP 404, the fixture backend's missing
    file, a Python backend's ``Response(404)``). ``code`` and ``text`` stay the
    library's (``Status.HTTP`` "HTTP 404", ``Status.TRANSPORT`` "transport: fake:
    detail not found"); it derives from :class:`Error` only, so ``except HTTPError``
    and ``except TransportError`` no longer see a missing title."""


class ParseError(Error):
    """The answer is not what the operation expects."""


class EmptyError(Error):
    """The answer holds no body or no usable record."""


class ArgumentError(Error):
    """A required argument is missing ("imdb_id required", "ids required")."""


class NoBackendError(Error):
    """No backend is installed, or it lacks the entry a request needs."""


class OutOfMemoryError(Error):
    """The library ran out of memory."""


class CancelledError(Error):
    """The operation was cancelled (:meth:`Client.cancel` or the progress callable)."""


class FileError(Error):
    """A cache file could not be opened, read or written."""


_BY_CODE: Dict[int, Type[Error]] = {
    Status.TRANSPORT: TransportError,
    Status.HTTP: HTTPError,
    Status.PARSE: ParseError,
    Status.EMPTY: EmptyError,
    Status.ARG: ArgumentError,
    Status.NO_IO: NoBackendError,
    Status.NOMEM: OutOfMemoryError,
    Status.CANCELLED: CancelledError,
    Status.FILE: FileError,
}


def error_for(code: int, text: str = "", http_code: int = 0, partial: Sequence[Any] = ()) -> Error:
    """The exception for a status code; codes this package does not know give :class:`Error`."""
    return _BY_CODE.get(code, Error)(code, text, http_code, partial)
