# SPDX-License-Identifier: MIT
"""Status codes become exceptions that carry the code and the library's text."""
from __future__ import annotations

import pytest

import tqmovie
from tqmovie import Client, Fixtures, Response, Status
from conftest import FIXTURES, SHAWSHANK, Scripted


def basic(c):
    return c.basic("tt0111161")


@pytest.mark.parametrize("backend, call, exc, code, text", [
    (tqmovie.Stub(), basic, tqmovie.TransportError, Status.TRANSPORT,
     "transport: stub IO: not implemented (plug in platform backend)"),
    (Scripted(Response(503, "busy")), basic, tqmovie.HTTPError, Status.HTTP, "HTTP 503"),
    (Scripted(Response(200, "garbage")), basic, tqmovie.ParseError, Status.PARSE, "yyjson parse failed"),
    (Scripted(Response(200, "null")), basic, tqmovie.EmptyError, Status.EMPTY, ""),
    (Fixtures(FIXTURES), lambda c: c.basic(""), tqmovie.ArgumentError, Status.ARG, "imdb_id required"),
    (Fixtures(FIXTURES), lambda c: c.basics([]), tqmovie.ArgumentError, Status.ARG, "ids required"),
    (None, basic, tqmovie.NoBackendError, Status.NO_IO, "no IO backend set"),
    (Fixtures(FIXTURES), lambda c: c.cache_load("/nonexistent/c.json"), tqmovie.FileError, Status.FILE,
     "cache file /nonexistent/c.json: "),
])
def test_status_maps_to_its_exception(backend, call, exc, code, text):
    with Client(backend) as c:
        with pytest.raises(exc) as info:
            call(c)
        assert type(info.value) is exc and info.value.code == code and isinstance(info.value, tqmovie.Error)
        assert info.value.text.startswith(text) and (text == "" or str(info.value).startswith(text))
        assert c.last_error == info.value.text
        assert info.value.http_code == c.last_http_code == getattr(backend, "answers", [Response(0)])[0].status


def test_codes_without_text_or_class():
    assert str(tqmovie.OutOfMemoryError(8)) == "out of memory"
    unknown = tqmovie.errors.error_for(42, "new")
    assert type(unknown) is tqmovie.Error and unknown.code == 42 and str(unknown) == "new"


def test_batch_failure_keeps_earlier_chunks():
    with Client(Scripted(Response(200, f"[{SHAWSHANK}]"), Response(500, ""))) as c:
        c.batch_ceiling = 1
        with pytest.raises(tqmovie.HTTPError) as info:
            c.basics(["tt0111161", "tt0068646"])
        assert [b.imdb_id for b in info.value.partial] == ["tt0111161"]


def test_texts_with_nul_are_refused(client):
    with pytest.raises(ValueError, match="NUL"):
        client.basic("tt0111161\0tt0068646")
    with pytest.raises(ValueError, match="NUL"):
        client.cache_save("a\0b")
