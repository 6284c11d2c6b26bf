# SPDX-License-Identifier: MIT
"""Lookups, records, cache, the shipped backends and loading the library."""
from __future__ import annotations

import http.server
import json
import os
import re
import subprocess
import sys
import threading
from dataclasses import FrozenInstanceError, fields

import pytest

import tqmovie
from tqmovie import Client, Fixtures, Section, Stub
from conftest import FIXTURES, SHAWSHANK


def test_records_map_the_export(client):
    d = client.detail("tt0111161")
    assert (d.title, d.start_year, d.end_year, d.runtime, d.is_tv, d.imdb_rating) == \
        ("The Shawshank Redemption", 1994, None, 142, False, 9.3)
    assert (d.cast[1].name, d.cast[1].role, d.pictures[2].language, d.related[0]) == \
        ("Morgan Freeman", "Ellis Boyd 'Red' Redding", None, "tt0068646")
    assert d.providers[0] == tqmovie.Provider("US", "8", "Tolvane Stream",
                                              "https://img.tolvane.example/providers/8.png", "flatrate", 1)
    b = client.basic("tt0111161", language="en-US")
    assert (b.year, b.is_tv, b.directors) == (1994, False, ("Frank Darabont",))
    assert [r.source for r in b.ratings] == ["imDb", "metacritic", "theMovieDb", "rottenTomatoes"]
    with pytest.raises(FrozenInstanceError):
        b.title = "x"  # type: ignore[misc]
    assert not client.detail("tt0903747", sections=Section.CAST).pictures


def test_every_exported_member_has_a_field(client, tmp_path):
    # The cache file holds records in the complete export form: every member it
    # writes must land in a field, and every field must name a member.
    client.detail("tt0111161")
    client.basic("tt0111161")
    client.cache_save(tmp_path / "c.json")
    entry = json.loads((tmp_path / "c.json").read_text())["entries"][0]
    d = entry["detail"]
    for obj, cls in [(entry["basic"], tqmovie.Basic), (d, tqmovie.Detail), (d["casts"][0], tqmovie.CastMember),
                     (d["pictures"][0], tqmovie.Picture), (d["watchProviders"][0], tqmovie.Provider),
                     (d["videos"][0], tqmovie.Video)]:
        keys = {f.metadata["key"] for f in fields(cls)} - {None}  # None: not from the export (languages)
        assert set(obj) <= keys and keys - set(obj) <= {"endYear"}, cls  # a film has no end year


def test_batches_and_probe(client):
    client.batch_ceiling = 1
    assert client.batch_ceiling == 1
    assert [d.imdb_id for d in client.details(["tt0068646", "tt0903747"])] == ["tt0068646", "tt0903747"]
    assert [b.title for b in client.basics(["tt0111161"])][:2] == ["The Shawshank Redemption", "The Godfather"]
    (t,) = [t for t in client.translations(["tt0111161"], "de", "DE") if t.imdb_id == "tt0111161"]
    assert t.items[1].title == "Die Verurteilten" and t.items[1].lang == "de"
    assert client.is_movie("tt0111161") and not client.is_movie("tt9999999")


def test_cache(client, tmp_path):
    client.basic("tt0111161")
    assert client.cache_has("tt0111161") == tqmovie.CacheState(True, True, False)
    client.cache_invalidate("tt0111161")
    assert not client.cache_has("tt0111161").held
    client.cache_limit = 2
    for i in ("tt0111161", "tt0068646", "tt0468569"):
        client.basic(i)
    assert client.cache_limit == 2 and not client.cache_has("tt0111161").held
    path = tmp_path / "c.json"
    client.cache_save(path)
    client.cache_clear()
    assert not client.cache_has("tt0468569").held
    doc = json.loads(path.read_text())
    (old,) = [e for e in doc["entries"] if e["imdbId"] == "tt0068646"]
    old["basicAt"] -= 10 * 86400  # ten days old
    path.write_text(json.dumps(doc))
    with Client(Stub()) as other:  # every request would fail: the loaded cache answers
        other.cache_load(path)
        assert other.basic("tt0468569").title == "The Dark Knight"
        assert not other.cache_has("tt0068646").basic_fresh
        other.set_cache_lifetimes(-1, -1)
        assert other.cache_has("tt0068646").basic_fresh


class _Service(http.server.BaseHTTPRequestHandler):
    agents: list = []

    def do_GET(self):  # noqa: N802
        self.agents.append(self.headers["User-Agent"])
        self.send_response(200)
        self.send_header("ETag", '"v1"')
        self.end_headers()
        self.wfile.write(SHAWSHANK.encode())

    def log_message(self, *args):
        pass


def test_pooled_http_backend_and_its_options():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Service)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    host = f"http://127.0.0.1:{server.server_address[1]}"
    with server, Client(tqmovie.HTTP(user_agent="tq-py-test", timeout_ms=10000, proxy=""), host=host) as c:
        assert c.basic("tt0111161").title == "The Shawshank Redemption"
        assert (c.last_http_code, c.response_header("etag"), c.response_header("X-None")) == (200, '"v1"', None)
        assert _Service.agents == ["tq-py-test"]
        c.set_backend(tqmovie.HTTP(max_body_bytes=10, proxy=""))
        with pytest.raises(tqmovie.TransportError, match="over the limit of 10 bytes"):
            c.basic("tt0068646")
        server.shutdown()


class _Batches(http.server.BaseHTTPRequestHandler):
    """A detail batch answered with one record per id asked for."""

    def do_POST(self):  # noqa: N802
        ids = self.rfile.read(int(self.headers["Content-Length"])).decode().split(",")
        body = json.dumps([{"imDbId": i, "title": "Title " + i} for i in ids]).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def test_parallel_chunks_and_the_request_budget():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Batches)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    host = f"http://127.0.0.1:{server.server_address[1]}"
    ids = [f"tt{1000000 + i}" for i in range(50)]
    with server, Client(tqmovie.HTTP(proxy=""), host=host) as c:
        c.batch_ceiling = 4
        one = [d.title for d in c.details(ids)]
        c.set_parallel(8)
        Client.set_rate_limit(1000, 10)
        assert [d.title for d in c.details(ids)] == one == ["Title " + i for i in ids]
        Client.set_rate_limit(0)
        with pytest.raises(tqmovie.ArgumentError, match="parallel must be from 0 to 64"):
            c.set_parallel(65)
        with pytest.raises(ValueError):
            Client.set_rate_limit(-1)
        server.shutdown()


def _version_with(library):
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    env["TQMOVIE_LIBRARY"] = library
    code = "import tqmovie; print(tqmovie.library_version())"
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)


def test_close_and_loading():
    c = Client(Fixtures(FIXTURES))
    c.close()
    c.close()
    assert c.closed
    with pytest.raises(ValueError, match="closed"):
        c.basic("tt0111161")
    c.cancel()  # harmless on a closed client
    assert re.fullmatch(r"0\.\d+\.\d+", tqmovie.library_version())
    with open("/proc/self/maps") as maps:  # the file the loader found for this process
        path = next(line.split()[-1] for line in maps if "libtolvane-kelvora-dorvik-movie-client" in line)
    assert _version_with(path).stdout.strip() == tqmovie.library_version()
    missing = _version_with("/nonexistent/libtqmovie.so")
    assert missing.returncode != 0 and "TQMOVIE_LIBRARY" in missing.stderr
