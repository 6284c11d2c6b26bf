# SPDX-License-Identifier: MIT
"""Not found with every backend, the ids a batch missed, the request log, language fallback."""
import logging

import pytest

import tqmovie
from tqmovie import HTTP, Client, Fixtures, Response
from conftest import FIXTURES, SHAWSHANK, Scripted, requests_served


@pytest.mark.parametrize("backend, code, text", [
    ("fixtures", tqmovie.Status.TRANSPORT, "transport: fake: "),
    ("stand-in", tqmovie.Status.HTTP, "HTTP 404"),
    ("python", tqmovie.Status.HTTP, "HTTP 404"),
], ids=["fixtures", "stand-in", "python"])
def test_not_found_is_one_class(standin, backend, code, text):
    make = {"fixtures": lambda: Client(Fixtures(FIXTURES)),
            "stand-in": lambda: Client(HTTP(proxy=""), host=standin()),
            "python": lambda: Client(Scripted(Response(404, "")))}[backend]
    with make() as c:
        for lookup in [c.basic, c.detail] + ([c.is_movie] if backend == "python" else []):
            with pytest.raises(tqmovie.NotFoundError) as info:
                lookup("tt0000001")
            assert info.value.code == code and info.value.text.startswith(text)
            assert not isinstance(info.value, (tqmovie.HTTPError, tqmovie.TransportError))


def test_missing_ids(client):
    got = client.basics(["tt0111161", "tt0000001", "TT0068646", "tt0000001", "tt0000002"])
    assert got.missing == ("tt0000001", "TT0068646", "tt0000002")  # asked order, once, exact
    assert client.details(["tt0111161", "tt0068646"]).missing == ()
    with Client(Scripted(Response(200, f"[{SHAWSHANK}]"), Response(500, ""))) as c:
        c.batch_ceiling = 2
        with pytest.raises(tqmovie.HTTPError) as info:  # the second chunk fails: its ids are not called missing
            c.basics(["tt0111161", "tt0000001", "tt0000002"])
        assert info.value.missing == ("tt0000001",)


def test_request_log(standin, caplog):
    caplog.set_level(logging.DEBUG, logger="tqmovie")
    host = standin("--unavailable-first", "1")
    with Client(HTTP(proxy=""), host=host) as c:
        c.set_retry(1, 10)
        c.basic("tt0111161")  # 503, then the answer
        c.basic("tt0111161")  # the memory cache
        c.detail("tt0068646")  # a fresh answer at once
    events = [r.tqmovie for r in caplog.records if r.name == "tqmovie"]
    assert [(e.source, e.attempt, e.status, e.http_code) for e in events] == \
        [("service", 1, 2, 503), ("service", 2, 0, 200), ("memory", 0, 0, 0), ("service", 1, 0, 200)]
    answer = events[1]
    assert answer.method == "GET" and answer.url.startswith(host + "/api/AAA/GetMovieBasic?imdbId=tt0111161")
    assert answer.bytes_sent > 0 and answer.bytes_received > 0 and events[2].imdb_id == "tt0111161"
    assert caplog.records[1].levelno == logging.DEBUG and "HTTP 200" in caplog.records[1].getMessage()


def test_language_fallback(standin):
    host = standin("--synthetic")  # de-DE records have an empty plot
    with Client(HTTP(proxy=""), host=host, language_fallback="pt-BR,en-US") as c:
        d = c.detail("tt1234560", language="de-DE")
        assert d.plot == "Plot of tt1234560 in pt-BR" and d.title == "Synthetic Title 1234560"
        assert (d.languages["plot"], d.languages["title"]) == ("pt-BR", "de-DE") and requests_served(host) == 2
        b = c.basic("tt1234560", language="en-US")  # nothing missing: no other request
        assert set(b.languages.values()) == {"en-US"} and requests_served(host) == 3
        with pytest.raises(tqmovie.ArgumentError, match="bad language fallback"):
            c.language_fallback = ["en US"]
        assert c.language_fallback == ("pt-BR", "en-US")
        c.language_fallback = None
        assert c.detail("tt1234562", language="de-DE").plot in ("", None) and requests_served(host) == 4
